#include "analysis/ProbabilisticYin.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <mutex>

#include "notes/Tv2m_data.h"

namespace {

// The recording is analysed at about 11 kHz: enough for voices up to 1100 Hz, and a
// quarter of the work of 22 kHz.
constexpr double kAnalysisRate = 11025;
constexpr double kHopSeconds = 0.0116;
constexpr double kWindowSeconds = 0.0232;
// Thresholds 0.01 .. 1.00 of the difference function, with a beta prior of mean 0.15.
constexpr int kThresholds = 100;
constexpr double kPriorAlpha = 2.0;
constexpr double kPriorBeta = 34.0 / 3.0;
// Share of a threshold's weight given to the lowest trough when no trough lies below it.
constexpr double kLowestTroughShare = 0.01;
// Frames quieter than this (relative to full scale, and to the loudest frame) carry no
// candidates: breaths, hiss and room noise are not sung.
constexpr double kSilenceRms = 0.0015;
constexpr double kQuietRelative = 0.01;
// Pitch bins of the smoothing model: a third of a semitone from 55 Hz to 1100 Hz.
constexpr double kBinsPerSemitone = 3;
constexpr double kLowestPitch = 33.0; // 55 Hz
constexpr int kBins = 52 * 3 + 1;
// Largest pitch step between neighbouring frames, in bins (3 semitones per hop).
constexpr int kMaxStep = 9;
constexpr double kStayVoicing = 0.99;
// A frame on the path whose candidates hardly hold together (mostly a window reaching into
// silence at the edge of a note) is not trusted as voiced.
constexpr float kLeastVoicedProbability = 0.1f;

// FFTW's planner is not thread-safe: plans are made and destroyed under this lock.
std::mutex plannerLock;

struct Candidate {
    float hertz;
    float probability;
};

// Decimates by an integer factor after a windowed-sinc low-pass at 0.45 of the new rate.
std::vector<double> decimate(const std::vector<float>& in, int factor)
{
    std::vector<double> out((in.size() + factor - 1) / factor);
    if (factor == 1) {
        std::copy(in.begin(), in.end(), out.begin());
        return out;
    }
    const int half = 8 * factor;
    std::vector<double> taps(2 * half + 1);
    const double cutoff = 0.45 / factor;
    double sum = 0;
    for (int i = -half; i <= half; ++i) {
        const double x = 2 * cutoff * i;
        const double sinc = i == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
        const double window = 0.54 + 0.46 * std::cos(M_PI * i / (half + 1));
        taps[i + half] = sinc * window;
        sum += taps[i + half];
    }
    for (double& t : taps)
        t /= sum;
    const auto n = static_cast<int64_t>(in.size());
    for (size_t o = 0; o < out.size(); ++o) {
        const int64_t centre = static_cast<int64_t>(o) * factor;
        double acc = 0;
        if (centre - half >= 0 && centre + half < n) {
            const float* x = in.data() + centre - half;
            for (int i = 0; i <= 2 * half; ++i)
                acc += taps[i] * x[i];
        } else {
            for (int i = -half; i <= half; ++i) {
                const int64_t at = centre + i;
                if (at >= 0 && at < n)
                    acc += taps[i + half] * in[at];
            }
        }
        out[o] = acc;
    }
    return out;
}

// The prior's weight of the thresholds 0.01 .. i / 100, for i = 0 .. 100.
std::vector<double> cumulativeThresholdPrior()
{
    std::vector<double> cumulative(kThresholds + 1, 0.0);
    for (int i = 0; i < kThresholds; ++i) {
        const double s = (i + 1) / static_cast<double>(kThresholds) - 0.005;
        cumulative[i + 1] = cumulative[i] + std::pow(s, kPriorAlpha - 1) * std::pow(1 - s, kPriorBeta - 1);
    }
    for (double& p : cumulative)
        p /= cumulative[kThresholds];
    return cumulative;
}

// Number of thresholds i / 100 (i = 1 .. 100) at or below `value`.
int thresholdsAtOrBelow(double value)
{
    return std::clamp(static_cast<int>(std::floor(value * kThresholds + 1e-9)), 0, kThresholds);
}

// The difference function of each frame, by FFT cross-correlation, and its candidates.
class DifferenceAnalyser {
public:
    explicit DifferenceAnalyser(double rate)
        : rate(rate), window(static_cast<int>(std::lround(kWindowSeconds * rate))),
          minLag(static_cast<int>(std::floor(rate / kMaxFreqHz))),
          maxLag(static_cast<int>(std::ceil(rate / kMinFreqHz)) + 1), span(window + maxLag + 1),
          prior(cumulativeThresholdPrior())
    {
        size = 1;
        while (size < span + window)
            size *= 2;
        const std::lock_guard<std::mutex> planning(plannerLock);
        real = fftw_alloc_real(size);
        spectrumA = fftw_alloc_complex(size / 2 + 1);
        spectrumB = fftw_alloc_complex(size / 2 + 1);
        forward = fftw_plan_dft_r2c_1d(size, real, spectrumA, FFTW_ESTIMATE);
        inverse = fftw_plan_dft_c2r_1d(size, spectrumA, real, FFTW_ESTIMATE);
        difference.resize(maxLag + 2);
        normalised.resize(maxLag + 2);
        energy.resize(span + 1);
    }
    ~DifferenceAnalyser()
    {
        const std::lock_guard<std::mutex> planning(plannerLock);
        fftw_destroy_plan(forward);
        fftw_destroy_plan(inverse);
        fftw_free(real);
        fftw_free(spectrumA);
        fftw_free(spectrumB);
    }
    DifferenceAnalyser(const DifferenceAnalyser&) = delete;
    DifferenceAnalyser& operator=(const DifferenceAnalyser&) = delete;

    int windowLength() const { return window; }

    // Candidates of the frame whose integration window starts at `start`.
    void candidates(const std::vector<double>& x, int64_t start, std::vector<Candidate>& out)
    {
        out.clear();
        const auto n = static_cast<int64_t>(x.size());
        auto sample = [&](int64_t i) { return i >= 0 && i < n ? x[i] : 0.0; };
        energy[0] = 0;
        for (int j = 0; j < span; ++j) {
            const double v = sample(start + j);
            energy[j + 1] = energy[j] + v * v;
        }
        correlate(x, start);
        const double e0 = energy[window];
        double running = 0;
        normalised[0] = 1;
        for (int lag = 1; lag <= maxLag; ++lag) {
            const double eLag = energy[lag + window] - energy[lag];
            difference[lag] = std::max(e0 + eLag - 2 * correlation(lag), 0.0);
            running += difference[lag];
            normalised[lag] = running > 0 ? difference[lag] * lag / running : 1.0;
        }
        collectCandidates(out);
    }

private:
    void correlate(const std::vector<double>& x, int64_t start)
    {
        const auto n = static_cast<int64_t>(x.size());
        auto load = [&](int length) {
            for (int j = 0; j < size; ++j) {
                const int64_t i = start + j;
                real[j] = j < length && i >= 0 && i < n ? x[i] : 0.0;
            }
        };
        load(window);
        fftw_execute_dft_r2c(forward, real, spectrumA);
        load(span);
        fftw_execute_dft_r2c(forward, real, spectrumB);
        for (int k = 0; k <= size / 2; ++k) {
            const std::complex<double> a(spectrumA[k][0], spectrumA[k][1]);
            const std::complex<double> b(spectrumB[k][0], spectrumB[k][1]);
            const std::complex<double> c = std::conj(a) * b;
            spectrumA[k][0] = c.real();
            spectrumA[k][1] = c.imag();
        }
        fftw_execute_dft_c2r(inverse, spectrumA, real);
    }

    double correlation(int lag) const { return real[lag] / size; }

    void collectCandidates(std::vector<Candidate>& out)
    {
        troughs.clear();
        for (int lag = std::max(minLag, 2); lag < maxLag; ++lag) {
            if (normalised[lag] < normalised[lag - 1] && normalised[lag] <= normalised[lag + 1])
                troughs.push_back(lag);
        }
        if (troughs.empty())
            return;
        // A threshold s picks the first trough below it: trough t takes the thresholds above
        // its own value and at or below every earlier trough's. Thresholds at or below the
        // lowest trough pick none; a little of their weight goes to the lowest one.
        weights.assign(troughs.size(), 0.0);
        size_t lowest = 0;
        int covered = kThresholds; // thresholds above this count are taken by earlier troughs
        for (size_t t = 0; t < troughs.size(); ++t) {
            const int below = thresholdsAtOrBelow(normalised[troughs[t]]);
            if (below < covered) {
                weights[t] = prior[covered] - prior[below];
                covered = below;
                lowest = t;
            }
        }
        weights[lowest] += prior[covered] * kLowestTroughShare;
        for (size_t t = 0; t < troughs.size(); ++t) {
            if (weights[t] <= 0)
                continue;
            const int lag = troughs[t];
            const double hertz = rate / refinedLag(lag);
            if (hertz >= kMinFreqHz && hertz < kMaxFreqHz)
                out.push_back({static_cast<float>(hertz), static_cast<float>(weights[t])});
        }
    }

    // The trough's lag refined by a parabola through it and its neighbours.
    double refinedLag(int lag) const
    {
        const double a = normalised[lag - 1], b = normalised[lag], c = normalised[lag + 1];
        const double denominator = a - 2 * b + c;
        if (denominator <= 0)
            return lag;
        return lag + std::clamp(0.5 * (a - c) / denominator, -0.5, 0.5);
    }

    double rate;
    int window;
    int minLag;
    int maxLag;
    int span;
    int size = 0;
    std::vector<double> prior; // cumulative
    double* real = nullptr;
    fftw_complex* spectrumA = nullptr;
    fftw_complex* spectrumB = nullptr;
    fftw_plan forward = nullptr;
    fftw_plan inverse = nullptr;
    std::vector<double> difference;
    std::vector<double> normalised;
    std::vector<double> energy;
    std::vector<int> troughs;
    std::vector<double> weights;
};

int binOf(float hertz)
{
    const double bin = (hertzToPitch(hertz) - kLowestPitch) * kBinsPerSemitone;
    return std::clamp(static_cast<int>(std::lround(bin)), 0, kBins - 1);
}

// Viterbi over (pitch bin, voiced) and (pitch bin, unvoiced) states. Voiced states only
// exist where a candidate lies; unvoiced ones share the frame's unvoiced probability.
std::vector<int> decodePath(const std::vector<std::vector<Candidate>>& frames)
{
    constexpr float kImpossible = -std::numeric_limits<float>::infinity();
    constexpr int kStates = 2 * kBins; // [0, kBins) voiced, [kBins, 2 kBins) unvoiced
    std::vector<float> step(2 * kMaxStep + 1);
    double stepSum = 0;
    for (int d = -kMaxStep; d <= kMaxStep; ++d)
        stepSum += kMaxStep + 1 - std::abs(d);
    for (int d = -kMaxStep; d <= kMaxStep; ++d)
        step[d + kMaxStep] = static_cast<float>(std::log((kMaxStep + 1 - std::abs(d)) / stepSum));
    const float stay = static_cast<float>(std::log(kStayVoicing));
    const float change = static_cast<float>(std::log(1 - kStayVoicing));

    const size_t count = frames.size();
    std::vector<uint16_t> from(count * kStates);
    std::vector<float> score(kStates, static_cast<float>(std::log(1.0 / kStates)));
    std::vector<float> next(kStates);
    std::vector<float> voicedObservation(kBins);
    std::vector<int> voicedBins; // of the previous frame
    for (size_t t = 0; t < count; ++t) {
        std::fill(voicedObservation.begin(), voicedObservation.end(), 0.0f);
        float voiced = 0;
        for (const Candidate& c : frames[t]) {
            voicedObservation[binOf(c.hertz)] += c.probability;
            voiced += c.probability;
        }
        const float unvoicedLog = static_cast<float>(std::log(std::max(1.0f - voiced, 1e-6f) / kBins));
        for (int s = 0; s < kStates; ++s) {
            const bool toVoiced = s < kBins;
            const int bin = toVoiced ? s : s - kBins;
            if (toVoiced && voicedObservation[bin] <= 0) {
                next[s] = kImpossible;
                from[t * kStates + s] = 0;
                continue;
            }
            float best = kImpossible;
            int bestFrom = s;
            auto consider = [&](int source, float value) {
                if (value > best) {
                    best = value;
                    bestFrom = source;
                }
            };
            const float viaVoiced = toVoiced ? stay : change;
            const float viaUnvoiced = toVoiced ? change : stay;
            for (int d = -kMaxStep; d <= kMaxStep; ++d) {
                const int b = bin + d;
                if (b >= 0 && b < kBins)
                    consider(b + kBins, score[b + kBins] + step[d + kMaxStep] + viaUnvoiced);
            }
            // Only the bins that held a candidate in the previous frame are voiced there.
            for (const int b : voicedBins)
                if (std::abs(b - bin) <= kMaxStep)
                    consider(b, score[b] + step[b - bin + kMaxStep] + viaVoiced);
            next[s] = best + (toVoiced ? std::log(voicedObservation[bin]) : unvoicedLog);
            from[t * kStates + s] = static_cast<uint16_t>(bestFrom);
        }
        voicedBins.clear();
        for (int b = 0; b < kBins; ++b)
            if (voicedObservation[b] > 0)
                voicedBins.push_back(b);
        // Keep the scores near 0 so that long recordings lose no precision.
        const float top = *std::max_element(next.begin(), next.end());
        for (int s = 0; s < kStates; ++s)
            score[s] = next[s] - top;
    }
    std::vector<int> path(count);
    if (count == 0)
        return path;
    int state = static_cast<int>(std::max_element(score.begin(), score.end()) - score.begin());
    for (size_t t = count; t-- > 0;) {
        path[t] = state;
        state = from[t * kStates + state];
    }
    return path;
}

} // namespace

PitchTrack trackPitch(const std::vector<float>& samples, double rate)
{
    const int factor = std::max(1, static_cast<int>(rate / kAnalysisRate));
    const std::vector<double> x = decimate(samples, factor);
    const double analysisRate = rate / factor;
    const int hop = static_cast<int>(std::lround(kHopSeconds * analysisRate));

    PitchTrack track;
    track.hopSeconds = hop / analysisRate;
    const size_t count = (x.size() + hop - 1) / hop;
    track.frames.resize(count);
    DifferenceAnalyser analyser(analysisRate);
    const int window = analyser.windowLength();
    auto windowStart = [&](size_t k) { return static_cast<int64_t>(k) * hop + hop / 2 - window / 2; };

    // Level first: quiet frames relative to the loudest one carry no candidates.
    std::vector<double> rms(count);
    double loudest = 0;
    for (size_t k = 0; k < count; ++k) {
        double sum = 0;
        for (int j = 0; j < window; ++j) {
            const int64_t i = windowStart(k) + j;
            if (i >= 0 && i < static_cast<int64_t>(x.size()))
                sum += x[i] * x[i];
        }
        rms[k] = std::sqrt(sum / window);
        loudest = std::max(loudest, rms[k]);
    }
    const double quiet = std::max(kSilenceRms, loudest * kQuietRelative);

    std::vector<std::vector<Candidate>> candidates(count);
    for (size_t k = 0; k < count; ++k) {
        if (rms[k] >= quiet)
            analyser.candidates(x, windowStart(k), candidates[k]);
        float voiced = 0;
        for (const Candidate& c : candidates[k])
            voiced += c.probability;
        track.frames[k].voicedProbability = voiced;
        track.frames[k].level = static_cast<float>(rms[k] * 2 * std::sqrt(2.0));
    }

    const std::vector<int> path = decodePath(candidates);
    for (size_t k = 0; k < count; ++k) {
        if (path[k] >= kBins || track.frames[k].voicedProbability < kLeastVoicedProbability)
            continue;
        const Candidate* best = nullptr;
        for (const Candidate& c : candidates[k])
            if (binOf(c.hertz) == path[k] && (best == nullptr || c.probability > best->probability))
                best = &c;
        if (best != nullptr) {
            track.frames[k].hertz = best->hertz;
            track.frames[k].pitch = hertzToPitch(best->hertz);
        }
    }
    return track;
}
