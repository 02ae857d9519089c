#pragma once
// One run of the conversion controller from the command line: the terminal's controls, a
// message loop pumped on the calling thread, and the controller on the given wave driver.
// Ctrl-C is the Stop button.

#include <chrono>
#include <functional>
#include <string>

#include "app/ConversionController.h"
#include "cli/TerminalSeam.h"
#include "platform/MessageLoop.h"

class TerminalSession : public MessageHandler {
public:
    TerminalSession(TerminalSeam::Status status, WaveDriver& driver);

    // Chooses the input and the echo (or, for a playback, the playback type) with the
    // window's own buttons.
    void chooseInput(bool microphone);
    void chooseEcho(EchoMode echo);

    // Converts the WAV file `path` as a file take without echo; empty text, or why it
    // could not be converted.
    std::string convertFile(const std::string& path);

    // Pumps the loop until the controller has stopped. Ctrl-C, or `endNow` turning true,
    // presses Stop once.
    void runUntilStopped(const std::function<bool()>& endNow = {});
    // Handles what arrives within `quiet` of the last message: the buffers devices give
    // back after a stop, the end of a playback.
    void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));

    // Why MIDI output list entry `entry` cannot be opened; empty when it can.
    static std::string midiOutputProblem(int32_t entry);

    void handleMessage(const WindowMessage& message) override;
    void handleTimer(TimerId timer) override;

    TerminalNotifier notifier;
    TerminalSeam seam;
    PumpedMessageLoop loop;
    ConversionController controller;
    // Called on every position of a running take with the frames analysed so far.
    std::function<void(int32_t frames)> onTakePosition;
};
