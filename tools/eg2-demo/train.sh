#!/usr/bin/env bash
# Regenerates the demonstration EG2 model folder from nothing: synthetic speech, features
# from the engine's own front end, training, export, and the held-out word error rate of
# the exported models decoded by `pelora-voice-cli --mode eg2`.
#
#   tools/eg2-demo/train.sh [output-folder] [training-minutes]
#
# Default output: models/eg2-demo. Training stops after the given minutes of wall time, so
# a busier or faster machine takes a different number of steps; data and start are seeded.
# Work files go to $EG2_DEMO_WORK (default /tmp/eg2-demo-work, about 5 GiB). The packages come from `scripts/setup.sh train-deps`.
# Training uses $EG2_TRAIN_THREADS threads (default 3). Not run by CI.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out="${1:-$repo/models/eg2-demo}"
minutes="${2:-48}"
work="${EG2_DEMO_WORK:-/tmp/eg2-demo-work}"
build="${PELORA_BUILD_DIR:-$repo/build}"
threads="${EG2_TRAIN_THREADS:-3}"
export OMP_NUM_THREADS="$threads" OPENBLAS_NUM_THREADS="$threads" EG2_TRAIN_THREADS="$threads"

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$threads" --target eg2-features eg2-model-run pelora-voice-cli

mkdir -p "$work"
/usr/bin/python3 "$here/train.py" tables "$work/model"
/usr/bin/python3 "$here/make_data.py" "$work/data" 6000 150 "$threads"

# Features by the engine's LogMel, a few processes at a time.
: > "$work/list.txt"
for split in train heldout; do
  for f in "$work/data/$split"/*.f32; do echo "$f ${f%.f32}.mel" >> "$work/list.txt"; done
done
rm -f "$work"/list.part.*
split -n "l/$threads" "$work/list.txt" "$work/list.part."
for part in "$work"/list.part.*; do "$build/tools/eg2-demo/eg2-features" "$work/model" "$part" & done
wait

/usr/bin/python3 "$here/train.py" train "$work/data" "$work/model" "$minutes"
/usr/bin/python3 "$here/train.py" punct "$work/data" "$work/model"
/usr/bin/python3 "$here/check_export.py" "$build/tools/eg2-demo/eg2-model-run" "$work/data" "$work/model"
/usr/bin/python3 "$here/evaluate_engine.py" "$build/cli/pelora-voice-cli" "$work/model" "$work/data" "$threads"

mkdir -p "$out"
cp -r "$work/model/." "$out/"
echo "Model folder written to $out"
