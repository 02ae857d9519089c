#pragma once
// The ringtone page's tempo bar: the ringtone's tempo follows it, also while the ringtone
// preview plays.

#include <string>

#include "export/Rtttl_writer.h"
#include "midi/Midi_func.h"

// The bar moved to `position` (0..31): the tempo index and the defaults' tempo follow it,
// a ringtone preview that is playing takes the new tempo at once, and the defaults text
// to show is returned. Another kind of playback keeps its tempo, so the song's tempo is
// never changed from here.
std::string ringtoneTempoBarMoved(int position, RingtoneSettings& ringtone, RingtoneDefaults& defaults,
                                  MidiOut& midiOut);
