#pragma once
// The main window's controls for a terminal: what the conversion controller drives when the
// command line runs a take or a playback. On a terminal one status line on stderr shows the
// take's time and sung note ("00:01:23  C#5"), or the play position as bar:beat:tick.
// Message boxes become a line of text that the command reports.

#include <mutex>
#include <string>
#include <vector>

#include "app/ControlPanel.h"
#include "cli/JsonReport.h"
#include "platform/UserNotifier.h"

class TerminalSeam : public ControlPanel {
public:
    enum class Status { None, TimeAndNote, PlayPosition };

    explicit TerminalSeam(Status status);
    ~TerminalSeam() override;

    // The take's raw track as analysed is kept for the JSON report when asked for.
    bool keepAnalysed = false;
    std::vector<RawFrameCopy> analysed;
    // Playback of the notes as a ringtone.
    bool ringtone = false;

    bool exportListenFromRingtonePage() const override { return ringtone; }
    void takeAnalysed(const NoteSequence& notes) override;
    void setNoteLabel(const std::string& text) override;
    void followInEditor(int32_t ticks) override;

    // Ends the status line, so that what follows starts on a line of its own.
    void endStatusLine();

private:
    void show(const std::string& text);

    const Status status_;
    const bool terminal_;
    std::string shown_;
};

// Keeps the texts of the message boxes shown (from any thread) instead of printing them;
// questions are answered Yes.
class TerminalNotifier : public UserNotifier {
public:
    TerminalNotifier();
    ~TerminalNotifier() override;

    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override;
    // The first error shown, or empty.
    std::string firstError();

private:
    std::mutex mutex_;
    std::string firstError_;
};
