#!/usr/bin/python3
"""Decodes the held-out clips through the command-line tool (`--mode eg2`) and prints the
word error rate, and how often the engine's words equal the Python decoding's.

Usage: evaluate_engine.py <pelora-voice-cli> <model-folder> <data-dir> [jobs]
The tool finds the model folder as the shared model folder of a private XDG_DATA_HOME.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from train import edit_distance, spoken_words  # noqa: E402


def recognised_words(report):
    """The words of the report's final text, lower case, without the rendered punctuation."""
    text = report.split("[Final Formatted Output]\n", 1)[1].split("\n", 1)[0]
    return [w for w in (re.sub(r"[.,?!]+$", "", t).lower() for t in text.split()) if w]


def decode(cli, env, wav_dir, data_dir, record):
    wav = os.path.join(wav_dir, record["id"] + ".wav")
    subprocess.run(["sox", "-t", "raw", "-r", "16000", "-e", "float", "-b", "32", "-c", "1",
                    os.path.join(data_dir, "heldout", record["id"] + ".f32"), wav], check=True)
    run = subprocess.run([cli, "--mode", "eg2", wav], env=env, capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError("%s: %s" % (record["id"], run.stderr))
    speed = re.search(r"Total Latency\s*:\s*([\d.]+) ms", run.stdout)
    encoder = re.search(r"EG2 L11 \(ANE\)\s*:\s*([\d.]+) ms", run.stdout)
    return recognised_words(run.stdout), float(speed.group(1)), float(encoder.group(1))


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    cli, folder, data_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
    jobs = int(sys.argv[4]) if len(sys.argv) == 5 else 3
    with open(os.path.join(data_dir, "heldout.jsonl")) as f:
        records = [json.loads(line) for line in f]
    python_path = os.path.join(data_dir, "python-heldout.json")
    python = json.load(open(python_path)) if os.path.exists(python_path) else {}

    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "data", "PeloraVoice2"))
        os.symlink(folder, os.path.join(tmp, "data", "PeloraVoice2", "models"))
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"), HOME=tmp)
        with ThreadPoolExecutor(jobs) as pool:
            results = list(pool.map(lambda r: decode(cli, env, tmp, data_dir, r), records))

    errors = total = agree = 0
    seconds = sum(r["seconds"] for r in records)
    for record, (hyp, _, _) in zip(records, results):
        ref = spoken_words(record)
        errors += edit_distance(hyp, ref)
        total += len(ref)
        if record["id"] in python and [w.lower() for w in python[record["id"]]] == hyp:
            agree += 1
        if record["id"].startswith("heldout-demo"):
            print("%s  [%s]\n    heard: %s" % (record["id"], record["voice"], " ".join(hyp)))
    latency = sum(r[1] for r in results) / 1000
    encoder = sum(r[2] for r in results) / 1000
    print("engine held-out WER: %.2f %% (%d errors in %d words, %d clips, %.1f min of audio)" % (
        100 * errors / max(1, total), errors, total, len(records), seconds / 60))
    if python:
        print("engine and Python decodings identical for %d of %d clips" % (agree, len(records)))
    print("engine time %.1f s for %.1f s of audio (%.0fx real time; encoder %.0f %% of it)" % (
        latency, seconds, seconds / max(latency, 1e-9), 100 * encoder / max(latency, 1e-9)))


if __name__ == "__main__":
    main()
