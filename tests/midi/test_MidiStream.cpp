// The MIDI stream on a capture device in virtual time: order and timing of queued
// buffers, tempo changes, position, reset, the header rules, and the device list.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "MidiTestSupport.h"
#include "platform/MidiStream.h"

namespace {

uint32_t noteOn(uint8_t note) { return 0x90 | note << 8 | 100u << 16; }
uint32_t noteOff(uint8_t note) { return 0x80 | note << 8; }

// The notifications a stream gave, in order.
struct Notifications {
    std::mutex mutex;
    std::vector<std::pair<MidiNotification, MidiHeader*>> seen;

    MidiNotify callback()
    {
        return [this](MidiNotification kind, MidiHeader* header) {
            std::lock_guard<std::mutex> guard(mutex);
            seen.emplace_back(kind, header);
        };
    }
    std::vector<std::pair<MidiNotification, MidiHeader*>> all()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return seen;
    }
    size_t doneCount()
    {
        size_t n = 0;
        for (const auto& [kind, header] : all())
            n += kind == MidiNotification::Done ? 1 : 0;
        return n;
    }
};

struct Buffer {
    std::vector<uint32_t> words;
    MidiHeader header{};

    explicit Buffer(std::vector<uint32_t> events) : words(std::move(events))
    {
        header.data = words.data();
        header.bufferLength = header.bytesRecorded = static_cast<uint32_t>(words.size() * 4);
    }
};

class MidiStreamTest : public ::testing::Test {
protected:
    CaptureDevice<ManualMidiClock> capture;
    Notifications notifications;
    std::unique_ptr<MidiStream> stream;

    void SetUp() override
    {
        ASSERT_EQ(MidiStream::open(capture.id(), notifications.callback(), stream), kMidiOk);
        stream->setTimeDivision(480);
        stream->setTempo(500000); // 120 BPM: 1041.67 us a tick
    }

    void queue(Buffer& buffer)
    {
        ASSERT_EQ(stream->prepareHeader(buffer.header), kMidiOk);
        ASSERT_EQ(stream->out(buffer.header), kMidiOk);
    }

    // Advances virtual time to `us` in steps of 10 ms.
    void advanceTo(int64_t us)
    {
        while (capture.clock.nowUs() + 10000 <= us)
            capture.clock.advance(10000);
        if (capture.clock.nowUs() < us)
            capture.clock.advance(us - capture.clock.nowUs());
    }

    uint32_t position()
    {
        uint32_t ticks = 0;
        EXPECT_EQ(stream->position(ticks), kMidiOk);
        return ticks;
    }
};

TEST_F(MidiStreamTest, PlaysQueuedBuffersInOrderWithTheirDeltasAndReturnsEachWhenPlayed)
{
    Buffer first({0, 0, noteOn(60), 480, 0, noteOff(60)});
    Buffer second({240, 0, noteOn(62), 480, 0, noteOff(62)});
    queue(first);
    queue(second);
    ASSERT_EQ(stream->restart(), kMidiOk);

    advanceTo(600000);
    EXPECT_EQ(position(), 576u); // 600 ms at 480 ticks per 500 ms
    EXPECT_EQ(notifications.doneCount(), 1u);
    EXPECT_TRUE(first.header.flags & kMidiHeaderDone);
    EXPECT_FALSE(first.header.flags & kMidiHeaderInQueue);
    EXPECT_TRUE(second.header.flags & kMidiHeaderInQueue);

    advanceTo(2000000);
    const auto log = capture.log.messages();
    ASSERT_EQ(log.size(), 4u);
    const std::vector<std::pair<uint32_t, int64_t>> expected = {
        {noteOn(60), 0}, {noteOff(60), 500000}, {noteOn(62), 750000}, {noteOff(62), 1250000}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(log[i].message, expected[i].first) << i;
        EXPECT_EQ(log[i].timeUs, expected[i].second) << i;
    }
    // The position stops at the last event played, though the clock runs on.
    EXPECT_EQ(position(), 1200u);

    const auto seen = notifications.all();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, MidiNotification::Open);
    EXPECT_EQ(seen[1], std::make_pair(MidiNotification::Done, &first.header));
    EXPECT_EQ(seen[2], std::make_pair(MidiNotification::Done, &second.header));
}

TEST_F(MidiStreamTest, StaysPausedUntilRestartedAndCountsFromTheRestart)
{
    Buffer buffer({96, 0, noteOn(64)});
    queue(buffer);
    advanceTo(1000000);
    EXPECT_TRUE(capture.log.messages().empty());
    EXPECT_EQ(position(), 0u);

    ASSERT_EQ(stream->restart(), kMidiOk);
    ASSERT_EQ(stream->restart(), kMidiOk); // restarting a running stream changes nothing
    advanceTo(1200000);
    const auto log = capture.log.messages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].timeUs, 1100000); // 96 ticks = 100 ms after the restart
}

TEST_F(MidiStreamTest, TempoChangeAppliesAtOnceToTheEventsNotYetPlayed)
{
    Buffer buffer({0, 0, noteOn(60), 480, 0, noteOff(60), 480, 0, noteOn(61)});
    queue(buffer);
    stream->restart();
    advanceTo(250000); // tick 240
    ASSERT_EQ(stream->setTempo(1000000), kMidiOk); // 60 BPM: twice as slow
    advanceTo(3000000);

    const auto log = capture.log.messages();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].timeUs, 0);
    EXPECT_EQ(log[1].timeUs, 250000 + 500000); // the remaining 240 ticks at 2083.3 us
    EXPECT_EQ(log[2].timeUs, 750000 + 1000000);

    // Zero is neither a tempo nor a time division.
    EXPECT_EQ(stream->setTimeDivision(0), kMidiErrInvalidParam);
    EXPECT_EQ(stream->setTempo(0), kMidiErrInvalidParam);
}

TEST_F(MidiStreamTest, ResetSilencesEveryChannelReturnsQueuedBuffersAndPauses)
{
    Buffer first({0, 0, noteOn(60), 4800, 0, noteOff(60)});
    Buffer second({0, 0, noteOn(62)});
    queue(first);
    queue(second);
    stream->restart();
    advanceTo(100000);
    ASSERT_EQ(capture.log.messages().size(), 1u);

    ASSERT_EQ(stream->reset(), kMidiOk);
    EXPECT_EQ(notifications.doneCount(), 2u);
    EXPECT_TRUE(first.header.flags & kMidiHeaderDone);
    EXPECT_TRUE(second.header.flags & kMidiHeaderDone);
    EXPECT_EQ(stream->unprepareHeader(first.header), kMidiOk);
    EXPECT_EQ(position(), 0u);

    const auto log = capture.log.messages();
    ASSERT_EQ(log.size(), 1u + 32u);
    for (int channel = 0; channel < 16; ++channel) {
        EXPECT_EQ(log[1 + 2 * channel].message, static_cast<uint32_t>(0xB0 | channel | 123 << 8));
        EXPECT_EQ(log[2 + 2 * channel].message, static_cast<uint32_t>(0xB0 | channel | 120 << 8));
    }
    EXPECT_TRUE(soundingNotes(log).empty());

    advanceTo(10000000);
    EXPECT_EQ(capture.log.messages().size(), log.size()); // nothing more plays
}

TEST_F(MidiStreamTest, HeadersMustBePreparedWholeAndNotQueuedTwice)
{
    Buffer buffer({0, 0, noteOn(60), 10, 0, noteOff(60)});
    EXPECT_EQ(stream->out(buffer.header), kMidiErrUnprepared);
    ASSERT_EQ(stream->prepareHeader(buffer.header), kMidiOk);

    buffer.header.bytesRecorded = 16; // not a whole number of events
    EXPECT_EQ(stream->out(buffer.header), kMidiErrInvalidParam);
    buffer.header.bytesRecorded = 24;

    ASSERT_EQ(stream->out(buffer.header), kMidiOk);
    EXPECT_EQ(stream->out(buffer.header), kMidiErrStillPlaying);
    EXPECT_EQ(stream->unprepareHeader(buffer.header), kMidiErrStillPlaying);

    MidiHeader empty{};
    EXPECT_EQ(stream->prepareHeader(empty), kMidiErrInvalidParam);
    stream->reset(); // a queued buffer must not outlive its queue
}

TEST_F(MidiStreamTest, ShortMessagesGoOutAtOnceAndEventsOfOtherKindsAreSkipped)
{
    capture.clock.advance(5000);
    EXPECT_EQ(stream->shortMessage(0x403C90), kMidiOk);
    EXPECT_EQ(stream->shortMessage(0x3C), kMidiErrInvalidParam);   // no status byte
    EXPECT_EQ(stream->shortMessage(0xF8), kMidiErrInvalidParam);   // system messages are not played

    Buffer buffer({0, 0, 0x01000000 | 500000, 0, 0, noteOff(60)}); // a non-short event, then a note off
    queue(buffer);
    stream->restart();
    advanceTo(20000);
    const auto log = capture.log.messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].message, 0x403C90u);
    EXPECT_EQ(log[0].timeUs, 5000);
    EXPECT_EQ(log[1].message, noteOff(60));
}

TEST_F(MidiStreamTest, ClosingReturnsQueuedBuffersThenNotifiesClose)
{
    Buffer buffer({100000, 0, noteOn(60)});
    queue(buffer);
    stream->restart();
    stream.reset();
    const auto seen = notifications.all();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], std::make_pair(MidiNotification::Done, &buffer.header));
    EXPECT_EQ(seen[2].first, MidiNotification::Close);
    EXPECT_TRUE(soundingNotes(capture.log.messages()).empty());
}

TEST(MidiDevices, ListTheBuiltInSynthesiserAfterAutoAndKeepPrivateDevicesUnlisted)
{
    const uint32_t listed = midiOutDeviceCount();
    EXPECT_GE(listed, 1u);
    EXPECT_EQ(midiOutDeviceName(kMidiMapper), "Auto");
    EXPECT_EQ(midiOutDeviceName(0), "Built-in synthesiser (FluidSynth)");
    EXPECT_EQ(midiOutDeviceName(listed), "");

    CaptureDevice<ManualMidiClock> capture;
    EXPECT_EQ(midiOutDeviceCount(), listed);
    EXPECT_EQ(midiOutDeviceName(capture.id()), "");
}

TEST(MidiDevices, UnknownDevicesFailWithAClearText)
{
    std::unique_ptr<MidiStream> stream;
    uint32_t unknown = 0;
    {
        CaptureDevice<ManualMidiClock> gone;
        unknown = gone.id();
    }
    EXPECT_EQ(MidiStream::open(unknown, {}, stream), kMidiErrBadDeviceId);
    EXPECT_EQ(MidiStream::open(midiOutDeviceCount(), {}, stream), kMidiErrBadDeviceId);
    EXPECT_EQ(stream, nullptr);
    EXPECT_NE(midiErrorText(kMidiErrBadDeviceId).find("does not exist"), std::string::npos);
    EXPECT_NE(midiErrorText(kMidiErrNoSoundfont).find("install timgm6mb-soundfont"), std::string::npos);
    EXPECT_NE(midiErrorText(kMidiErrNoSoundServer), midiErrorText(kMidiErrSynthFailed));
}

} // namespace
