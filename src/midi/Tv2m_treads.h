#pragma once
// The MIDI playback thread. A TPlayThread is created suspended, starts when resumed and
// deletes itself when its body returns; a thread that is never resumed is deleted by
// its creator.

#include <atomic>

#include "midi/Midi_func.h"

class TPlayThread {
public:
    TPlayThread();
    virtual ~TPlayThread();
    TPlayThread(const TPlayThread&) = delete;
    TPlayThread& operator=(const TPlayThread&) = delete;

    // Starts the body on its own thread; only the first call does anything. From then on
    // the thread owns the object.
    void resume();

    // Threads that have been resumed and not yet ended.
    static int running();

protected:
    virtual void Execute() = 0;

private:
    void run();

    std::atomic<bool> started{false};
};

// Plays one event list through a MidiOut. The controller records the thread in
// MidiOut.playerThread, fills the three values and resumes it.
class TPlayerThread : public TPlayThread {
public:
    MidiOut* midiOut = nullptr;
    PlayList list;
    PlayKind kind = PlayNotes;

protected:
    void Execute() override;
    // The playback body: plays `list` as `kind` on `out`; an error is shown to the user
    // in an "Error" box once the playback has ended.
    virtual void Play(MidiOut& out, const PlayList& list, PlayKind kind);
};
