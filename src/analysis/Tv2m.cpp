#include "analysis/Tv2m.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "notes/QuickSort.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr int16_t kLevelCeiling = 32767; // RawFrame.level is 16-bit

bool isInRange(float frequency)
{
    return frequency >= kMinFreqHz && frequency < kMaxFreqHz;
}

template <typename T>
T* obtainZeroed(int32_t count)
{
    return static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
}

template <typename T>
void releaseBlock(T*& block)
{
    std::free(block);
    block = nullptr;
}

int16_t storedLevel(int32_t level)
{
    return static_cast<int16_t>(std::min<int32_t>(level, kLevelCeiling));
}

// Similarity scale and minimum score of a label-pattern comparison, by window length.
struct PatternThreshold {
    float scale;
    float minimumScore;
};

PatternThreshold patternThreshold(int32_t windowLength)
{
    switch (windowLength) {
    case 2:
        return {1.0f, 1.0f};
    case 4:
        return {0.1f, 0.8f};
    default:
        return {0.0011905f, 0.95238f};
    }
}

} // namespace

PitchAnalyser::PitchAnalyser()
{
    candidates.init(0);
}

PitchAnalyser::~PitchAnalyser()
{
    releaseTables();
    releaseBlock(samples);
}

void PitchAnalyser::setupParams(NoteSequence& sequence, const WAVEFORMATEX* format)
{
    AnalysisParams& p = sequence.params;
    p = AnalysisParams{};
    p.format = format;
    if (format == nullptr)
        return;
    const float bits = static_cast<float>(format->wBitsPerSample);
    const float rate = static_cast<float>(format->nSamplesPerSec);
    const float fullScale = std::ldexp(1.0f, format->wBitsPerSample);
    p.relFloor = 0.05f / (bits * 0.0625f);
    p.runTolerance = 0.1f / (rate * 0.0000484f - 0.04f);
    p.periodDeviation = 0.17f;
    p.gate = static_cast<int32_t>(fullScale * 0.02f);
    p.sampleRate = rate;
    p.fullScale = fullScale;
}

bool PitchAnalyser::isSupportedFormat(const WAVEFORMATEX* format)
{
    return format != nullptr && (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) &&
           format->nChannels >= 1 && format->nSamplesPerSec >= kMinAnalysisRate &&
           format->nSamplesPerSec <= kMaxAnalysisRate;
}

void PitchAnalyser::begin(NoteSequence* sequence, bool resetTempo)
{
    active = false;
    if (sequence == nullptr)
        return;
    note = sequence;
    params = &sequence->params;
    settings = &songSettings;
    const bool trackFailed = sequence->beginRecording(resetTempo);

    const WAVEFORMATEX* format = params->format;
    releaseTables();
    releaseBlock(samples);
    sampleCapacity = 0;
    sampleCount = 0;
    frameMs = kFrameMs;
    frameCounter = 0;
    prevFreq = 0;
    prevPitch = 0;
    prevLevel = 0;
    jumpDir = 0;
    runCounter = 0;
    if (trackFailed || !isSupportedFormat(format))
        return;

    const float rate = static_cast<float>(format->nSamplesPerSec);
    sampleCapacity = static_cast<int32_t>(rate * static_cast<float>(kFrameMs) * 0.001f + 16.0f);
    samples = obtainZeroed<int32_t>(sampleCapacity);
    bytesPerSample = format->wBitsPerSample / 8;
    channelCount = format->nChannels;
    allocateTables();
    designFilter(rate);
    active = true;
}

void PitchAnalyser::feed(const uint8_t* data, uint32_t bytes)
{
    if (!active)
        return;
    decodeSamples(data, bytes);
    analyseFrame();
}

void PitchAnalyser::stop()
{
    active = false;
    releaseTables();
    releaseBlock(samples);
}

// The per-frame tables are obtained once per conversion, sized for the largest frame,
// and cleared at the start of every frame.
void PitchAnalyser::allocateTables()
{
    const int32_t rows = sampleCapacity;
    dir = obtainZeroed<uint8_t>(rows);
    tpPos = obtainZeroed<int32_t>(rows);
    tpSwing = obtainZeroed<int32_t>(rows);
    tpRun = obtainZeroed<int32_t>(rows);
    tpGroup = obtainZeroed<int16_t>(rows);
    tpRank = obtainZeroed<int16_t>(rows);
    sortedSwings = obtainZeroed<int32_t>(rows);
    sortedRows = obtainZeroed<int32_t>(rows);
    histograms[0] = obtainZeroed<int16_t>(rows + 1);
    histograms[1] = obtainZeroed<int16_t>(rows + 1);
    for (int32_t s = 1; s <= 4; ++s)
        periodLists[s] = obtainZeroed<int32_t>(rows);
}

void PitchAnalyser::releaseTables()
{
    releaseBlock(dir);
    releaseBlock(tpPos);
    releaseBlock(tpSwing);
    releaseBlock(tpRun);
    releaseBlock(tpGroup);
    releaseBlock(tpRank);
    releaseBlock(sortedSwings);
    releaseBlock(sortedRows);
    releaseBlock(histograms[0]);
    releaseBlock(histograms[1]);
    for (int32_t s = 1; s <= 4; ++s)
        releaseBlock(periodLists[s]);
}

bool PitchAnalyser::tablesReady() const
{
    return samples != nullptr && dir != nullptr && tpPos != nullptr && tpSwing != nullptr && tpRun != nullptr &&
           tpGroup != nullptr && tpRank != nullptr && sortedSwings != nullptr && sortedRows != nullptr &&
           histograms[0] != nullptr && histograms[1] != nullptr && periodLists[1] != nullptr &&
           periodLists[2] != nullptr && periodLists[3] != nullptr && periodLists[4] != nullptr;
}

void PitchAnalyser::designFilter(float sampleRate)
{
    int32_t taps = static_cast<int32_t>(1.0f / (1274.0f / sampleRate + 0.0566f));
    if (taps % 2 != 0)
        ++taps;
    filterTaps = taps;
    const float wc = 2.0f * kPi * kLowPassHz / sampleRate;
    filterCentre = wc / kPi;
    double sum = filterCentre;
    for (int32_t k = 1; k <= taps; ++k) {
        filterCoeffs[k] = std::sin(wc * static_cast<float>(k)) / (static_cast<float>(k) * kPi);
        sum += filterCoeffs[k];
    }
    filterGain = static_cast<float>(1.0 / sum);
}

// Takes the first channel of each sample frame. A buffer longer than the sample buffer
// is cut to its capacity; bytes that do not fill a whole sample frame are ignored.
void PitchAnalyser::decodeSamples(const uint8_t* data, uint32_t bytes)
{
    const uint32_t stride = static_cast<uint32_t>(bytesPerSample * channelCount);
    uint32_t count = (data != nullptr && samples != nullptr && stride > 0) ? bytes / stride : 0;
    count = std::min(count, static_cast<uint32_t>(sampleCapacity));
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* sample = data + static_cast<size_t>(i) * stride;
        if (bytesPerSample == 1)
            samples[i] = static_cast<int32_t>(sample[0]) - 128;
        else
            samples[i] = static_cast<int16_t>(static_cast<uint16_t>(sample[0] | (sample[1] << 8)));
    }
    sampleCount = static_cast<int32_t>(count);
}

bool PitchAnalyser::analyseFrame()
{
    candidates.clear();
    steady = false;
    patternHit = false;
    groupCandidates = 0;
    meanSwing = 0;
    level = 0;
    runs = 0;
    selection[0] = 0;

    bool voiced = false;
    if (tablesReady()) {
        std::memset(dir, 0, static_cast<size_t>(sampleCount));
        filterSamples();
        findDirections();
        if (runs >= 2)
            voiced = analyseTurningPoints();
    }

    ++frameCounter;
    if (!voiced) {
        const RawFrame* last = note->raw ? note->raw->last() : nullptr;
        if (last == nullptr || frameCounter - last->frame > 2)
            runCounter = 0;
    }
    return voiced;
}

// In place: each output reads only samples at or after its own index. The outputs are
// summed a block at a time, tap by tap: a whole block inside the frame is a loop of fixed
// length that the compiler vectorises. Every output still adds its taps in the same
// order, so the result is the same to the bit.
void PitchAnalyser::filterSamples()
{
    constexpr int32_t kBlock = 64;
    const int32_t n = sampleCount;
    float acc[kBlock];
    for (int32_t start = 0; start < n; start += kBlock) {
        const int32_t count = std::min(kBlock, n - start);
        for (int32_t j = 0; j < kBlock; ++j)
            acc[j] = filterCentre;
        for (int32_t k = 1; k <= filterTaps; ++k) {
            const float coeff = filterCoeffs[k];
            const int32_t* tap = samples + start + k - 1;
            if (start + k - 1 + kBlock <= n) {
                for (int32_t j = 0; j < kBlock; ++j)
                    acc[j] += coeff * static_cast<float>(tap[j]);
                continue;
            }
            // Taps past the frame's end read its last sample.
            const float lastSample = static_cast<float>(samples[n - 1]);
            for (int32_t j = 0; j < count; ++j)
                acc[j] += coeff * (start + k - 1 + j < n ? static_cast<float>(tap[j]) : lastSample);
        }
        for (int32_t j = 0; j < count; ++j)
            samples[start + j] = static_cast<int32_t>(acc[j] * filterGain);
    }
}

// Equal neighbours keep the running direction. Computed without branches: the direction
// of audio changes every few samples, so branches on it would be mispredicted often.
void PitchAnalyser::findDirections()
{
    const int32_t n = sampleCount;
    uint8_t direction = n > 0 ? dir[0] : 0;
    for (int32_t i = 1; i < n; ++i) {
        const int32_t before = samples[i - 1];
        const int32_t now = samples[i];
        direction = static_cast<uint8_t>((before < now) | ((before == now) & direction));
        dir[i] = direction;
    }
    if (n >= 2)
        dir[0] = dir[1];
    int32_t changes = 0;
    for (int32_t i = 1; i < n; ++i)
        changes += dir[i] != dir[i - 1];
    runs = 1 + changes;
}

void PitchAnalyser::clearTurningPointTables()
{
    const size_t rows = static_cast<size_t>(runs);
    std::memset(tpPos, 0, rows * sizeof(int32_t));
    std::memset(tpSwing, 0, rows * sizeof(int32_t));
    std::memset(tpRun, 0, rows * sizeof(int32_t));
    std::memset(tpGroup, 0, rows * sizeof(int16_t));
    std::memset(tpRank, 0, rows * sizeof(int16_t));
}

// The decision flow of a frame with at least one turning point.
bool PitchAnalyser::analyseTurningPoints()
{
    clearTurningPointTables();
    buildTurningPointTable();
    if (buildGroups() == 0 || meanSwing < params->gate)
        return false;
    if (steady && steadyPath())
        return true;
    buildRankLabels();
    patternSearch(tpRank, 4);
    if (patternFlow())
        return true;
    return groupPeriods();
}

// Row 0 is a dummy; row j holds the turning point that ends run j.
void PitchAnalyser::buildTurningPointTable()
{
    const int32_t n = sampleCount;
    int32_t j = 1;
    for (int32_t i = 1; i < n; ++i) {
        if (dir[i] == dir[i - 1])
            continue;
        tpPos[j] = i - 1;
        tpSwing[j] = samples[i - 1] - samples[tpPos[j - 1]];
        const int32_t run = tpPos[j] - tpPos[j - 1];
        tpRun[j] = dir[i - 1] == 0 ? -run : run;
        ++j;
    }
}

int32_t PitchAnalyser::buildGroups()
{
    peakGroups = 0;
    troughGroups = 0;
    firstPeakCount = 0;
    firstTroughCount = 0;
    sumDiff = 0;
    sumSwing = 0;
    maxSwing = 0;
    for (int32_t r = 0; r < runs; ++r)
        maxSwing = std::max(maxSwing, std::abs(tpSwing[r]));
    if (maxSwing <= params->gate)
        return 0;

    sortSwings();
    buildPeakGroups();
    buildTroughGroups();
    testSteady();
    measureLevel();
    return peakGroups + troughGroups;
}

// Descending copy of the swings with their row numbers.
void PitchAnalyser::sortSwings()
{
    for (int32_t r = 0; r < runs; ++r) {
        sortedSwings[r] = tpSwing[r];
        sortedRows[r] = r;
    }
    quickSort(
        0, runs - 1, [this](int i) { return sortedSwings[i]; }, [](int32_t a, int32_t b) { return a > b; },
        [this](int i, int j) {
            std::swap(sortedSwings[i], sortedSwings[j]);
            std::swap(sortedRows[i], sortedRows[j]);
        });
}

bool PitchAnalyser::isSimilar(int32_t previous, int32_t candidate, int32_t previousRun, int32_t candidateRun) const
{
    const float b = static_cast<float>(previous);
    const float c = static_cast<float>(candidate);
    if (c >= (1.0f - params->relFloor) * b)
        return true;
    if (c < 0.7f * b || previousRun == 0)
        return false;
    const float ratio = static_cast<float>(candidateRun) / static_cast<float>(previousRun);
    return ratio > 1.0f - params->runTolerance && ratio < 1.0f + params->runTolerance;
}

// Odd labels, largest swings first. A group may step over one dissimilar swing.
void PitchAnalyser::buildPeakGroups()
{
    const int32_t* s = sortedSwings;
    const int32_t* row = sortedRows;
    const int32_t floor = static_cast<int32_t>(std::ceil(static_cast<float>(s[0]) * params->relFloor));
    int16_t label = 1;
    int32_t j = 1;
    while (j < runs && s[j] > floor) {
        const int32_t seedRow = row[j - 1];
        tpGroup[seedRow] = label;
        int32_t members = 1;
        while (j < runs) {
            int32_t taken;
            if (isSimilar(s[j - 1], s[j], tpRun[row[j - 1]], tpRun[row[j]]))
                taken = j;
            else if (j < runs - 1 && isSimilar(s[j - 1], s[j + 1], tpRun[row[j - 1]], tpRun[row[j + 1]]))
                taken = j + 1;
            else
                break;
            tpGroup[row[taken]] = label;
            ++members;
            if (label == 1) {
                sumDiff += std::abs(s[j - 1] - s[taken]);
                sumSwing += s[taken];
            }
            j = taken + 1;
        }
        if (members > 1) {
            if (label == 1)
                firstPeakCount = members;
            label = static_cast<int16_t>(label + 2);
            ++peakGroups;
        } else {
            tpGroup[seedRow] = 0;
        }
        ++j;
    }
}

// Even labels, deepest troughs first, compared by magnitude; no skipping.
void PitchAnalyser::buildTroughGroups()
{
    const int32_t* s = sortedSwings;
    const int32_t* row = sortedRows;
    const int32_t floor = static_cast<int32_t>(std::ceil(static_cast<float>(s[runs - 1]) * params->relFloor));
    int16_t label = 2;
    int32_t j = runs - 2;
    while (j >= 0 && s[j] < floor) {
        const int32_t seedRow = row[j + 1];
        tpGroup[seedRow] = label;
        int32_t members = 1;
        while (j >= 0 && isSimilar(std::abs(s[j + 1]), std::abs(s[j]), tpRun[row[j + 1]], tpRun[row[j]])) {
            tpGroup[row[j]] = label;
            ++members;
            --j;
        }
        if (members > 1) {
            if (label == 2)
                firstTroughCount = members;
            label = static_cast<int16_t>(label + 2);
            ++troughGroups;
        } else {
            tpGroup[seedRow] = 0;
        }
        --j;
    }
}

// Steady: the two main groups hold most turning points and the main peaks barely vary.
void PitchAnalyser::testSteady()
{
    if (firstPeakCount <= 0)
        return;
    const float share = static_cast<float>(firstPeakCount + firstTroughCount) / static_cast<float>(runs);
    const int32_t meanDiff = sumDiff / firstPeakCount;
    const int32_t meanMemberSwing = sumSwing / firstPeakCount;
    steady = share > 0.7f && meanMemberSwing > 0 &&
             static_cast<float>(meanDiff) / static_cast<float>(meanMemberSwing) <= 0.1f;
}

// Level: mean swing of the two main groups. On the very first frame the gate is tested
// against the largest swing instead.
void PitchAnalyser::measureLevel()
{
    int32_t sum = 0;
    int32_t count = 0;
    for (int32_t r = 0; r < runs; ++r) {
        if (tpGroup[r] == 1 || tpGroup[r] == 2) {
            sum += std::abs(tpSwing[r]);
            ++count;
        }
    }
    level = count > 0 ? sum / count : 0;
    meanSwing = frameCounter == 0 ? maxSwing : level;
}

// Cuts the table into periods that begin at rows of group 1 and ranks up to four
// turning points of each period by run length.
void PitchAnalyser::buildRankLabels()
{
    int32_t i = 0;
    for (;;) {
        while (i < runs && tpGroup[i] != 1)
            ++i;
        if (i >= runs)
            return;

        int32_t keptRows[4];
        int32_t keptLengths[4];
        int32_t kept = 0;
        const auto keep = [&](int32_t row, int32_t length) {
            int32_t at = 0;
            while (at < kept && keptLengths[at] > length)
                ++at;
            for (int32_t m = kept; m > at; --m) {
                keptRows[m] = keptRows[m - 1];
                keptLengths[m] = keptLengths[m - 1];
            }
            keptRows[at] = row;
            keptLengths[at] = length;
            ++kept;
        };
        keep(i, tpRun[i]);
        int32_t k = i + 1;
        while (k < runs && tpGroup[k] != 1 && kept < 4) {
            if (tpGroup[k] != 0)
                keep(k, std::abs(tpRun[k]));
            ++k;
        }

        int16_t rank = 1;
        tpRank[keptRows[0]] = rank;
        for (int32_t m = 1; m < kept; ++m) {
            if (static_cast<float>(keptLengths[m - 1]) / static_cast<float>(keptLengths[m]) - 1.0f > 0.1f)
                ++rank;
            tpRank[keptRows[m]] = rank;
        }
        i = k;
    }
}

int16_t PitchAnalyser::voteHint() const
{
    return runCounter > 0 ? prevFreq : 0;
}

// Finds the next window: the first row labelled 1 at or after `position` and the
// magnitudes of the labels from there on. Returns its start row, or -1 when no full
// window is left.
int32_t PitchAnalyser::nextWindow(const int16_t* labels, int32_t windowLength, int32_t& position,
                                  int32_t* values) const
{
    int32_t start = position;
    while (start < runs && labels[start] != 1)
        ++start;
    if (start + windowLength > runs)
        return -1;
    for (int32_t v = 0; v < windowLength; ++v)
        values[v] = std::abs(labels[start + v]);
    position = start + windowLength;
    return start;
}

// Compares each window of labels with the one before it; a match gives the distance
// between the two windows as a period. Windows of 2, 4 or 8 labels.
int32_t PitchAnalyser::patternSearch(const int16_t* labels, int32_t windowLength)
{
    if (windowLength != 2 && windowLength != 4 && windowLength != 8)
        return 0;
    const PatternThreshold threshold = patternThreshold(windowLength);
    int32_t reference[8];
    int32_t current[8];
    int32_t position = 0;
    int32_t referenceStart = nextWindow(labels, windowLength, position, reference);
    if (referenceStart < 0)
        return 0;
    int32_t appended = 0;
    for (;;) {
        const int32_t currentStart = nextWindow(labels, windowLength, position, current);
        if (currentStart < 0)
            break;
        int32_t squares = 0;
        for (int32_t v = 0; v < windowLength; ++v)
            squares += (reference[v] - current[v]) * (reference[v] - current[v]);
        const float score = 1.0f - threshold.scale * static_cast<float>(squares);
        if (score >= threshold.minimumScore) {
            const int32_t period = tpPos[currentStart] - tpPos[referenceStart];
            const float frequency = params->sampleRate / static_cast<float>(period);
            if (isInRange(frequency) &&
                candidates.append(PitchCandidate{0, static_cast<int16_t>(windowLength), frequency}))
                ++appended;
        }
        std::copy(current, current + windowLength, reference);
        referenceStart = currentStart;
    }
    return appended;
}

bool PitchAnalyser::steadyPath()
{
    patternSearch(tpGroup, 2);
    const float frequency = voteFrequency(candidates, voteHint());
    if (frequency < 1.0f)
        return false;
    emitFrame(frequency);
    return true;
}

bool PitchAnalyser::patternFlow()
{
    patternSearch(tpGroup, 4);
    if (candidates.count < 5)
        patternSearch(tpGroup, 8);
    const float frequency = voteFrequency(candidates, voteHint());
    if (frequency < 1.0f)
        return false;
    emitFrame(frequency);
    patternHit = true;
    return true;
}

bool PitchAnalyser::groupPeriods()
{
    countGroupMembers();
    selectGroups();
    if (selection[0] == 0)
        return false;
    for (int32_t s = 1; s <= selection[0]; ++s)
        measureGroupPeriod(static_cast<int16_t>(selection[s]), periodLists[s]);
    const float frequency = voteFrequency(candidates, voteHint());
    if (frequency > 0.0f)
        emitFrame(frequency);
    return frequency != 0.0f;
}

void PitchAnalyser::countGroupMembers()
{
    int16_t* peaks = histograms[0];
    int16_t* troughs = histograms[1];
    std::memset(peaks, 0, static_cast<size_t>(peakGroups + 1) * sizeof(int16_t));
    std::memset(troughs, 0, static_cast<size_t>(troughGroups + 1) * sizeof(int16_t));
    peaks[0] = static_cast<int16_t>(peakGroups);
    troughs[0] = static_cast<int16_t>(troughGroups);
    for (int32_t r = 0; r < runs; ++r) {
        const int16_t code = tpGroup[r];
        if (code % 2 != 0)
            ++peaks[(code + 1) / 2];
        else if (code > 0)
            ++troughs[code / 2];
    }
}

// Peak and trough groups alternate, largest swings first; one pass may take the
// selection from 2 to 4.
void PitchAnalyser::selectGroups()
{
    const int16_t* peaks = histograms[0];
    const int16_t* troughs = histograms[1];
    int32_t count = 0;
    int32_t j = 1;
    int32_t i = 1;
    while (count < 3 && (j <= peaks[0] || i <= troughs[0])) {
        if (j <= peaks[0]) {
            if (peaks[j] > 1)
                selection[++count] = 2 * j - 1;
            ++j;
        }
        if (i <= troughs[0]) {
            if (troughs[i] > 1)
                selection[++count] = 2 * i;
            ++i;
        }
    }
    selection[0] = count;
}

// The list gets the distances between successive members of the group, followed by the
// last member's position; periods that stray from their neighbour are outliers.
void PitchAnalyser::measureGroupPeriod(int16_t code, int32_t* list)
{
    const bool isPeak = code % 2 != 0;
    const int32_t groupNumber = isPeak ? (code + 1) / 2 : code / 2;
    const int32_t members = histograms[isPeak ? 0 : 1][groupNumber];
    int32_t m = 0;
    for (int32_t r = 0; r < runs && m < members; ++r) {
        if (tpGroup[r] != code)
            continue;
        if (m > 0)
            list[m - 1] = tpPos[r] - list[m - 1];
        list[m++] = tpPos[r];
    }

    int32_t kept = m < 3 ? 1 : 0;
    int32_t sum = m < 3 ? list[0] : 0;
    int32_t outliers = 0;
    for (int32_t l = 1; l < m; ++l) {
        if (static_cast<float>(std::abs(list[l - 1] - list[l])) > params->periodDeviation * static_cast<float>(list[l - 1])) {
            ++outliers;
            continue;
        }
        ++kept;
        sum += list[l - 1];
        if (l == m - 1) {
            ++kept;
            sum += list[l];
        }
    }
    if (kept < outliers || kept == 0 || sum <= 0)
        return;
    float frequency = std::ceil(params->sampleRate / (static_cast<float>(sum) / static_cast<float>(kept)));
    if (!isInRange(frequency))
        frequency = 0.0f;
    if (frequency > 1.0f &&
        candidates.append(PitchCandidate{groupNumber, static_cast<int16_t>(outliers), frequency}))
        ++groupCandidates;
}

// Histogram vote over the candidate values: the mean of the fullest bin. On a tie the
// hint joins the list once and the vote is repeated.
float PitchAnalyser::voteFrequency(DynArray<PitchCandidate>& list, int16_t hint)
{
    const int32_t n = list.count;
    if (n < 2)
        return 0.0f;
    const int32_t bins = n < 5 ? 3 : 5;
    float lo = 1099.0f;
    float hi = 0.0f;
    double total = 0.0;
    for (int32_t c = 0; c < n; ++c) {
        const float value = list[c].value;
        lo = std::min(lo, value);
        hi = std::max(hi, value);
        total += value;
    }
    if (1.05f * lo > hi)
        return static_cast<float>(total / n);

    const float step = (hi - lo) / static_cast<float>(bins);
    int16_t counts[5] = {};
    double sums[5] = {};
    for (int32_t c = 0; c < n; ++c) {
        const float value = list[c].value;
        int32_t b = 0;
        while (b < bins - 1 && !(value < lo + static_cast<float>(b + 1) * step))
            ++b;
        ++counts[b];
        sums[b] += value;
    }

    int32_t winner = 0;
    bool tied = false;
    for (int32_t b = 1; b < bins; ++b) {
        if (counts[b] > counts[winner]) {
            winner = b;
            tied = false;
        } else if (counts[b] == counts[winner]) {
            tied = true;
        }
    }
    if (!tied)
        return static_cast<float>(sums[winner] / counts[winner]);

    if (hint != 0) {
        list.append(PitchCandidate{0, 0, static_cast<float>(hint)});
        const float repeated = voteFrequency(list, 0);
        if (repeated != 0.0f)
            return repeated;
    }
    return static_cast<float>(total / n);
}

// Appends the frame to the raw track, after the jump guard, the level hold and the
// octave snap; a single unvoiced frame just before is filled with the previous pitch.
void PitchAnalyser::emitFrame(float frequency)
{
    if (frequency < 1.0f)
        return;
    RawTrack* track = note->raw.get();
    if (track == nullptr)
        return;
    const RawFrame* lastFrame = track->last();
    const bool hasLast = lastFrame != nullptr;
    const RawFrame last = hasLast ? *lastFrame : RawFrame{};

    float f = frequency;
    float p = hertzToPitch(f);
    bool held = false;
    if (runCounter > 2 && hasLast) {
        if (std::fabs(p - last.pitch) > 0.99f)
            held = applyJumpGuard(p, f);
        else
            jumpDir = 0;
        const bool levelCollapsed = level > 0 ? prevLevel / level > 5 : prevLevel > 0;
        if (!held && levelCollapsed) {
            p = last.pitch;
            f = last.frequency;
            held = true;
        }
    } else {
        jumpDir = 0;
    }

    if (prevFreq > 0) {
        if (runCounter < 2)
            p = snapToOctave(p, prevPitch);
    } else {
        prevFreq = static_cast<int16_t>(f);
        prevPitch = p;
        prevLevel = level;
    }
    if (static_cast<float>(level) > params->fullScale)
        level = static_cast<int32_t>(params->fullScale);

    if (hasLast && frameCounter - last.frame == 2) {
        ++runCounter;
        track->append(RawFrame{frameCounter - 1, 0, last.frequency, last.pitch,
                               storedLevel((last.level + level) / 2), nullptr});
    }

    int32_t candidateCount = held ? 0 : candidates.count;
    int16_t* copy = candidateCount > 0 ? new (std::nothrow) int16_t[static_cast<size_t>(candidateCount)] : nullptr;
    if (copy == nullptr)
        candidateCount = 0;
    for (int32_t c = 0; c < candidateCount; ++c)
        copy[c] = static_cast<int16_t>(static_cast<int32_t>(candidates[c].value));

    const int16_t frameLevel = storedLevel(level);
    note->maxLevel = std::max<int32_t>(note->maxLevel, frameLevel);
    const int32_t countBefore = track->count;
    track->append(RawFrame{frameCounter, candidateCount, f, p, frameLevel, copy});
    if (track->count == countBefore)
        delete[] copy;
    ++runCounter;

    prevFreq = static_cast<int16_t>((static_cast<float>(prevFreq) + f) * 0.5f);
    prevPitch = (prevPitch + p) * 0.5f;
    prevLevel = static_cast<int32_t>(static_cast<float>(prevLevel + level) * 0.5f);
    const float raisedGate = static_cast<float>(level) * 0.071f;
    if (static_cast<float>(params->gate) < raisedGate)
        params->gate = static_cast<int32_t>(raisedGate);
}

// A jump of a semitone or more away from a line that held for three frames is replaced
// by the previous pitch for one frame; a jump that lasts enters one frame late.
bool PitchAnalyser::applyJumpGuard(float& pitch, float& frequency)
{
    const RawTrack& track = *note->raw;
    const RawFrame* last = track.at(track.count - 1);
    const RawFrame* thirdLast = track.at(track.count - 3);
    if (last == nullptr || thirdLast == nullptr || roundHalfUp(last->pitch) != roundHalfUp(thirdLast->pitch))
        return false;
    const int32_t direction = pitch > last->pitch ? 1 : -1;
    bool held;
    if (jumpDir == 0) {
        jumpDir = direction;
        held = true;
    } else if ((jumpDir > 0) == (direction > 0)) {
        jumpDir += direction;
        held = false;
    } else {
        jumpDir = 0;
        held = true;
    }
    if (held) {
        pitch = last->pitch;
        frequency = last->frequency;
    }
    return held;
}

// Moves a pitch by whole octaves to within six semitones of the target.
float PitchAnalyser::snapToOctave(float pitch, float target)
{
    const float octave = pitch <= target ? 12.0f : -12.0f;
    const float distance = std::fabs(target - pitch);
    if (distance > 6.0f) {
        const int32_t octaves = static_cast<int32_t>(distance / 12.0f);
        pitch = pitch + static_cast<float>(octaves) * octave;
        if (std::fabs(target - pitch) > 6.0f)
            pitch = pitch + octave;
    }
    return pitch;
}
