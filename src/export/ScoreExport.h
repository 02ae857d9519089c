#pragma once
// The MIDI score for the accompaniment program: the melody as a Standard MIDI File with
// the chosen meter as its time signature and, for an off-beat start, a leading rest of
// the pause meter before the first note.

#include <cstdint>
#include <string>
#include <vector>

#include "notes/Tv2m_data.h"

inline const std::string kInvalidMeterText =
    "Please enter the meter as a number from 1 to 99 over 1, 2, 4, 8, 16 or 32 (such as 4/4, 3/4 or 6/8).";
inline const std::string kInvalidPauseText =
    "Please enter the pause as a number from 0 to 99 over 1, 2, 4, 8, 16 or 32 (such as 1/4).";

struct ScoreMeter {
    int num = 4;
    int den = 4;
    bool offBeat = false; // the melody starts after a pause of pauseNum/pauseDen
    int pauseNum = 4;
    int pauseDen = 4;
};

// The meter from the page's edits ("Set Meter" and, with "Off Beat", "Pause"). False, with
// the message to show, when a field is not such a fraction.
bool scoreMeterFromFields(const std::string& num, const std::string& den, bool offBeat, const std::string& pauseNum,
                          const std::string& pauseDen, ScoreMeter& meter, std::string& error);

// The leading rest in ticks: pauseNum x (a whole note / pauseDen) with "Off Beat", else 0.
int32_t leadingRestTicks(const ScoreMeter& meter, int32_t tpqn);

// The score file of the notes in the song's ticks, tempo, program and volume.
std::vector<uint8_t> buildScoreFile(const NoteSequence& notes, const SongSettings& song, const ScoreMeter& meter);

// WorkPath + the song name (RTTTL-safe, '/' left out) + ".mid".
std::string defaultScorePath(const std::string& workPath, const std::string& songName);

// Writes the score to `path` atomically. On success `exportPath` becomes `path`; otherwise
// it is emptied and `error` says why (no notes, or the file could not be written).
bool exportScoreFile(const NoteSequence& notes, const SongSettings& song, const ScoreMeter& meter,
                     const std::string& path, std::string& exportPath, std::string& error);
