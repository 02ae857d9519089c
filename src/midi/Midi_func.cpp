#include "midi/Midi_func.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/SystemCall.h"
#include "midi/MidiTime.h"
#include "platform/WindowMessages.h"

namespace {

constexpr uint8_t kVolumeController = 7;
constexpr uint8_t kDataEntryMsb = 6;
constexpr uint8_t kDataEntryLsb = 38;
constexpr uint8_t kRpnLsb = 100;
constexpr uint8_t kRpnMsb = 101;
constexpr uint8_t kRingtoneChannel2 = 1;
// Buffers are cut between events, so a buffer holds the whole events that fit.
constexpr int32_t kBufferEventWords = kStreamBufferWords - kStreamBufferWords % kEventWords;
// How long destruction waits for a player thread that is still leaving.
constexpr std::chrono::seconds kPlayerLeaveLimit{5};

void check(MidiResult result)
{
    if (result != kMidiOk)
        throw MidiDeviceError(midiErrorText(result));
}

// Writes a shared process-wide setting only when it changes, so that the player thread
// re-applying the values in force never writes what the window thread may be reading.
template <typename Field, typename Value>
void storeIfChanged(Field& field, Value value)
{
    if (field != static_cast<Field>(value))
        field = static_cast<Field>(value);
}

uint32_t liveMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    return shortMessage(status, data1 & 0x7F, data2 & 0x7F);
}

// Counts a running play() for the destructor.
class RunningPlay {
public:
    RunningPlay(std::mutex& lock, std::condition_variable& ended, int& count) : lock(lock), ended(ended), count(count)
    {
        std::lock_guard<std::mutex> guard(lock);
        ++count;
    }
    ~RunningPlay()
    {
        // Notified under the lock: once the count is 0 the waiter may destroy both.
        std::lock_guard<std::mutex> guard(lock);
        --count;
        ended.notify_all();
    }

private:
    std::mutex& lock;
    std::condition_variable& ended;
    int& count;
};

} // namespace

MidiOut::MidiOut()
{
    for (auto& volume : channelVolume)
        volume = 100;
}

MidiOut::~MidiOut()
{
    try {
        stop();
    } catch (const MidiDeviceError&) {
        // The player ends through its own end step whether or not the reset worked.
    }
    {
        std::unique_lock<std::mutex> lock(playsLock);
        playsEnded.wait_for(lock, kPlayerLeaveLimit,
                            [this] { return runningPlays == 0 && playerThread.load() == nullptr; });
    }
    close();
}

template <typename Call>
MidiResult MidiOut::withStream(Call call)
{
    std::lock_guard<std::mutex> guard(streamLock);
    MidiStream* open = stream.load();
    if (open == nullptr)
        return kMidiErrInvalidHandle;
    return call(*open);
}

void MidiOut::closeStream()
{
    MidiStream* closing = nullptr;
    {
        std::lock_guard<std::mutex> guard(streamLock);
        closing = stream.exchange(nullptr);
    }
    delete closing;
}

bool MidiOut::open(uint32_t device)
{
    if (!isOpen) {
        deviceId = device;
        std::unique_ptr<MidiStream> opened;
        if (MidiStream::open(device, {}, opened) == kMidiOk) {
            {
                std::lock_guard<std::mutex> guard(streamLock);
                stream = opened.release();
            }
            isOpen = true;
            stopped = false;
            resetChannels(0);
        }
    }
    updateTicksPerFrame();
    return isOpen;
}

void MidiOut::close()
{
    isPlaying = false;
    if (!isOpen)
        return;
    closeStream();
    echoSounding = false;
    echoNote = 0.0f;
    stopped = true;
    isOpen = false;
    msPerFrame = static_cast<float>(frameDuration().milliseconds());
    playKind = 0;
}

int32_t MidiOut::setTimeDivision(int32_t tpqn)
{
    if (tpqn <= 0)
        return songSettings.tpqn;
    storeIfChanged(songSettings.tpqn, tpqn);
    if (isOpen)
        withStream([tpqn](MidiStream& s) { return s.setTimeDivision(static_cast<uint32_t>(tpqn)); });
    return songSettings.tpqn;
}

int32_t MidiOut::setTempo(int32_t bpm)
{
    if (bpm <= 0)
        return usPerQuarter;
    if (playKind != PlayRingtone)
        storeIfChanged(songSettings.tempo, bpm);
    msPerFrame = ::msPerFrame(songSettings.recordTempo, bpm, frameDuration());
    usPerQuarter = ::usPerQuarter(bpm);
    if (isOpen) {
        const uint32_t us = static_cast<uint32_t>(usPerQuarter.load());
        withStream([us](MidiStream& s) { return s.setTempo(us); });
    }
    return usPerQuarter;
}

void MidiOut::updateTicksPerFrame()
{
    const FrameDuration frame = frameDuration();
    ticksPerFrame = midiTicksPerFrame(songSettings, frame);
    // A new take may have a new frame duration: the time shown follows it at once.
    msPerFrame = isOpen ? ::msPerFrame(songSettings.recordTempo, songSettings.tempo, frame)
                        : static_cast<float>(frame.milliseconds());
}

FrameDuration MidiOut::frameDuration() const
{
    return notes != nullptr ? takeFrameDuration(*notes) : FrameDuration{};
}

void MidiOut::resetChannels(uint8_t kind)
{
    echoNote = 0.0f;
    echoSounding = false;
    bendOffset = 0.0f;
    setTimeDivision(songSettings.tpqn);
    const bool ringtoneKind = kind == PlayRingtone && ringtone != nullptr;
    if (ringtoneKind) {
        setTempo(kRingtoneTempos[std::min<int>(ringtone->tempoIndex, 31)]);
        setPatch(0, ringtone->patch, 1);
        setPatch(kRingtoneChannel2, ringtone->patch2, 2);
    } else {
        setTempo(songSettings.tempo);
        setPatch(0, songSettings.patch, 0);
    }
    setVolume(0, songSettings.volume);
    centreBend(0);
    setBendRange(0, kPlaybackBendRange);
    if (ringtoneKind) {
        centreBend(kRingtoneChannel2);
        setBendRange(kRingtoneChannel2, kPlaybackBendRange);
    }
}

void MidiOut::buildEvents(const PlayList& list, PlayKind kind, EventList& events)
{
    switch (kind) {
    case PlayNotes:
        if (const auto* sequence = std::get_if<const NoteSequence*>(&list); sequence != nullptr && *sequence) {
            float lastNote = echoNote;
            buildNoteEvents(**sequence, songSettings, events, &lastNote);
            echoNote = lastNote;
        }
        break;
    case PlayRaw:
        if (const auto* raw = std::get_if<const RawTrack*>(&list); raw != nullptr && *raw)
            buildRawEvents(**raw, songSettings, ticksPerFrame, events);
        break;
    case PlayRingtone:
        if (notes != nullptr && ringtone != nullptr)
            buildRingtoneEvents(*notes, songSettings, *ringtone, events);
        break;
    }
}

void MidiOut::play(const PlayList& list, PlayKind kind)
{
    RunningPlay running(playsLock, playsEnded, runningPlays);
    std::unique_lock<std::mutex> gate(playerGate);
    if (stopRequested) {
        playerThread = nullptr;
        isPlaying = false;
        postEnd();
        return;
    }

    stopped = false;
    if (isOpen)
        close();
    playKind = kind;
    bendUnitsPerSemitone = static_cast<float>(kPlaybackBendUnitsPerSemitone);
    EventList events;
    buildEvents(list, kind, events);
    // Only whole events are played.
    const int32_t total = events.count - events.count % kEventWords;
    if (total == 0 && !events.error) {
        playerThread = nullptr;
        isPlaying = false;
        postEnd();
        return;
    }

    MidiStreamBuffer buffers[2];
    try {
        if (events.error) {
            errno = ENOMEM;
            CheckSystemCall(false);
        }
        streamEvents(events, total, buffers, gate);
        if (!stopped)
            letLastNotesRing(gate);
    } catch (...) {
        finishPlayback(buffers);
        throw;
    }
    finishPlayback(buffers);
}

void MidiOut::openPlaybackStream(PlayKind kind)
{
    std::unique_ptr<MidiStream> opened;
    check(MidiStream::open(
        deviceId, [this](MidiNotification, MidiHeader*) { streamEvent.set(); }, opened));
    {
        std::lock_guard<std::mutex> guard(streamLock);
        stream = opened.release();
    }
    isOpen = true;
    stopped = false;
    isPlaying = true;
    resetChannels(kind);
    streamEvent.reset();
}

void MidiOut::streamEvents(const EventList& events, int32_t total, MidiStreamBuffer (&buffers)[2],
                           std::unique_lock<std::mutex>& gate)
{
    openPlaybackStream(static_cast<PlayKind>(playKind.load()));

    int32_t readPos = 0;
    buffers[0].words = static_cast<uint32_t*>(std::calloc(kStreamBufferWords, sizeof(uint32_t)));
    CheckSystemCall(buffers[0].words != nullptr);
    bool remaining = fillBuffer(buffers[0], events, total, readPos);
    if (remaining) {
        buffers[1].words = static_cast<uint32_t*>(std::calloc(kStreamBufferWords, sizeof(uint32_t)));
        CheckSystemCall(buffers[1].words != nullptr);
        remaining = fillBuffer(buffers[1], events, total, readPos);
    }

    // One buffer plays while the other, played before it, is refilled with what follows.
    for (int32_t i = 0;;) {
        MidiStreamBuffer& sending = buffers[i % 2];
        check(withStream([&](MidiStream& s) { return s.out(sending.header); }));
        check(withStream([](MidiStream& s) { return s.restart(); }));
        sending.unsent = 0;
        ++i;
        MidiStreamBuffer& next = buffers[i % 2];
        if (i > 1 && remaining) {
            withStream([&](MidiStream& s) { return s.unprepareHeader(next.header); });
            remaining = fillBuffer(next, events, total, readPos);
        }
        waitForNotification(gate);
        if (stopped)
            break;
        if (!remaining && next.unsent == 0)
            break;
    }
}

bool MidiOut::fillBuffer(MidiStreamBuffer& buffer, const EventList& events, int32_t total, int32_t& readPos)
{
    const int32_t n = std::min(kBufferEventWords, total - readPos);
    std::memcpy(buffer.words, events.data + readPos, static_cast<size_t>(n) * sizeof(uint32_t));
    buffer.header.data = buffer.words;
    buffer.header.bufferLength = static_cast<uint32_t>(n) * sizeof(uint32_t);
    buffer.header.bytesRecorded = buffer.header.bufferLength;
    buffer.header.flags = 0;
    readPos += n;
    check(withStream([&](MidiStream& s) { return s.prepareHeader(buffer.header); }));
    buffer.unsent = n;
    return readPos < total;
}

void MidiOut::waitForNotification(std::unique_lock<std::mutex>& gate)
{
    gate.unlock();
    streamEvent.wait();
    gate.lock();
}

// Without the gate, so that stop() can cut the wait short. Only this thread closes the
// playback's stream, so it stays open meanwhile.
void MidiOut::letLastNotesRing(std::unique_lock<std::mutex>& gate)
{
    MidiStream* playing = stream.load();
    if (playing == nullptr)
        return;
    gate.unlock();
    playing->linger(kReleaseTailUs);
    gate.lock();
}

void MidiOut::finishPlayback(MidiStreamBuffer (&buffers)[2])
{
    // Failures here are ignored: the end must always be reached and posted.
    withStream([&](MidiStream& s) {
        s.reset();
        for (MidiStreamBuffer& buffer : buffers) {
            if (buffer.words != nullptr)
                s.unprepareHeader(buffer.header);
        }
        return kMidiOk;
    });
    for (MidiStreamBuffer& buffer : buffers) {
        std::free(buffer.words);
        buffer.words = nullptr;
    }
    close();
    playerThread = nullptr;
    isPlaying = false;
    postEnd();
}

void MidiOut::postEnd()
{
    if (notifyWindow != nullptr)
        notifyWindow->post(UM_MIDI_POSITION, static_cast<WPARAM>(-1), -1);
}

void MidiOut::beginPlayback(TPlayerThread* player, PlayKind kind)
{
    stopRequested = false;
    playKind = kind;
    isPlaying = true;
    playerThread = player;
}

void MidiOut::stop()
{
    if (playerThread.load() == nullptr)
        return;
    // Taking the gate holds the player at its wait while the stream is reset, or keeps
    // it from starting until the stop is recorded.
    std::lock_guard<std::mutex> hold(playerGate);
    stopRequested = true;
    const MidiResult result = withStream([this](MidiStream& s) {
        stopped = true;
        return s.reset();
    });
    if (result != kMidiErrInvalidHandle)
        check(result);
}

int32_t MidiOut::position()
{
    if (stream.load() == nullptr)
        return 0;
    uint32_t ticks = 0;
    const MidiResult result = withStream([&ticks](MidiStream& s) { return s.position(ticks); });
    if (result == kMidiErrInvalidHandle)
        return 0;
    check(result);
    return static_cast<int32_t>(std::min<uint32_t>(ticks, INT32_MAX));
}

void MidiOut::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (!isOpen)
        return;
    const uint32_t message = liveMessage(status, data1, data2);
    const MidiResult result = withStream([message](MidiStream& s) { return s.shortMessage(message); });
    // A stream closed by the player in the meantime drops the message like a closed one.
    if (result != kMidiErrInvalidHandle)
        check(result);
}

void MidiOut::setPatch(uint8_t channel, uint8_t program, int target)
{
    channel &= 0x0F;
    bool send = false;
    if (target == 0) {
        channelPatch[channel] = program;
        storeIfChanged(songSettings.patch, program);
        send = playKind != PlayRingtone;
    } else if (ringtone != nullptr && (target == 1 || target == 2)) {
        storeIfChanged(target == 1 ? ringtone->patch : ringtone->patch2, program);
        send = playKind == PlayRingtone;
    }
    if (send)
        sendShort(kProgramChangeStatus | channel, program, 0);
}

void MidiOut::setVolume(uint8_t channel, uint8_t volume)
{
    channel &= 0x0F;
    if (channel == 0)
        storeIfChanged(songSettings.volume, volume);
    channelVolume[channel] = volume;
    sendShort(kControllerStatus | channel, kVolumeController, volume);
}

void MidiOut::setBendRange(uint8_t channel, int16_t semitones)
{
    channel &= 0x0F;
    bendRange = semitones;
    if (semitones > 0)
        bendUnitsPerSemitone = static_cast<float>(kBendCentre) / semitones;
    sendShort(kControllerStatus | channel, kRpnMsb, 0);
    sendShort(kControllerStatus | channel, kRpnLsb, 0);
    sendShort(kControllerStatus | channel, kDataEntryMsb, static_cast<uint8_t>(semitones));
    sendShort(kControllerStatus | channel, kDataEntryLsb, 0);
}

void MidiOut::centreBend(uint8_t channel)
{
    bendOffset = 0.0f;
    if (!stopped)
        sendShort(kPitchBendStatus | (channel & 0x0F), 0, 64);
}

int32_t MidiOut::echoBend(float target)
{
    const float prev = bendOffset;
    float d = target - (echoNote + prev);
    float sign = 1.0f;
    if (d < 0) {
        sign = -1.0f;
        d = -d;
    }
    const int32_t whole = static_cast<int32_t>(d);
    const int32_t tenth = std::clamp(static_cast<int32_t>((d - static_cast<float>(whole)) * 10), 0, 9);
    const float offset = sign * (static_cast<float>(whole) + kEchoBendCurve[tenth]) + prev;
    bendOffset = offset;
    return static_cast<int32_t>(offset * bendUnitsPerSemitone + static_cast<float>(kBendCentre));
}

void MidiOut::bendTo(float target, uint8_t channel)
{
    // A bend beyond the 14-bit range is held at its end.
    const int32_t bend = std::clamp(echoBend(target), 0, 16383);
    if (!stopped)
        sendShort(kPitchBendStatus | (channel & 0x0F), bend & 0x7F, (bend >> 7) & 0x7F);
}

void MidiOut::echoNoteOn(float pitch, uint8_t velocity, uint8_t channel)
{
    echoSounding = true;
    if (stopped)
        return;
    const uint8_t note = clampNote(roundHalfUp(pitch));
    echoNote = note;
    sendShort(kNoteOnStatus | (channel & 0x0F), note, velocity);
}

void MidiOut::noteOff(uint8_t note, uint8_t velocity, uint8_t channel)
{
    if (stopped)
        return;
    echoNote = 0.0f;
    echoSounding = false;
    sendShort(kNoteOffStatus | (channel & 0x0F), note, velocity);
}

void MidiOut::auditionNote(uint8_t note, uint8_t velocity, uint8_t channel)
{
    if (!isOpen)
        open(deviceId);
    sendShort(kNoteOnStatus | (channel & 0x0F), note, velocity);
}

void MidiOut::click(uint8_t note, uint8_t velocity, uint8_t channel)
{
    if (!stopped)
        sendShort(kNoteOnStatus | (channel & 0x0F), note, velocity);
}

void MidiOut::echoFrame(int32_t frame)
{
    if (notes == nullptr || !notes->hasRawFrames())
        return;
    const RawFrame& newest = *notes->raw->last();
    const float pitch = static_cast<float>(songSettings.octaveShift * 12) + newest.pitch;
    const int32_t diff = frame - newest.frame;
    if (echoSounding) {
        if (diff == 0) {
            bendTo(pitch, 0);
        } else if (diff > 1) {
            noteOff(clampNote(static_cast<int32_t>(echoNote)), kReleaseVelocity, 0);
            centreBend(0);
        }
    }
    if (diff == 0 && !echoSounding) {
        echoNoteOn(pitch, kEchoVelocity, 0);
        bendTo(pitch, 0);
    }
}
