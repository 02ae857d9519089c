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
    // How long before its time a queued event may be handed over. A sink that places each
    // message at its own time (the JACK port) takes events early, so that a scheduler
    // woken late still meets their frames; the others take each event when it is due.
    virtual int64_t leadUs() const { return 0; }
};
