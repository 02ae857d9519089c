#pragma once
// Real-time, time-domain pitch analyser. Each input buffer is one 28 ms frame: the frame
// is low-pass filtered and cut into rising and falling runs; the turning points between
// the runs are grouped by the size of their swing, and the distance at which similar
// turning points recur gives the period. A voiced frame appends one RawFrame (two when
// it also fills a one-frame gap) to the note sequence's raw track.
//
// feed() runs on whichever thread delivers the audio and takes no lock; begin() and
// stop() run on the window thread while no audio is being delivered. All members, the
// analysis steps included, are public so that each step can be driven and checked alone.

#include <atomic>
#include <cstdint>

#include "audio/WaveFormat.h"
#include "notes/DynArray.h"
#include "notes/Tv2m_data.h"

constexpr int32_t kFrameMs = 28;
constexpr float kLowPassHz = 654.0f;
constexpr int32_t kMaxFilterTaps = 16;
// Sample rates the analyser accepts: the low-pass corner must lie below half the rate,
// and the filter must fit in its 16 taps.
constexpr uint32_t kMinAnalysisRate = 1309;
constexpr uint32_t kMaxAnalysisRate = 384000;

class PitchAnalyser {
public:
    int32_t* samples = nullptr; // the frame's samples, filtered in place
    int32_t sampleCount = 0;
    int32_t sampleCapacity = 0;
    int32_t frameMs = 0;
    DynArray<PitchCandidate> candidates; // the frame's frequency candidates
    NoteSequence* note = nullptr;
    AnalysisParams* params = nullptr;
    SongSettings* settings = nullptr;
    std::atomic<bool> active{false}; // read by the window thread while feed runs on a driver thread
    int32_t frameCounter = 0;        // frames fed since begin; the index of the frame being analysed
    int32_t bytesPerSample = 0;
    int32_t* periodLists[5] = {}; // [1..4]: periods of the selected groups
    int32_t meanSwing = 0;
    int32_t level = 0;
    int32_t selection[5] = {}; // [0] = number of selected groups, [1..4] = their codes
    int16_t* histograms[2] = {}; // members per group: [0] peaks (odd codes), [1] troughs (even codes)
    int32_t runCounter = 0;      // consecutive voiced frames
    int16_t prevFreq = 0;        // running average of emitted frequencies, Hz
    float prevPitch = 0;
    int32_t prevLevel = 0;
    uint8_t* dir = nullptr; // per sample: 1 rising, 0 falling
    int32_t* tpPos = nullptr;
    int32_t runs = 0; // rows of the turning-point table
    int32_t* tpSwing = nullptr;
    int32_t* tpRun = nullptr;
    int16_t* tpGroup = nullptr;
    int16_t* tpRank = nullptr;
    int16_t groupCandidates = 0;
    bool patternHit = false;
    bool steady = false;
    int32_t jumpDir = 0;

    // Low-pass filter for the current sample rate: y = (h0 + sum h[k] x[i+k-1]) * gain.
    int32_t filterTaps = 4;
    float filterCoeffs[kMaxFilterTaps + 1] = {}; // h[1..K]; [0] unused
    float filterCentre = 0;                      // h0
    float filterGain = 0;

    // Decoding and amplitude-grouping state of the current frame.
    int32_t channelCount = 0;
    int32_t* sortedSwings = nullptr;
    int32_t* sortedRows = nullptr;
    int32_t maxSwing = 0;
    int32_t peakGroups = 0;
    int32_t troughGroups = 0;
    int32_t firstPeakCount = 0;
    int32_t firstTroughCount = 0;
    int32_t sumDiff = 0;
    int32_t sumSwing = 0;

    PitchAnalyser();
    ~PitchAnalyser();
    PitchAnalyser(const PitchAnalyser&) = delete;
    PitchAnalyser& operator=(const PitchAnalyser&) = delete;

    // Derives the analysis thresholds from the input format into note.params.
    void setupParams(NoteSequence& note, const WAVEFORMATEX* format);
    // Starts a new raw track and resets the running state. The analyser becomes active
    // only for a supported format (PCM 8 or 16 bits, at least one channel, a sample rate
    // from kMinAnalysisRate to kMaxAnalysisRate) and when the raw track could be created.
    void begin(NoteSequence* note, bool resetTempo);
    // Analyses one buffer as one frame; ignored while not active.
    void feed(const uint8_t* data, uint32_t bytes);
    void stop();

    static bool isSupportedFormat(const WAVEFORMATEX* format);

    // Frame pipeline.
    void designFilter(float sampleRate);
    void decodeSamples(const uint8_t* data, uint32_t bytes);
    bool analyseFrame(); // true when the frame was voiced
    void filterSamples();
    void findDirections();
    bool analyseTurningPoints();
    void buildTurningPointTable();
    int32_t buildGroups(); // number of amplitude groups
    void sortSwings();
    void buildPeakGroups();
    void buildTroughGroups();
    void testSteady();
    void measureLevel();
    bool isSimilar(int32_t previous, int32_t candidate, int32_t previousRun, int32_t candidateRun) const;
    void buildRankLabels();

    // Candidates, vote and emission.
    int16_t voteHint() const;
    int32_t patternSearch(const int16_t* labels, int32_t windowLength);
    bool steadyPath();
    bool patternFlow();
    bool groupPeriods(); // true when the vote gave a frequency
    void countGroupMembers();
    void selectGroups();
    void measureGroupPeriod(int16_t code, int32_t* list);
    float voteFrequency(DynArray<PitchCandidate>& list, int16_t hint);
    void emitFrame(float frequency);
    bool applyJumpGuard(float& pitch, float& frequency); // true when the frame is held
    static float snapToOctave(float pitch, float target);

private:
    bool tablesReady() const;
    void allocateTables();
    void releaseTables();
    void clearTurningPointTables();
    int32_t nextWindow(const int16_t* labels, int32_t windowLength, int32_t& position, int32_t* values) const;
};
