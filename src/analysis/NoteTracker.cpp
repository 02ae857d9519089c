#include "analysis/NoteTracker.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int kLowestNote = 33; // 55 Hz
constexpr int kNotes = 53;      // up to 1100 Hz
constexpr int kStates = 3 * kNotes;
enum Role { Attack = 0, Stable = 1, Silent = 2 };

constexpr double kTuningWindowSeconds = 4.0;
constexpr double kVibratoSeconds = 0.22; // one cycle of a slow vibrato
// Observation model.
constexpr double kVoicedBelief = 0.95;
constexpr double kStableSpread = 0.4; // semitones
constexpr double kAttackSpread = 1.0; // an attack may glide in from further away
constexpr double kUnvoicedNoteLikelihood = 0.2;
// Transitions per frame.
constexpr double kAttackStays = 0.7;
constexpr double kNoteEnds = 0.01;
constexpr double kNoteChanges = 0.01;
constexpr double kSilenceStays = 0.98;
constexpr double kLeapSpread = 6.0; // semitones between consecutive notes
constexpr double kBeam = 30.0;      // log-probability below the best path
// A dip of the level against both sides, within the reach, marks a new syllable: at about
// 8 dB a new note is as likely as the old one going on, deeper dips make it near certain.
constexpr double kDipReachSeconds = 0.09;
constexpr double kEvenDipDecibels = 8.0;
constexpr double kDipSlopeDecibels = 1.5;
constexpr double kRepeatAtDip = 0.95;
constexpr double kRepeatElsewhere = 1e-6;
// The longest note that can be only a step of a glide.
constexpr double kGlideNoteSeconds = 0.12;
// Shorter notes are ornaments or noise, not notes a listener would write down.
constexpr double kShortestNoteSeconds = 0.07;

int stateOf(int note, Role role) { return 3 * note + role; }

double gaussian(double x, double spread)
{
    return std::exp(-0.5 * x * x / (spread * spread)) / (spread * std::sqrt(2 * M_PI));
}

// Chance of a new syllable at each frame: from dips of the level between louder neighbours.
std::vector<double> repeatChance(const PitchTrack& track)
{
    const size_t count = track.frames.size();
    std::vector<double> decibels(count);
    for (size_t k = 0; k < count; ++k)
        decibels[k] = 20 * std::log10(track.frames[k].level + 1e-6);
    const auto reach = static_cast<int64_t>(std::ceil(kDipReachSeconds / track.hopSeconds));
    std::vector<double> chance(count, kRepeatElsewhere);
    for (size_t k = 1; k + 1 < count; ++k) {
        if (!(decibels[k] <= decibels[k - 1] && decibels[k] < decibels[k + 1]))
            continue;
        double before = decibels[k], after = decibels[k];
        for (int64_t j = 1; j <= reach; ++j) {
            if (k >= static_cast<size_t>(j))
                before = std::max(before, decibels[k - j]);
            if (k + j < count)
                after = std::max(after, decibels[k + j]);
        }
        const double depth = std::min(before, after) - decibels[k];
        const double chanceAtDip = kRepeatAtDip / (1 + std::exp(-(depth - kEvenDipDecibels) / kDipSlopeDecibels));
        chance[k + 1] = std::max(chance[k + 1], chanceAtDip);
    }
    return chance;
}

struct Transitions {
    double attackStays = std::log(kAttackStays);
    double attackToStable = std::log(1 - kAttackStays);
    double stableEnds = std::log(kNoteEnds);
    double silenceStays = std::log(kSilenceStays);
    std::vector<double> change; // stable(n) -> attack(n + d), index d + kNotes
    std::vector<double> start;  // silent(n) -> attack(n + d)

    Transitions() : change(2 * kNotes + 1), start(2 * kNotes + 1)
    {
        double changeSum = 0, startSum = 0;
        for (int d = -kNotes; d <= kNotes; ++d) {
            const double w = gaussian(d, kLeapSpread) + 1e-3;
            startSum += w;
            if (d != 0)
                changeSum += w;
        }
        for (int d = -kNotes; d <= kNotes; ++d) {
            const double w = gaussian(d, kLeapSpread) + 1e-3;
            start[d + kNotes] = std::log((1 - kSilenceStays) * w / startSum);
            change[d + kNotes] = d == 0 ? -std::numeric_limits<double>::infinity()
                                        : std::log(kNoteChanges * w / changeSum);
        }
    }
};

std::vector<int> decodeNotes(const PitchTrack& track, const std::vector<float>& tuning)
{
    const size_t count = track.frames.size();
    const Transitions moves;
    const std::vector<double> repeat = repeatChance(track);
    constexpr double kImpossible = -std::numeric_limits<double>::infinity();
    std::vector<double> score(kStates, kImpossible), next(kStates);
    for (int n = 0; n < kNotes; ++n)
        score[stateOf(n, Silent)] = std::log(1.0 / kNotes);
    std::vector<uint8_t> fromNote(count * kStates);
    std::vector<uint8_t> fromRole(count * kStates);
    std::vector<double> observation(kStates);
    std::vector<int> alive;

    for (size_t t = 0; t < count; ++t) {
        const PitchFrame& f = track.frames[t];
        const bool voiced = f.hertz > 0;
        const double belief = voiced ? kVoicedBelief : 1 - kVoicedBelief;
        for (int n = 0; n < kNotes; ++n) {
            const double offset = voiced ? f.pitch - tuning[t] - (kLowestNote + n) : 0;
            const double stable = voiced ? gaussian(offset, kStableSpread) : kUnvoicedNoteLikelihood;
            // As likely as the stable state on the note, and much likelier beside it.
            const double attack = voiced ? std::max(stable, gaussian(0, kStableSpread) *
                                                                std::exp(-0.5 * offset * offset /
                                                                         (kAttackSpread * kAttackSpread)))
                                         : kUnvoicedNoteLikelihood;
            observation[stateOf(n, Attack)] = std::log(belief * attack + 1e-12);
            observation[stateOf(n, Stable)] = std::log(belief * stable + 1e-12);
            observation[stateOf(n, Silent)] = std::log(1 - belief);
        }
        const double repeatLog = std::log(repeat[t]);
        const double stableStays = std::log(std::max(1 - kNoteEnds - kNoteChanges - repeat[t], 0.01));
        auto set = [&](int state, double value, int note, Role role) {
            next[state] = value;
            fromNote[t * kStates + state] = static_cast<uint8_t>(note);
            fromRole[t * kStates + state] = static_cast<uint8_t>(role);
        };
        // Notes far below the best path cannot start another one (a beam: the transitions
        // cost far less than the margin).
        alive.clear();
        for (int n = 0; n < kNotes; ++n)
            if (std::max(score[stateOf(n, Silent)], score[stateOf(n, Stable)]) > -kBeam)
                alive.push_back(n);
        for (int m = 0; m < kNotes; ++m) {
            // Attack of m: stays, or begins after a silence or another (or the same) note.
            double best = score[stateOf(m, Attack)] + moves.attackStays;
            int bestNote = m;
            Role bestRole = Attack;
            for (const int n : alive) {
                const double afterSilence = score[stateOf(n, Silent)] + moves.start[m - n + kNotes];
                const double afterNote =
                    score[stateOf(n, Stable)] + (n == m ? repeatLog : moves.change[m - n + kNotes]);
                if (afterSilence > best) {
                    best = afterSilence;
                    bestNote = n;
                    bestRole = Silent;
                }
                if (afterNote > best) {
                    best = afterNote;
                    bestNote = n;
                    bestRole = Stable;
                }
            }
            set(stateOf(m, Attack), best + observation[stateOf(m, Attack)], bestNote, bestRole);

            const double viaAttack = score[stateOf(m, Attack)] + moves.attackToStable;
            const double viaStable = score[stateOf(m, Stable)] + stableStays;
            set(stateOf(m, Stable), std::max(viaAttack, viaStable) + observation[stateOf(m, Stable)], m,
                viaAttack > viaStable ? Attack : Stable);

            const double quiet = score[stateOf(m, Silent)] + moves.silenceStays;
            const double ended = score[stateOf(m, Stable)] + moves.stableEnds;
            set(stateOf(m, Silent), std::max(quiet, ended) + observation[stateOf(m, Silent)], m,
                quiet >= ended ? Silent : Stable);
        }
        const double top = *std::max_element(next.begin(), next.end());
        for (int s = 0; s < kStates; ++s)
            score[s] = next[s] - top;
    }

    std::vector<int> path(count);
    if (count == 0)
        return path;
    int state = static_cast<int>(std::max_element(score.begin(), score.end()) - score.begin());
    for (size_t t = count; t-- > 0;) {
        path[t] = state;
        state = stateOf(fromNote[t * kStates + state], static_cast<Role>(fromRole[t * kStates + state]));
    }
    return path;
}

struct NoteSpan {
    size_t first;
    size_t last;
    int note; // index above kLowestNote
};

// A short note between two legato notes, at a pitch between theirs, is only a step of the
// glide from one to the other: it becomes the start of the note it leads into.
void absorbGlideSteps(std::vector<NoteSpan>& spans, double hopSeconds)
{
    const auto shortest = static_cast<size_t>(std::ceil(kGlideNoteSeconds / hopSeconds));
    auto between = [](double x, double a, double b) { return x > std::min(a, b) && x < std::max(a, b); };
    for (size_t i = 1; i < spans.size(); ++i) {
        const NoteSpan& previous = spans[i - 1];
        const NoteSpan& current = spans[i];
        const bool isStep = current.first == previous.last + 1 && i + 1 < spans.size() &&
                            spans[i + 1].first == current.last + 1 && current.last - current.first + 1 < shortest &&
                            between(current.note, previous.note, spans[i + 1].note);
        if (isStep) {
            spans[i + 1].first = current.first;
            spans.erase(spans.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
        }
    }
}

TrackedNote describeNote(const PitchTrack& track, size_t first, size_t last, int note)
{
    std::vector<float> pitches;
    float peak = 0;
    for (size_t k = first; k <= last; ++k) {
        if (track.frames[k].hertz > 0)
            pitches.push_back(track.frames[k].pitch);
        peak = std::max(peak, track.frames[k].level);
    }
    TrackedNote n;
    n.startSeconds = (static_cast<double>(first) + 0.5) * track.hopSeconds;
    n.endSeconds = (static_cast<double>(last) + 1.5) * track.hopSeconds;
    n.note = kLowestNote + note;
    n.peakLevel = peak;
    if (pitches.empty()) {
        n.pitch = static_cast<float>(n.note);
    } else {
        std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
        n.pitch = pitches[pitches.size() / 2];
    }
    return n;
}

} // namespace

std::vector<float> localTuning(const PitchTrack& track)
{
    // Vibrato first goes: a mean of pitch fractions over a vibrato of half a semitone each
    // way would point anywhere. Each voiced frame counts with the median pitch around it.
    const size_t count = track.frames.size();
    const auto halfCycle = static_cast<size_t>(std::ceil(kVibratoSeconds / 2 / track.hopSeconds));
    std::vector<double> cosines(count + 1, 0.0), sines(count + 1, 0.0);
    std::vector<float> around;
    for (size_t k = 0; k < count; ++k) {
        cosines[k + 1] = cosines[k];
        sines[k + 1] = sines[k];
        if (track.frames[k].hertz <= 0)
            continue;
        around.clear();
        for (size_t j = k > halfCycle ? k - halfCycle : 0; j < std::min(count, k + halfCycle + 1); ++j)
            if (track.frames[j].hertz > 0)
                around.push_back(track.frames[j].pitch);
        std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
        const double angle = 2 * M_PI * around[around.size() / 2];
        cosines[k + 1] += std::cos(angle);
        sines[k + 1] += std::sin(angle);
    }
    // The tuning follows the singer continuously: a drift past half a semitone goes on
    // rather than jumping to the other side, so the intervals between notes are kept.
    const auto reach = static_cast<size_t>(kTuningWindowSeconds / track.hopSeconds);
    std::vector<float> tuning(count, 0.0f);
    double previous = 0;
    for (size_t k = 0; k < count; ++k) {
        const size_t lo = k > reach ? k - reach : 0;
        const size_t hi = std::min(count, k + reach + 1);
        const double c = cosines[hi] - cosines[lo];
        const double s = sines[hi] - sines[lo];
        double t = c != 0 || s != 0 ? std::atan2(s, c) / (2 * M_PI) : previous;
        t += std::round(previous - t);
        tuning[k] = static_cast<float>(t);
        previous = t;
    }
    return tuning;
}

std::vector<TrackedNote> trackNotes(const PitchTrack& track)
{
    const std::vector<float> tuning = localTuning(track);
    const std::vector<int> path = decodeNotes(track, tuning);
    std::vector<NoteSpan> spans;
    size_t k = 0;
    while (k < path.size()) {
        if (path[k] % 3 != Attack) {
            ++k;
            continue;
        }
        const int note = path[k] / 3;
        size_t last = k;
        // The note lasts through its attack and stable frames; a new attack starts another.
        while (last + 1 < path.size() && path[last + 1] / 3 == note &&
               (path[last + 1] % 3 == Stable || (path[last + 1] % 3 == Attack && path[last] % 3 == Attack)))
            ++last;
        spans.push_back({k, last, note});
        k = last + 1;
    }
    absorbGlideSteps(spans, track.hopSeconds);
    std::vector<TrackedNote> notes;
    for (const NoteSpan& span : spans) {
        const TrackedNote n = describeNote(track, span.first, span.last, span.note);
        if (n.endSeconds - n.startSeconds >= kShortestNoteSeconds)
            notes.push_back(n);
    }
    return notes;
}
