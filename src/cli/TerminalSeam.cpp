#include "cli/TerminalSeam.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "midi/MidiTime.h"

TerminalSeam::TerminalSeam(Status status) : status_(status), terminal_(status != Status::None && isatty(STDERR_FILENO))
{
}

TerminalSeam::~TerminalSeam()
{
    endStatusLine();
}

void TerminalSeam::takeAnalysed(const NoteSequence& notes)
{
    if (keepAnalysed && notes.raw)
        analysed = copyRawTrack(*notes.raw);
}

void TerminalSeam::setNoteLabel(const std::string& text)
{
    ControlPanel::setNoteLabel(text);
    if (status_ != Status::TimeAndNote)
        return;
    // The note's name is two characters wide (" C5", "C#5").
    const std::string note = !text.empty() && text[0] == ' ' ? text.substr(1) : text;
    show(timeLabel + "  " + note);
}

void TerminalSeam::followInEditor(int32_t ticks)
{
    if (status_ == Status::PlayPosition && ticks >= 0)
        show(formatBarBeatTick(ticks, songSettings.tpqn, songSettings.meterNum, songSettings.meterDen, 1));
}

void TerminalSeam::show(const std::string& text)
{
    if (!terminal_ || text == shown_)
        return;
    // Padded over what was shown before.
    std::fprintf(stderr, "\r%-*s", static_cast<int>(std::max(text.size(), shown_.size())), text.c_str());
    std::fflush(stderr);
    shown_ = text;
}

void TerminalSeam::endStatusLine()
{
    if (terminal_ && !shown_.empty())
        std::fputc('\n', stderr);
    shown_.clear();
}

TerminalNotifier::TerminalNotifier()
{
    setUserNotifier(this);
}

TerminalNotifier::~TerminalNotifier()
{
    setUserNotifier(nullptr);
}

MessageAnswer TerminalNotifier::show(const std::string& text, const std::string&, MessageIcon icon,
                                     MessageButtons buttons)
{
    if (icon == MessageIcon::Error) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (firstError_.empty())
            firstError_ = text;
    }
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

std::string TerminalNotifier::firstError()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return firstError_;
}
