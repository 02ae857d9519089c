#!/usr/bin/python3
"""Scores lirrosa-cli's notes on the real sung excerpt vocadito_1 against both annotators.

Note-level precision, recall and F-measure with onset tolerance 50 ms, pitch tolerance 50 cents,
offset tolerance max(50 ms, 20 % of the note) and optimal one-to-one matching (mir_eval), and
the same without offsets. With --min-f F the exit status is non-zero when the onset-and-pitch
F-measure against either annotator falls below F.

Usage: score_vocadito.py CLI DATA_DIR [--engine classic|precise] [--min-f F] [--min-off-f F]
"""

import argparse
import csv
import json
import os
import subprocess
import sys
import tempfile

import mir_eval
import numpy as np


def reference(path):
    intervals, pitches = [], []
    with open(path) as f:
        for onset, hz, duration in csv.reader(f):
            intervals.append((float(onset), float(onset) + float(duration)))
            pitches.append(float(hz))
    return np.array(intervals), np.array(pitches)


def transcribe(cli, wav, engine):
    with tempfile.TemporaryDirectory() as d:
        js = os.path.join(d, "notes.json")
        subprocess.run([cli, "convert", wav, "-o", os.path.join(d, "notes.mid"), "--json", js, "--quiet",
                        "--engine", engine], check=True, capture_output=True)
        with open(js) as f:
            notes = json.load(f)["notes"]
    intervals = np.array([(n["startSeconds"], n["endSeconds"]) for n in notes])
    pitches = np.array([440.0 * 2.0 ** ((n["pitch"] - 69.0) / 12.0) for n in notes])
    return intervals, pitches


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("data_dir")
    parser.add_argument("--engine", default="classic")
    parser.add_argument("--min-f", type=float, default=0.0)
    parser.add_argument("--min-off-f", type=float, default=0.0)
    args = parser.parse_args()

    wav = os.path.join(args.data_dir, "vocadito_1", "vocadito_1.wav")
    est_i, est_p = transcribe(args.cli, wav, args.engine)
    worst = 1.0
    worst_off = 1.0
    for annotator in ("A1", "A2"):
        ref_i, ref_p = reference(os.path.join(args.data_dir, "vocadito_1", f"vocadito_1_notes{annotator}.csv"))
        p, r, f, _ = mir_eval.transcription.precision_recall_f1_overlap(ref_i, ref_p, est_i, est_p)
        p0, r0, f0, _ = mir_eval.transcription.precision_recall_f1_overlap(ref_i, ref_p, est_i, est_p,
                                                                           offset_ratio=None)
        print(f"{annotator}: {len(ref_p)} reference notes, {len(est_p)} transcribed; "
              f"onset+pitch P {p0:.3f} R {r0:.3f} F {f0:.3f}; with offsets P {p:.3f} R {r:.3f} F {f:.3f}")
        worst = min(worst, f0)
        worst_off = min(worst_off, f)
    if worst < args.min_f:
        print(f"onset+pitch F-measure {worst:.3f} is below the floor {args.min_f:.3f}")
        return 1
    if worst_off < args.min_off_f:
        print(f"onset+pitch+offset F-measure {worst_off:.3f} is below the floor {args.min_off_f:.3f}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
