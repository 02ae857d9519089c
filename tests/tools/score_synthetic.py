#!/usr/bin/python3
"""Scores both recognition engines of lirrosa-cli on every take of a synthetic set.

For each NAME.wav with NAME_notes.csv in DIR (see make_synthetic_voices.py), prints the
onset-and-pitch and the onset-pitch-offset F-measures (mir_eval, 50 ms, 50 cents, offsets
max(50 ms, 20 %)) of the classic and the precise engine. The exit status is non-zero when the
precise engine scores below the classic one on any take.

Usage: score_synthetic.py CLI DIR
"""

import glob
import os
import sys

import mir_eval

from score_vocadito import reference, transcribe


def scores(ref, est):
    (ref_i, ref_p), (est_i, est_p) = ref, est
    if len(est_p) == 0:
        return 0.0, 0.0
    _, _, with_offsets, _ = mir_eval.transcription.precision_recall_f1_overlap(ref_i, ref_p, est_i, est_p)
    _, _, onsets, _ = mir_eval.transcription.precision_recall_f1_overlap(ref_i, ref_p, est_i, est_p,
                                                                         offset_ratio=None)
    return onsets, with_offsets


def main():
    cli, directory = sys.argv[1], sys.argv[2]
    worse = []
    totals = {"classic": [0.0, 0.0], "precise": [0.0, 0.0]}
    takes = sorted(glob.glob(os.path.join(directory, "*.wav")))
    for wav in takes:
        ref = reference(wav[:-4] + "_notes.csv")
        result = {}
        for engine in ("classic", "precise"):
            result[engine] = scores(ref, transcribe(cli, wav, engine))
            totals[engine][0] += result[engine][0] / len(takes)
            totals[engine][1] += result[engine][1] / len(takes)
        c, p = result["classic"], result["precise"]
        print(f"{os.path.basename(wav)}: classic F {c[0]:.3f} / {c[1]:.3f}, precise F {p[0]:.3f} / {p[1]:.3f}")
        if p[0] < c[0] or p[1] < c[1]:
            worse.append(os.path.basename(wav))
    for engine, (onsets, offsets) in totals.items():
        print(f"mean {engine}: F {onsets:.3f} / {offsets:.3f}")
    if worse:
        print("precise below classic on: " + ", ".join(worse))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
