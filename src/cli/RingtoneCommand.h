#pragma once
// `lirrosa-cli ringtone IN.wav|IN.mid [-o OUT.rtttl] [--name NAME] [--tempo BPM] [--force]
// [--send [--mail ADDRESS] [--phone NUMBER] [--dotted]]`: the melody of IN.wav (converted) or of a
// MIDI file as the RTTTL ringtone text of the export dialog's ringtone page, printed or
// written to OUT; --send also posts the ringtone request to the configured online service
// and prints its answer.

#include <string>
#include <vector>

int runRingtoneCommand(const std::vector<std::string>& args);
