#include "platform/MidiResult.h"

std::string midiErrorText(MidiResult result)
{
    switch (result) {
    case kMidiOk:
        return "The operation completed successfully.";
    case kMidiErrBadDeviceId:
        return "The MIDI output device does not exist (it may have been disconnected).";
    case kMidiErrInvalidHandle:
        return "The MIDI output is closed.";
    case kMidiErrNoMemory:
        return "There is not enough memory for the MIDI output.";
    case kMidiErrInvalidParam:
        return "A MIDI buffer or message is not valid.";
    case kMidiErrUnprepared:
        return "The MIDI buffer has not been prepared.";
    case kMidiErrStillPlaying:
        return "The MIDI buffer is still queued for playing.";
    case kMidiErrNoSoundfont:
        return "The built-in synthesiser has no General MIDI soundfont: install timgm6mb-soundfont "
               "(/usr/share/sounds/sf2/TimGM6mb.sf2).";
    case kMidiErrBadSoundfont:
        return "The built-in synthesiser cannot load its soundfont (/usr/share/sounds/sf2): reinstall "
               "timgm6mb-soundfont.";
    case kMidiErrNoSoundServer:
        return "The built-in synthesiser cannot play: no sound server (PulseAudio or PipeWire) is reachable.";
    case kMidiErrSynthFailed:
        return "The built-in synthesiser (FluidSynth) could not be started.";
    case kMidiErrSequencer:
        return "The ALSA sequencer cannot be opened.";
    case kMidiErrPortGone:
        return "The ALSA sequencer port cannot be reached (the synthesiser may have been closed).";
    case kMidiErrNoJackServer:
        return "No JACK server is running: start jackd (or PipeWire's JACK service) first.";
    case kMidiErrJackStopped:
        return "The JACK server has stopped.";
    case kMidiErrJackBehind:
        return "The JACK server is not taking the MIDI messages in time; some were lost.";
    case kMidiErrNoSuchJackPort:
        return "The JACK MIDI input to connect to does not exist (see jack_lsp).";
    default:
        return "Unknown MIDI output error " + std::to_string(result) + ".";
    }
}
