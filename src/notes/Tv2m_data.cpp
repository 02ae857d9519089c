#include "notes/Tv2m_data.h"

#include <cmath>
#include <new>

SongSettings songSettings;
SongSettings storedSongSettings;
RingtoneSettings ringtoneSettings;

RawTrack::~RawTrack()
{
    for (int32_t i = 0; i < count; ++i) {
        delete[] data[i].candidates;
        data[i].candidates = nullptr;
    }
}

void RawTrack::removeFrame(int32_t pos)
{
    RawFrame* frame = at(pos);
    if (frame == nullptr)
        return;
    delete[] frame->candidates;
    frame->candidates = nullptr;
    removeAt(pos);
}

NoteSequence::NoteSequence() : DynArray<NoteEvent>(32)
{
    recognised = false;
    maxLevel = 0;
    clear();
    raw.reset();
    songSettings = storedSongSettings;
    params.format = nullptr;
}

bool NoteSequence::beginRecording(bool resetTempo)
{
    nearHalfCount = 0;
    recognised = false;
    maxLevel = 0;
    if (resetTempo) {
        songSettings.tempo = 120;
        songSettings.recordTempo = 120;
    }
    songSettings.meterNum = 4;
    songSettings.meterDen = 4;
    clear();
    raw.reset();
    raw.reset(new (std::nothrow) RawTrack(100));
    if (raw && raw->error)
        raw.reset();
    return raw == nullptr;
}

int32_t NoteSequence::findNoteAt(int32_t t, bool exact) const
{
    int32_t m = count / 2;
    if (m < 1)
        return 0;
    const int32_t h = m / 2;
    if (data[m].start <= t) {
        m += h;
        if (data[m].start > t)
            m -= h;
    } else {
        m -= h;
        if (data[m].start > t)
            m = 0;
    }
    while (m < count) {
        if (data[m].start > t) {
            --m;
            break;
        }
        ++m;
    }
    if (m >= count)
        m = count - 1;
    if (exact && (m < 0 || t < data[m].start || data[m].start + data[m].duration < t))
        return -1;
    return m;
}

void resetRingtoneSettings(const NoteSequence& notes)
{
    ringtoneSettings.reserved = 0;
    ringtoneSettings.tempoIndex = 14;
    ringtoneSettings.patch = 70;
    ringtoneSettings.patch2 = 70;
    ringtoneSettings.octave = notes.octaveRoom;
    ringtoneSettings.octaveShift = notes.octaveShift;
    ringtoneSettings.noteDivision = notes.noteDivision;
    ringtoneSettings.medianOctave = notes.medianOctave;
}

float hertzToPitch(float frequency)
{
    if (frequency == 0.0f)
        return 0.0f;
    return 12.0f * (std::log2(frequency) - 6.7813597f) + 45.0f;
}

int32_t roundHalfUp(float pitch)
{
    const int32_t n = static_cast<int32_t>(pitch);
    return (pitch - static_cast<float>(n) >= 0.5f) ? n + 1 : n;
}
