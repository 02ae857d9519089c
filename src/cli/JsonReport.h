#pragma once
// The JSON report of a conversion, for tools and for our own checks: the input format,
// the raw pitch track as analysed and after clean-up, the recognised notes with their
// times in seconds, and the recognition summary; and the same notes as a CSV list.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/WaveFormat.h"
#include "notes/Tv2m_data.h"

// A raw frame copied out of the track, so the track as analysed can be reported after
// the clean-up has changed it.
struct RawFrameCopy {
    int32_t frame;
    float frequency;
    float pitch;
    int16_t level;
    std::vector<int16_t> candidates;
};

std::vector<RawFrameCopy> copyRawTrack(const RawTrack& raw);

// The notes as CSV, one line each after the header "onset_s,offset_s,midi,velocity,cents",
// as note-transcription tools exchange them.
std::string buildCsvNoteList(const NoteSequence& notes, const SongSettings& song);

// The whole report; `notes` holds the cleaned raw track and the recognised notes in ticks.
std::string buildJsonReport(const WAVEFORMATEX& format, int32_t frames, const std::vector<RawFrameCopy>& analysed,
                            const NoteSequence& notes, const SongSettings& song);
