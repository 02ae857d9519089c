#include "platform/MidiStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "platform/MidiDevices.h"

namespace {

constexpr uint32_t kControllerStatus = 0xB0;
constexpr uint32_t kAllSoundOff = 120;
constexpr uint32_t kAllNotesOff = 123;
constexpr int kChannels = 16;
// A stream on a test clock that has not caught up within this much real time is stuck;
// the test then fails on what it sees rather than hanging.
constexpr std::chrono::seconds kCatchUpLimit{10};

bool isShortMessageEvent(uint32_t eventWord)
{
    return (eventWord >> 24) == 0;
}

} // namespace

MidiResult MidiStream::open(uint32_t deviceId, MidiNotify notify, std::unique_ptr<MidiStream>& stream)
{
    std::unique_ptr<MidiSink> sink;
    MidiClock* clock = nullptr;
    const MidiResult result = openMidiOutput(deviceId, sink, clock);
    if (result != kMidiOk)
        return result;
    std::unique_ptr<MidiStream> opened(new MidiStream(std::move(sink), *clock, std::move(notify)));
    opened->clock.attach(opened.get());
    opened->scheduler = std::thread(&MidiStream::schedule, opened.get());
    if (opened->notify)
        opened->notify(MidiNotification::Open, nullptr);
    stream = std::move(opened);
    return kMidiOk;
}

MidiStream::MidiStream(std::unique_ptr<MidiSink> sink, MidiClock& clock, MidiNotify notify)
    : sink(std::move(sink)), clock(clock), notify(std::move(notify))
{
}

MidiStream::~MidiStream()
{
    clock.detach(this);
    reset();
    {
        std::lock_guard<std::mutex> guard(mutex);
        quit = true;
    }
    wake.notify_all();
    caughtUp.notify_all();
    scheduler.join();
    if (notify)
        notify(MidiNotification::Close, nullptr);
}

MidiResult MidiStream::setTimeDivision(uint32_t division)
{
    if (division == 0 || division > 0x7FFF)
        return kMidiErrInvalidParam;
    {
        std::lock_guard<std::mutex> guard(mutex);
        reanchor(clock.nowUs());
        ticksPerQuarter = division;
    }
    wake.notify_all();
    return kMidiOk;
}

MidiResult MidiStream::setTempo(uint32_t microsecondsPerQuarter)
{
    if (microsecondsPerQuarter == 0)
        return kMidiErrInvalidParam;
    {
        std::lock_guard<std::mutex> guard(mutex);
        reanchor(clock.nowUs());
        usPerQuarter = microsecondsPerQuarter;
    }
    wake.notify_all();
    return kMidiOk;
}

MidiResult MidiStream::prepareHeader(MidiHeader& header)
{
    if (header.data == nullptr || header.bufferLength == 0)
        return kMidiErrInvalidParam;
    std::lock_guard<std::mutex> guard(mutex);
    header.flags |= kMidiHeaderPrepared;
    return kMidiOk;
}

MidiResult MidiStream::unprepareHeader(MidiHeader& header)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (header.flags & kMidiHeaderInQueue)
        return kMidiErrStillPlaying;
    header.flags &= ~kMidiHeaderPrepared;
    return kMidiOk;
}

MidiResult MidiStream::out(MidiHeader& header)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        if ((header.flags & kMidiHeaderPrepared) == 0)
            return kMidiErrUnprepared;
        if (header.flags & kMidiHeaderInQueue)
            return kMidiErrStillPlaying;
        if (header.data == nullptr || header.bytesRecorded > header.bufferLength ||
            header.bytesRecorded % kMidiEventBytes != 0)
            return kMidiErrInvalidParam;
        header.flags = (header.flags & ~kMidiHeaderDone) | kMidiHeaderInQueue;
        header.next = nullptr;
        if (queueTail != nullptr)
            queueTail->next = &header;
        else
            queueHead = &header;
        queueTail = &header;
    }
    wake.notify_all();
    return kMidiOk;
}

MidiResult MidiStream::restart()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (running)
            return kMidiOk;
        running = true;
        anchorUs = clock.nowUs();
    }
    wake.notify_all();
    return kMidiOk;
}

MidiResult MidiStream::position(uint32_t& ticks)
{
    std::lock_guard<std::mutex> guard(mutex);
    // The clock may run ahead of the events (between two buffers, after the last one, or
    // when the scheduler is late): the position counts only ticks that have been played.
    uint64_t frontier = lastEventTick;
    nextEventTick(frontier);
    const double played = std::min(tickAt(clock.nowUs()), static_cast<double>(frontier));
    ticks = static_cast<uint32_t>(std::clamp(std::floor(played), 0.0, 4294967295.0));
    return kMidiOk;
}

void MidiStream::linger(int64_t us)
{
    std::unique_lock<std::mutex> lock(mutex);
    const uint64_t resetsBefore = resets;
    const int64_t deadline = dueTime(lastEventTick) + us;
    while (resets == resetsBefore && !quit && clock.nowUs() < deadline)
        clock.waitUntil(wake, lock, deadline);
}

MidiResult MidiStream::reset()
{
    std::vector<MidiHeader*> returned;
    MidiResult result = kMidiOk;
    {
        std::lock_guard<std::mutex> guard(mutex);
        for (MidiHeader* header = queueHead; header != nullptr; header = header->next)
            returned.push_back(header);
        for (MidiHeader* header : returned)
            header->flags = (header->flags & ~kMidiHeaderInQueue) | kMidiHeaderDone;
        queueHead = queueTail = nullptr;
        ++resets;
        playedBytes = 0;
        lastEventTick = 0;
        running = false;
        anchorTick = 0;
        const int64_t now = clock.nowUs();
        for (uint32_t channel = 0; channel < kChannels; ++channel) {
            for (uint32_t controller : {kAllNotesOff, kAllSoundOff}) {
                const MidiResult sent = sink->send((kControllerStatus | channel) | controller << 8, now);
                if (result == kMidiOk)
                    result = sent;
            }
        }
    }
    wake.notify_all();
    if (notify) {
        for (MidiHeader* header : returned)
            notify(MidiNotification::Done, header);
    }
    return result;
}

MidiResult MidiStream::shortMessage(uint32_t message)
{
    if ((message & 0x80) == 0 || (message & 0xF0) == 0xF0)
        return kMidiErrInvalidParam;
    std::lock_guard<std::mutex> guard(mutex);
    return sink->send(message & 0xFFFFFF, clock.nowUs());
}

void MidiStream::schedule()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
        const int64_t now = clock.nowUs();
        const int64_t lead = sink->leadUs();
        MidiHeader* finished = nullptr;
        const int64_t next = playDue(now + lead, finished);
        if (finished != nullptr) {
            lock.unlock();
            notifyDone(finished);
            lock.lock();
            continue;
        }
        evaluatedUs = now;
        caughtUp.notify_all();
        clock.waitUntil(wake, lock, next == kNoDeadline ? next : next - lead);
    }
}

int64_t MidiStream::playDue(int64_t now, MidiHeader*& finished)
{
    while (running && queueHead != nullptr) {
        MidiHeader* header = queueHead;
        if (playedBytes + kMidiEventBytes > header->bytesRecorded) {
            queueHead = header->next;
            if (queueHead == nullptr)
                queueTail = nullptr;
            header->flags = (header->flags & ~kMidiHeaderInQueue) | kMidiHeaderDone;
            playedBytes = 0;
            finished = header;
            return kNoDeadline;
        }
        const uint32_t* event = header->data + playedBytes / 4;
        const uint64_t tick = lastEventTick + event[0];
        const int64_t due = dueTime(tick);
        if (due > now)
            return due;
        lastEventTick = tick;
        playedBytes += kMidiEventBytes;
        // A sink that fails (a port that went away) loses this message; the stream plays on
        // and the next short message sent directly reports the failure.
        if (isShortMessageEvent(event[2]))
            sink->send(event[2], due);
    }
    return kNoDeadline;
}

double MidiStream::tickAt(int64_t now) const
{
    if (!running)
        return anchorTick;
    return anchorTick + static_cast<double>(now - anchorUs) * ticksPerQuarter / usPerQuarter;
}

int64_t MidiStream::dueTime(uint64_t tick) const
{
    return anchorUs + std::llround((static_cast<double>(tick) - anchorTick) * usPerQuarter / ticksPerQuarter);
}

void MidiStream::reanchor(int64_t now)
{
    if (!running)
        return;
    double tick = tickAt(now);
    // An event that is already due stays due: the new rate starts from it.
    uint64_t next = 0;
    if (nextEventTick(next))
        tick = std::min(tick, static_cast<double>(next));
    anchorTick = tick;
    anchorUs = now;
}

bool MidiStream::nextEventTick(uint64_t& tick) const
{
    if (queueHead == nullptr || playedBytes + kMidiEventBytes > queueHead->bytesRecorded)
        return false;
    tick = lastEventTick + queueHead->data[playedBytes / 4];
    return true;
}

void MidiStream::notifyDone(MidiHeader* finished)
{
    if (notify)
        notify(MidiNotification::Done, finished);
}

void MidiStream::catchUp(int64_t timeUs)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (evaluatedUs >= timeUs)
        return;
    wake.notify_all();
    caughtUp.wait_for(lock, kCatchUpLimit, [&] { return evaluatedUs >= timeUs || quit; });
}
