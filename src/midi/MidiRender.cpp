#include "midi/MidiRender.h"

#include <memory>

#include "platform/BuiltInSynth.h"
#include "platform/MidiDevices.h"

std::vector<int16_t> renderPlayback(NoteSequence& notes, PlayKind kind, int sampleRate)
{
    std::unique_ptr<SynthRecorder> recorder;
    const MidiResult created = SynthRecorder::create(sampleRate, recorder);
    if (created != kMidiOk)
        throw MidiDeviceError(midiErrorText(created));

    FastForwardMidiClock clock;
    PrivateMidiDevice device(
        [&recorder](std::unique_ptr<MidiSink>& sink) {
            sink = std::make_unique<SynthRecorderSink>(*recorder);
            return kMidiOk;
        },
        clock);

    MidiOut out;
    out.notes = &notes;
    out.ringtone = &ringtoneSettings;
    out.deviceId = device.id();
    out.playKind = kind;
    out.updateTicksPerFrame();
    const PlayList list = kind == PlayRaw ? PlayList(static_cast<const RawTrack*>(notes.raw.get()))
                                          : PlayList(static_cast<const NoteSequence*>(&notes));
    out.play(list, kind);
    return recorder->takeSamples();
}
