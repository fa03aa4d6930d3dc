#!/usr/bin/python3
"""Checks that the exported models compute in the engine's model runtime what the trained
models compute in Python: one held-out clip goes through the three exported models via
eg2-model-run (a full 2000-frame window, as the pipeline feeds it) and through the
training graph; the frame decisions must agree.

Usage: check_export.py <eg2-model-run> <data-dir> <model-folder>
"""

import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import train as T  # noqa: E402


def run(tool, bundle, inputs, tmp):
    args = [tool, bundle]
    for name, (array, half) in inputs.items():
        path = os.path.join(tmp, name + ".in")
        array.astype(np.float16 if half else np.float32).tofile(path)
        args.append("%s=%s%s" % (name, path, ":f16" if half else ""))
    out = subprocess.run(args + ["--", tmp], check=True, capture_output=True, text=True).stdout
    return {line.split()[0]: np.fromfile(os.path.join(tmp, line.split()[0] + ".f32"), dtype=np.float32)
            for line in out.splitlines()}


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    tool, data_dir, folder = sys.argv[1:]
    torch.set_num_threads(1)
    words = json.load(open(os.path.join(folder, "reader_words.json")))
    T.configure(folder)
    model = T.Model(words, np.zeros(T.MEL_BINS), np.ones(T.MEL_BINS))
    model.load_state_dict(torch.load(os.path.join(data_dir, "model.pt")))
    model.eval()
    record = json.loads(open(os.path.join(data_dir, "heldout.jsonl")).readline())
    mel = np.fromfile(os.path.join(data_dir, "heldout", record["id"] + ".mel"), dtype="<f4").reshape(-1, T.MEL_BINS)
    n = len(mel)
    feat = np.zeros((1, T.MEL_FRAMES, T.MEL_BINS), np.float32)
    feat[0, :n] = mel
    mask = np.zeros((1, T.MEL_FRAMES), np.float32)
    mask[0, :n] = 1.0
    out_frames = (n + 3) // 4
    rmask = np.zeros((1, T.OUT_FRAMES), np.float32)
    rmask[0, :out_frames] = 1.0
    calibration = json.load(open(os.path.join(folder, "reader_P6.json")))
    table = np.fromfile(os.path.join(folder, "word_unit_f16.bin"), dtype="<f2").reshape(-1, T.EMBED)

    with tempfile.TemporaryDirectory() as tmp:
        l11 = run(tool, os.path.join(folder, "eg2_audio_l11.mlmodelc"),
                  {"input_features": (feat, False), "feature_mask": (mask, False)}, tmp)["l11"]
        read = run(tool, os.path.join(folder, "reader_P6.mlmodelc"), {"l11": (l11, False), "mask": (rmask, False)}, tmp)
        vec = read["vec"].reshape(T.OUT_FRAMES, T.EMBED)
        blank = read["blank"]
        bidx = run(tool, os.path.join(folder, "scorer_blk_d128_k16_b4_t500.mlmodelc"), {"vec": (vec, True)},
                   tmp)["bidx"].reshape(T.OUT_FRAMES, T.TOP_BLOCKS).astype(np.int64)

    # The pipeline's decision per frame: the best of the scorer's 64 candidate rows, kept
    # when its calibrated score beats the blank score.
    engine = []
    for j in range(out_frames):
        rows = np.minimum((np.maximum(bidx[j], 0)[:, None] * 4 + np.arange(4)).reshape(-1), len(words) - 1)
        dots = table[rows].astype(np.float32) @ vec[j].astype(np.float16).astype(np.float32)
        k = int(np.argmax(dots))
        engine.append(int(rows[k]) if dots[k] * calibration["scale"] + calibration["bias"] > blank[j] else -1)
    with torch.no_grad():
        logits, _, _ = model(torch.from_numpy(feat[:, :n + 8 - (n % 4)]), torch.from_numpy(mask[:, :n + 8 - (n % 4)]))
    python = [c - 1 if c > 0 else -1 for c in logits[0, :out_frames].argmax(-1).tolist()]
    same = sum(a == b for a, b in zip(engine, python))
    print("export check (%s): %d of %d frame decisions equal" % (record["id"], same, out_frames))
    if same < out_frames * 0.98:
        sys.exit("the exported models do not compute what the trained ones do")


if __name__ == "__main__":
    main()
