#pragma once
// Where a MIDI stream's short messages end up: the built-in synthesiser, an ALSA
// sequencer port, or a capture log for tests. A stream calls its sink from one thread at
// a time.

#include <cstdint>

#include "platform/MidiResult.h"

class MidiSink {
public:
    virtual ~MidiSink() = default;
    // Plays one short message (status | data 1 << 8 | data 2 << 16). `timeUs` is the
    // time on the stream's clock at which the message is meant to sound.
    virtual MidiResult send(uint32_t message, int64_t timeUs) = 0;
};
