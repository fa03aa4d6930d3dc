#!/usr/bin/python3
"""Synthetic English speech for the demonstration EG2 model.

Sentences are drawn from vocabulary.txt (common English words and the technical terms a
developer dictates), spoken by espeak-ng with many accents, voice variants, speeds and
pitches, passed through sox (resampling to 16 kHz, sometimes reverberation) and mixed with
noise. Voice variants listed in HELD_OUT_VARIANTS and the held-out sentences are never
used for training.

Usage: make_data.py <out-dir> <train-clips> <held-out-clips> [jobs] [train-seed]
A train-seed other than the default draws another training set (new sentences, the same
training voices; held-out sentences still excluded); the held-out set never changes.
Writes <out-dir>/{train,heldout}/NNNNNN.f32 (float32 samples, 16 kHz mono) and
<out-dir>/{train,heldout}.jsonl (one record per clip: id, words, text, voice, speed, pitch).
Everything follows from the fixed seed.
"""

import json
import os
import random
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = 20261210
RATE = 16000
MAX_SECONDS = 19.5

# ("en-gb+variant" ignores the variant; "en" is the same British voice and takes it.)
ACCENTS = ["en-us", "en", "en-gb-scotland", "en-gb-x-gbclan", "en-gb-x-rp", "en-gb-x-gbcwmd", "en-029",
           "en-us-nyc"]
TRAIN_VARIANTS = ["", "m1", "m2", "m3", "m5", "m6", "m7", "m8", "f1", "f2", "f4", "f5", "klatt", "klatt2",
                  "klatt4", "klatt5", "klatt6", "adam", "Alex", "Alicia", "Andy", "Annie", "aunty", "belinda",
                  "benjamin", "boris", "caleb", "david", "ed", "edward", "Gene", "Gene2", "gustave", "Henrique",
                  "Hugo", "iven", "iven2", "Jacky", "john", "Lee", "linda", "marcelo", "Marco", "max", "Michael",
                  "michel", "miguel", "Mike", "Mr", "norbert", "paul", "pedro", "quincy", "rob", "robert",
                  "sandro", "shelby", "steph", "steph3", "travis", "victor", "zac", "anika", "grandpa", "croak"]
HELD_OUT_VARIANTS = ["m4", "f3", "klatt3", "steph2", "edward2", "iven3", "grandma", "Andrea"]

# Sentences shown by the demo and the tests: held out, spoken by held-out voices.
DEMO_SENTENCES = [
    "please push the new Python code to GitHub before the review",
    "the API returns JSON from the database query",
    "we need to deploy the Docker container to Kubernetes tomorrow morning",
    "write a SQL query for the user table",
    "can you check the TypeScript build on the server",
    "the Swift app uses Core ML on the GPU",
]


def vocabulary():
    with open(os.path.join(HERE, "vocabulary.txt")) as f:
        return [w.strip() for w in f if w.strip()]


def sentence(rng, words, common):
    n = rng.randint(3, 12)
    out = []
    for _ in range(n):
        w = rng.choice(common) if rng.random() < 0.35 else rng.choice(words)
        out.append(w)
        if rng.random() < 0.03:
            out.append(w)  # a stutter: the decoder's repeat token
    return out


def labels(words):
    """Word labels as the decoder reads them: a word said twice in a row is "<rep>"."""
    out = []
    for i, w in enumerate(words):
        out.append("<rep>" if i > 0 and words[i - 1] == w and out[-1] != "<rep>" else w)
    return out


def spoken_text(rng, sentences):
    parts = []
    for s in sentences:
        text = " ".join(s)
        if rng.random() < 0.3 and len(s) > 4:
            cut = rng.randint(2, len(s) - 2)
            text = " ".join(s[:cut]) + ", " + " ".join(s[cut:])
        parts.append(text)
    return ". ".join(parts) + "."


def plan(split, count, seed, words, common, variants, exclude):
    rng = random.Random(seed)
    records = []
    for i in range(count):
        sentences = [sentence(rng, words, common) for _ in range(rng.choice([1, 1, 2, 2, 3]))]
        if " ".join(sum(sentences, [])) in exclude:
            continue
        accent = rng.choice(ACCENTS)
        variant = rng.choice(variants)
        records.append({
            "id": "%s-%06d" % (split, i),
            "sentences": sentences,
            "text": spoken_text(rng, sentences),
            "voice": accent + ("+" + variant if variant else ""),
            "speed": rng.randint(130, 230),
            "pitch": rng.randint(20, 80),
            "reverb": rng.random() < 0.4,
            "room": rng.randint(10, 60),
            "snr": rng.choice([None, rng.uniform(10, 40), rng.uniform(15, 40)]),
            "noise": rng.choice(["white", "pink", "brown"]),
            "lead": rng.uniform(0.05, 0.8),
            "tail": rng.uniform(0.05, 0.5),
            "gain": rng.uniform(0.3, 1.0),
            "seed": rng.randrange(1 << 30),
        })
    return records


def colored_noise(rng, n, kind):
    white = rng.standard_normal(n)
    if kind == "white":
        return white
    spectrum = np.fft.rfft(white)
    f = np.arange(len(spectrum), dtype=np.float64)
    f[0] = 1.0
    spectrum /= np.sqrt(f) if kind == "pink" else f
    noise = np.fft.irfft(spectrum, n)
    return noise / (np.std(noise) + 1e-9)


def synthesize(record, out_dir):
    sox = ["sox", "-V1", "-t", "wav", "-", "-t", "raw", "-r", str(RATE), "-e", "float", "-b", "32", "-c", "1", "-",
           "gain", "-6"]
    if record["reverb"]:
        sox += ["reverb", str(record["room"]), "50", str(record["room"] + 20)]
    espeak = subprocess.run(["espeak-ng", "-v", record["voice"], "-s", str(record["speed"]), "-p",
                             str(record["pitch"]), "--stdout", record["text"]], check=True, capture_output=True)
    audio = np.frombuffer(subprocess.run(sox, input=espeak.stdout, check=True, capture_output=True).stdout,
                          dtype="<f4").astype(np.float64)
    rng = np.random.default_rng(record["seed"])
    audio = np.concatenate([np.zeros(int(record["lead"] * RATE)), audio, np.zeros(int(record["tail"] * RATE))])
    audio = audio[:int(MAX_SECONDS * RATE)]
    peak = np.max(np.abs(audio)) + 1e-9
    audio = audio / peak * record["gain"] * 0.9
    if record["snr"] is not None:
        power = np.mean(audio ** 2)
        noise = colored_noise(rng, len(audio), record["noise"])
        audio = audio + noise * np.sqrt(power / (10 ** (record["snr"] / 10)))
    audio = np.clip(audio, -1.0, 1.0).astype("<f4")
    audio.tofile(os.path.join(out_dir, record["id"].split("-")[0], record["id"] + ".f32"))
    return len(audio) / RATE


def main():
    if len(sys.argv) not in (4, 5, 6):
        sys.exit(__doc__)
    out_dir, train_count, held_count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    jobs = int(sys.argv[4]) if len(sys.argv) >= 5 else 3
    train_seed = int(sys.argv[5]) if len(sys.argv) == 6 else SEED
    words = vocabulary()[1:]  # without the repeat token
    common = words[words.index("the"):words.index("the") + 400]
    held = plan("heldout", held_count, SEED + 1, words, common, HELD_OUT_VARIANTS, set())
    rng = random.Random(SEED + 2)
    for i, text in enumerate(DEMO_SENTENCES):
        held.append({**held[i % len(held)], "id": "heldout-demo%02d" % i, "sentences": [text.split()],
                     "text": text + ".", "voice": "en-us+" + HELD_OUT_VARIANTS[i % 4], "speed": 165,
                     "pitch": 50, "reverb": False, "snr": None, "lead": 0.3, "tail": 0.3, "gain": 0.8,
                     "seed": rng.randrange(1 << 30)})
    exclude = {" ".join(sum(r["sentences"], [])) for r in held}
    train = plan("train", train_count, train_seed, words, common, TRAIN_VARIANTS, exclude)
    for split, records in (("heldout", held), ("train", train)):
        os.makedirs(os.path.join(out_dir, split), exist_ok=True)
        # Written as the clips are made, so a long run shows its progress.
        total = 0.0
        with ProcessPoolExecutor(jobs) as pool, open(os.path.join(out_dir, split + ".jsonl"), "w") as f:
            for n, (record, s) in enumerate(zip(records, pool.map(synthesize, records, [out_dir] * len(records),
                                                                   chunksize=16))):
                record["words"] = labels(sum(record["sentences"], []))
                record["seconds"] = s
                total += s
                f.write(json.dumps(record) + "\n")
                if (n + 1) % 500 == 0:
                    f.flush()
                    print("%s: %d of %d clips" % (split, n + 1, len(records)), flush=True)
        print("%s: %d clips, %.1f hours" % (split, len(records), total / 3600), flush=True)


if __name__ == "__main__":
    main()
