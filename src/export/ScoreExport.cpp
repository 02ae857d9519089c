#include "export/ScoreExport.h"

#include "export/Rtttl_writer.h"
#include "midi/SmfWriter.h"

namespace {

bool readNumber(const std::string& text, int minimum, int maximum, int& value)
{
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return value >= minimum && value <= maximum;
}

bool readDenominator(const std::string& text, int& value)
{
    return readNumber(text, 1, 32, value) && (value & (value - 1)) == 0;
}

} // namespace

bool scoreMeterFromFields(const std::string& num, const std::string& den, bool offBeat, const std::string& pauseNum,
                          const std::string& pauseDen, ScoreMeter& meter, std::string& error)
{
    ScoreMeter read;
    read.offBeat = offBeat;
    if (!readNumber(num, 1, 99, read.num) || !readDenominator(den, read.den)) {
        error = kInvalidMeterText;
        return false;
    }
    if (offBeat && (!readNumber(pauseNum, 0, 99, read.pauseNum) || !readDenominator(pauseDen, read.pauseDen))) {
        error = kInvalidPauseText;
        return false;
    }
    meter = read;
    return true;
}

int32_t leadingRestTicks(const ScoreMeter& meter, int32_t tpqn)
{
    if (!meter.offBeat || meter.pauseDen <= 0)
        return 0;
    return meter.pauseNum * (4 * tpqn / meter.pauseDen);
}

std::vector<uint8_t> buildScoreFile(const NoteSequence& notes, const SongSettings& song, const ScoreMeter& meter)
{
    SongSettings scored = song;
    scored.meterNum = static_cast<uint8_t>(meter.num);
    scored.meterDen = static_cast<uint8_t>(meter.den);
    return buildScoreMidiFile(notes, scored, leadingRestTicks(meter, song.tpqn));
}

std::string defaultScorePath(const std::string& workPath, const std::string& songName)
{
    std::string name;
    for (char c : rtttlName(songName))
        if (c != '/')
            name += c;
    if (name.empty())
        name = kDefaultSongName;
    std::string folder = workPath;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder + name + ".mid";
}

bool exportScoreFile(const NoteSequence& notes, const SongSettings& song, const ScoreMeter& meter,
                     const std::string& path, std::string& exportPath, std::string& error)
{
    exportPath.clear();
    if (notes.count == 0) {
        error = "there are no notes to export.";
        return false;
    }
    if (!writeFileAtomically(path, buildScoreFile(notes, song, meter), error))
        return false;
    exportPath = path;
    return true;
}
