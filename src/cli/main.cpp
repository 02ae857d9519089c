// lirrosa-cli: the headless front end. Converts sung melodies in WAV files to Standard
// MIDI Files with the same engine as the desktop program.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/ConvertCommand.h"
#include "cli/DevicesCommand.h"
#include "cli/PlayCommand.h"
#include "cli/RecordCommand.h"
#include "cli/RingtoneCommand.h"
#include "cli/SettingsCommand.h"

namespace {

const char* const kUsage =
    "Usage: lirrosa-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  convert IN.wav [OPTIONS]   turn the melody sung in IN.wav into MIDI notes\n"
    "      -o OUT.mid             output file (default: IN with .mid)\n"
    "      --raw                  write the raw pitch track (gliding pitch bends) instead of the notes\n"
    "      --json FILE            also write a JSON report (raw track, notes, summary)\n"
    "      --render OUT.wav       also play the notes (or --raw track) through the built-in synthesiser into a WAV file\n"
    "      --patch N              General MIDI program of the melody, 0..127 (default: the settings' Patch, else 0)\n"
    "      --table                print the recognised notes\n"
    "      --engine classic|precise  recognition engine (default: the settings' Engine, else classic)\n"
    "      --no-merge             keep short pitch deviations as notes of their own\n"
    "      --merge                merge them (the default unless the settings say MergeSPD 0)\n"
    "      --tpqn N               MIDI ticks per quarter note, 48..960 (default: the settings' TPQN, else 480)\n"
    "      --force                overwrite existing output files\n"
    "      --quiet                no progress output\n"
    "  record -o TAKE.wav [OPTIONS]  record a take from the microphone, save it and convert it\n"
    "      --seconds N            stop after N seconds, 1..60 (default: Ctrl-C or 60 s)\n"
    "      --device N             the input's index in 'devices' (default: the settings' WavInDev, else 0)\n"
    "      --input FILE.wav       record FILE.wav (16-bit mono, 22050 Hz) played in real time instead of a device\n"
    "      --echo none|midi|wave  hear the sung pitch on the MIDI output, or the sound itself (default: none)\n"
    "      --metronome            click the beat of the settings' tempo on the MIDI output\n"
    "      --midi-out N           the MIDI output of the echo and the metronome, its index in 'devices'\n"
    "                             (default: the settings' MidiOutDev, else 0: Auto)\n"
    "      --connect PORT         connect the JACK MIDI output to PORT, e.g. 'ardour:MIDI in' (repeatable;\n"
    "                             default: the ports it was connected to last time)\n"
    "      --force                overwrite TAKE.wav and TAKE.mid\n"
    "      --quiet                no progress output\n"
    "  play IN.wav|IN.mid [OPTIONS]  play the notes of IN.wav (converted) or of a MIDI file\n"
    "      --raw                  play the raw pitch track of IN.wav instead of the notes\n"
    "      --ringtone             play the notes as a ringtone\n"
    "      --device N             the MIDI output's index in the settings' list (0: Auto)\n"
    "      --tempo BPM            playback tempo, 10..500\n"
    "      --connect PORT         connect the JACK MIDI output to PORT (as for record)\n"
    "      --quiet                no position output\n"
    "  play --wave FILE.wav [--device N] [--quiet]\n"
    "                             play a WAV file (N: the output's index in 'devices')\n"
    "  ringtone IN.wav|IN.mid [OPTIONS]  the melody as an RTTTL ringtone text (printed, or written with -o)\n"
    "      -o OUT.rtttl           write the text to OUT.rtttl\n"
    "      --name NAME            the ringtone's name, at most 15 characters (default: melody)\n"
    "      --tempo BPM            the nearest of the 32 ringtone tempos from 25 to 900 (default: 125)\n"
    "      --force                overwrite OUT.rtttl\n"
    "      --send                 also send the ringtone request to the online service of the settings' url and uri\n"
    "      --mail ADDRESS         with --send: deliver to ADDRESS (default: the settings' LastMailTo)\n"
    "      --phone NUMBER         with --send: deliver by SMS too, digits only with country and area codes\n"
    "      --dotted               with --send: let the service use dotted note values\n"
    "  devices                    list the wave inputs and outputs and the MIDI outputs with their indices\n"
    "  settings                   list the program's settings\n"
    "  settings get KEY           print one setting (KEY as TPQN or Settings\\TPQN)\n"
    "  settings set KEY VALUE     check and store one setting\n"
    "  --help                     show this text\n"
    "\n"
    "Exit status: 0 on success; otherwise one line on stderr says why.\n";

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "convert")
        return runConvertCommand(rest);
    if (command == "settings")
        return runSettingsCommand(rest, std::cout, std::cerr);
    if (command == "record")
        return runRecordCommand(rest);
    if (command == "play")
        return runPlayCommand(rest);
    if (command == "ringtone")
        return runRingtoneCommand(rest);
    if (command == "devices")
        return runDevicesCommand(rest);
    return usageError("unknown command '" + command + "'");
}
