#include "export/RingtoneTempo.h"

#include "midi/MidiEvents.h"

std::string ringtoneTempoBarMoved(int position, RingtoneSettings& ringtone, RingtoneDefaults& defaults,
                                  MidiOut& midiOut)
{
    const int32_t tempo = applyRingtoneTempo(position, ringtone, defaults);
    if (midiOut.isPlaying && midiOut.playKind == PlayRingtone)
        midiOut.setTempo(tempo);
    return ringtoneDefaultsText(defaults);
}
