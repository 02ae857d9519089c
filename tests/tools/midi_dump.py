#!/usr/bin/env python3
"""Prints every event of a Standard MIDI File, one a line, read with mido.

The first line describes the file:
    file type=1 ticks_per_beat=480 tracks=2
then one line per event, with the event's absolute time in ticks:
    track=1 tick=960 type=note_on channel=0 note=60 velocity=105
Text values are printed in double quotes. Exits with status 1 and a message on
stderr when the file cannot be loaded (bad chunk, wrong track length, data byte
above 127, truncated file).
"""

import json
import sys

import mido


def describe(value):
    if isinstance(value, str):
        return json.dumps(value)
    if isinstance(value, (list, tuple)):
        return ",".join(str(v) for v in value)
    return str(value)


def main():
    if len(sys.argv) != 2:
        print("usage: midi_dump.py FILE.mid", file=sys.stderr)
        return 2
    try:
        midi = mido.MidiFile(sys.argv[1], clip=False)
    except Exception as error:  # mido raises several kinds for a malformed file
        print("cannot load {}: {}: {}".format(sys.argv[1], type(error).__name__, error), file=sys.stderr)
        return 1
    print("file type={} ticks_per_beat={} tracks={}".format(midi.type, midi.ticks_per_beat, len(midi.tracks)))
    for index, track in enumerate(midi.tracks):
        tick = 0
        for message in track:
            tick += message.time
            fields = message.dict()
            kind = fields.pop("type")
            fields.pop("time", None)
            line = ["track={}".format(index), "tick={}".format(tick), "type={}".format(kind)]
            line += ["{}={}".format(key, describe(value)) for key, value in fields.items()]
            print(" ".join(line))
    return 0


if __name__ == "__main__":
    sys.exit(main())
