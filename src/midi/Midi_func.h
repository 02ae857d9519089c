#pragma once
// The program's one MIDI output: sequenced playback of the notes, the raw pitch track or
// the ringtone on a player thread, and the live short messages (channel set-up, patch,
// volume, audition notes, metronome clicks and the echo of the sung pitch).
//
// Three threads use it: the window thread (live messages, tempo, position, stop, close,
// and the MIDI echo of a file take), the wave-in driver thread (the MIDI echo of a
// microphone take) and one player thread at a time (play). The flags they share are
// atomics; the stream handle is used under a lock so that a position query or an echo
// can never meet a closing stream.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <variant>

#include "midi/MidiEvents.h"
#include "notes/Tv2m_data.h"
#include "platform/AutoResetEvent.h"
#include "platform/MessageTarget.h"
#include "platform/MidiStream.h"

class TPlayerThread;

// A failure of the MIDI output, carrying the device's error text.
class MidiDeviceError : public std::runtime_error {
public:
    explicit MidiDeviceError(const std::string& text) : std::runtime_error(text) {}
};

// What a playback plays: the note sequence for PlayNotes and PlayRingtone, the raw track
// for PlayRaw.
using PlayList = std::variant<std::monostate, const NoteSequence*, const RawTrack*>;

// How far the echo's bend moves toward its target, by tenths of a semitone of distance.
inline constexpr float kEchoBendCurve[10] = {0.0f, 0.013f, 0.055f, 0.148f, 0.307f,
                                             0.5f, 0.7065f, 0.847f, 0.932f, 0.98f};

constexpr uint8_t kPercussionChannel = 9;
constexpr uint8_t kEchoVelocity = 105;

// How long the last notes of a playback that ends by itself may ring before the reset
// silences every channel: the release of a piano note, in microseconds of stream time.
constexpr int64_t kReleaseTailUs = 1000000;

// Words in each of the two stream buffers of a playback.
constexpr int32_t kStreamBufferWords = 32768;

// One of the two buffers a playback streams through.
struct MidiStreamBuffer {
    uint32_t* words = nullptr;
    MidiHeader header{};
    int32_t unsent = 0; // words loaded and not yet sent
};

class MidiOut {
public:
    std::atomic<TPlayerThread*> playerThread{nullptr};
    std::atomic<MidiStream*> stream{nullptr};
    MessageTarget* notifyWindow = nullptr;
    NoteSequence* notes = nullptr;
    RingtoneSettings* ringtone = nullptr;
    std::atomic<uint32_t> deviceId{0};
    std::atomic<float> echoNote{0.0f};
    std::atomic<bool> echoSounding{false};
    std::atomic<float> bendOffset{0.0f};
    std::atomic<int16_t> bendRange{0};
    std::atomic<float> bendUnitsPerSemitone{0.0f};
    std::atomic<uint8_t> playKind{0};
    std::atomic<float> msPerFrame{28.0f};
    std::atomic<double> ticksPerFrame{0.0};
    std::atomic<bool> isOpen{false};
    std::atomic<bool> isPlaying{false};
    std::atomic<bool> stopped{false};
    std::atomic<int32_t> usPerQuarter{0};
    std::atomic<uint8_t> channelPatch[16] = {};
    std::atomic<uint8_t> channelVolume[16];

    MidiOut();
    // Stops a playback, waits for its thread to leave, and closes.
    ~MidiOut();
    MidiOut(const MidiOut&) = delete;
    MidiOut& operator=(const MidiOut&) = delete;

    // Opens the stream for live use on `device` (kMidiMapper: "Auto") unless it is open,
    // and sets up the channels. Recomputes ticksPerFrame in every case. A failed open is
    // silent: the result is false and later messages are dropped.
    bool open(uint32_t device);
    void close();

    // Both return the value in force; a value that is not positive changes nothing.
    int32_t setTimeDivision(int32_t tpqn);
    // Returns microseconds per quarter note. The ringtone playback's tempo does not
    // become the song's tempo.
    int32_t setTempo(int32_t bpm);
    // Recomputes ticksPerFrame, and msPerFrame for the take's frame duration.
    void updateTicksPerFrame();
    // Channel set-up after every open: 0 for live use, else the play kind.
    void resetChannels(uint8_t kind);

    // The player thread's body: builds the event list, opens the stream, streams the list
    // through two alternating buffers until it has played or stop() ends it, lets the
    // last notes ring for kReleaseTailUs after a natural end (a stop() cuts them at once),
    // closes, and posts UM_MIDI_POSITION (-1, -1) to notifyWindow exactly once. A device
    // failure throws MidiDeviceError after that end.
    void play(const PlayList& list, PlayKind kind);
    // Marks a playback of `kind` as running before its player thread starts, so that a
    // stop() at any moment from now on ends it: one that comes before the player has
    // opened its stream makes the player end at once.
    void beginPlayback(TPlayerThread* player, PlayKind kind);
    // Ends a playback from another thread; the player then runs its end.
    void stop();
    // Ticks played by the current playback; 0 when nothing plays.
    int32_t position();

    // Live messages. A device failure throws MidiDeviceError on the calling thread.
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2);
    // target 0: the song's program; 1 and 2: the ringtone's first and second program.
    void setPatch(uint8_t channel, uint8_t program, int target);
    void setVolume(uint8_t channel, uint8_t volume);
    void setBendRange(uint8_t channel, int16_t semitones);
    void centreBend(uint8_t channel);
    void bendTo(float target, uint8_t channel);
    void echoNoteOn(float pitch, uint8_t velocity, uint8_t channel);
    void noteOff(uint8_t note, uint8_t velocity, uint8_t channel);
    // Sounds a note for the editor, opening the output when needed; velocity 0 ends it.
    void auditionNote(uint8_t note, uint8_t velocity, uint8_t channel);
    // One metronome click (a percussion note, no note off).
    void click(uint8_t note, uint8_t velocity, uint8_t channel);
    // Echoes the newest raw frame of the take after frame `frame` has been analysed.
    void echoFrame(int32_t frame);

private:
    // The take's frame duration, through `notes`; the nominal one without a take.
    FrameDuration frameDuration() const;
    void buildEvents(const PlayList& list, PlayKind kind, EventList& events);
    void streamEvents(const EventList& events, int32_t total, MidiStreamBuffer (&buffers)[2],
                      std::unique_lock<std::mutex>& gate);
    void openPlaybackStream(PlayKind kind);
    bool fillBuffer(MidiStreamBuffer& buffer, const EventList& events, int32_t total, int32_t& readPos);
    void waitForNotification(std::unique_lock<std::mutex>& gate);
    void letLastNotesRing(std::unique_lock<std::mutex>& gate);
    void finishPlayback(MidiStreamBuffer (&buffers)[2]);
    void postEnd();
    int32_t echoBend(float target);

    // Runs `call` on the open stream under the stream lock; kMidiErrInvalidHandle when closed.
    template <typename Call>
    MidiResult withStream(Call call);
    void closeStream();

    // Held by the player except while it waits for the stream, so that stop() finds it
    // at its wait and never between the wait and its test of `stopped`.
    std::mutex playerGate;
    // Set by stop(), cleared by beginPlayback(): a stop that came before the player.
    std::atomic<bool> stopRequested{false};
    // Guards the stream handle's lifetime.
    std::mutex streamLock;
    // Signalled by the stream for each notification of a playback.
    AutoResetEvent streamEvent;
    // Counts running plays, so that destruction waits for the player to leave.
    std::mutex playsLock;
    std::condition_variable playsEnded;
    int runningPlays = 0;
};
