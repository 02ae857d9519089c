#include "cli/TerminalSession.h"

#include <memory>

#include "audio/Wav_func.h"
#include "cli/ConvertJob.h"
#include "cli/InterruptWatch.h"
#include "platform/MidiStream.h"
#include "platform/WindowMessages.h"
#include "settings/My_registry.h"

namespace {

constexpr std::chrono::milliseconds kPumpWait{50};

} // namespace

TerminalSession::TerminalSession(TerminalSeam::Status status, WaveDriver& driver)
    : seam(status), controller(seam, seam, loop, driver)
{
    loop.setHandler(this);
}

void TerminalSession::chooseInput(bool microphone)
{
    if ((seam.lampLook(Lamp::Mic) == kLampOn) != microphone)
        controller.ibtn_MicClick();
}

std::string TerminalSession::convertFile(const std::string& path)
{
    chooseInput(false);
    chooseEcho(EchoNone);
    seam.takeFile = path;
    controller.ibtn_ConvertClick();
    if (controller.lastFileRefusal() != WaveRefusal::None)
        return describeWaveRefusal(controller.lastFileRefusal());
    return unsupportedFormatReason(controller.takeFormat());
}

void TerminalSession::chooseEcho(EchoMode echo)
{
    if (echo == EchoWave) {
        if (seam.lampLook(Lamp::Wave) != kLampOn)
            controller.ibtn_WAVEClick();
    } else if (echo == EchoMidi) {
        if (seam.lampLook(Lamp::Midi) != kLampOn)
            controller.ibtn_MIDIClick();
    } else {
        if (seam.lampLook(Lamp::Midi) == kLampOn)
            controller.ibtn_MIDIClick();
        if (seam.lampLook(Lamp::Wave) == kLampOn)
            controller.ibtn_WAVEClick();
    }
}

void TerminalSession::runUntilStopped(const std::function<bool()>& endNow)
{
    InterruptWatch interrupt;
    bool stopPressed = false;
    while (!controller.isStopped()) {
        if (!stopPressed && (interrupt.interrupted() || (endNow && endNow()))) {
            stopPressed = true;
            controller.ibtn_StopClick();
            continue;
        }
        loop.pumpOnce(kPumpWait);
    }
}

void TerminalSession::settle(std::chrono::milliseconds quiet)
{
    while (loop.pumpOnce(quiet)) {
    }
}

std::string TerminalSession::midiOutputProblem(int32_t entry)
{
    std::unique_ptr<MidiStream> stream;
    const MidiResult result = MidiStream::open(static_cast<uint32_t>(deviceIdFromIndex(entry)), {}, stream);
    return result == kMidiOk ? std::string() : midiErrorText(result);
}

void TerminalSession::handleMessage(const WindowMessage& message)
{
    if (message.msg == UM_POSITION && onTakePosition && controller.isAnalysing())
        onTakePosition(static_cast<int32_t>(static_cast<intptr_t>(message.wParam)));
    controller.handleMessage(message);
}

void TerminalSession::handleTimer(TimerId timer)
{
    controller.handleTimer(timer);
}
