#!/usr/bin/env bash
# Regenerates the demonstration EG2 model folder from nothing: synthetic speech, features
# from the engine's own front end, training, export, and the held-out word error rate of
# the exported models decoded by `pelora-voice-cli --mode eg2`.
#
#   tools/eg2-demo/train.sh [output-folder] [first-stage-minutes] [second-stage-minutes] [third-stage-minutes] [fourth-stage-minutes] [fifth-stage-minutes] [sixth-stage-minutes] [seventh-stage-minutes] [eighth-stage-minutes]
#
# Default output: models/eg2-demo. Training runs in eight stages: the first trains from a
# seeded start on one data set (6,000 clips), the second continues from the first stage's
# exported models on a second data set (4,025 other clips of the training voices; its first
# 300 clips only calibrate the bias) with a fresh learning-rate schedule, the third grows
# the second stage's encoder (192 instead of 128 channels, seven instead of five residual
# layers, starting from what the smaller one computes) and trains it on a third data
# set (5,000 further clips, the first 300 again for the calibration), the fourth trains the
# grown encoder further on a fourth, larger data set (30,000 further clips, the first 300
# for the calibration) at a lower peak learning rate, the fifth goes on over the same
# data set with a fresh schedule at a lower peak learning rate still, the sixth trains on a
# fifth data set (50,000 further clips, the first 300 for the calibration) at a peak
# learning rate between the two, the seventh on a sixth data set (30,000 further clips,
# the first 300 for the calibration) at a lower one again, and the eighth on a seventh data
# set (25,421 further clips, the first 300 for the calibration) at a lower one still. Each
# stage stops after its minutes of wall time, so a busier or faster machine takes a
# different number of steps; data and starts are seeded. The continuing stages write their
# best set so far every 12 minutes.
# EG2_DEMO_START=<model-folder> skips the first three stages and runs the fourth to the
# eighth from that folder (the shipped set is this script's eighth stage, trained on the
# previous shipped set, which was its seventh).
# Work files go to $EG2_DEMO_WORK (default /tmp/eg2-demo-work); a data set is deleted after
# its last stage, so at most about 40 GiB are in use at a time. The packages come from
# `scripts/setup.sh train-deps`.
# Training uses $EG2_TRAIN_THREADS threads (default 3). Not run by CI.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out="${1:-$repo/models/eg2-demo}"
minutes1="${2:-48}"
minutes2="${3:-38}"
minutes3="${4:-80}"
minutes4="${5:-70}"
minutes5="${6:-30}"
minutes6="${7:-100}"
minutes7="${8:-35}"
minutes8="${9:-40}"
work="${EG2_DEMO_WORK:-/tmp/eg2-demo-work}"
build="${PELORA_BUILD_DIR:-$repo/build}"
threads="${EG2_TRAIN_THREADS:-3}"
start="${EG2_DEMO_START:-}"
export OMP_NUM_THREADS="$threads" OPENBLAS_NUM_THREADS="$threads" EG2_TRAIN_THREADS="$threads"
# Waiting threads sleep instead of spinning: on a busy shared machine spinning costs more than it saves.
export OMP_WAIT_POLICY=PASSIVE

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$threads" --target eg2-features eg2-model-run pelora-voice-cli

# Features by the engine's LogMel, a few processes at a time.
features() {
  : > "$work/list.txt"
  for split in train heldout; do
    for f in "$1/$split"/*.f32; do echo "$f ${f%.f32}.mel" >> "$work/list.txt"; done
  done
  rm -f "$work"/list.part.*
  split -n "l/$threads" "$work/list.txt" "$work/list.part."
  for part in "$work"/list.part.*; do "$build/tools/eg2-demo/eg2-features" "$work/model" "$part" & done
  wait
}

# One data set: <clips> clips in $work/<name>, seeded by <seed> (else make_data.py's own), with their features.
data_set() {
  /usr/bin/python3 "$here/make_data.py" "$work/$1" "$2" 150 "$threads" ${3:+"$3"}
  features "$work/$1"
}

# Deletes a data set once no later stage reads it.
drop() {
  rm -rf "${work:?}/$1"
}

mkdir -p "$work"
/usr/bin/python3 "$here/train.py" tables "$work/model"
if [ -z "$start" ]; then
  data_set data 6000
  /usr/bin/python3 "$here/train.py" train "$work/data" "$work/stage1" "$minutes1"
  cp "$work/model"/*.f32 "$work/stage1/"
  drop data
  data_set data2 4025 20261213
  /usr/bin/python3 "$here/train.py" continue "$work/data2" "$work/stage1" "$work/stage2" "$minutes2" 7e-4
  drop data2
  data_set data3 5000 20261214
  /usr/bin/python3 "$here/train.py" continue "$work/data3" "$work/stage2" "$work/stage3" "$minutes3" 1e-3 192 2
  drop data3
  start="$work/stage3"
fi
data_set data4 30000 20261215
/usr/bin/python3 "$here/train.py" continue "$work/data4" "$start" "$work/stage4" "$minutes4" 5e-4
/usr/bin/python3 "$here/train.py" continue "$work/data4" "$work/stage4" "$work/stage5" "$minutes5" 2e-4
drop data4
data_set data5 50000 20261216
/usr/bin/python3 "$here/train.py" continue "$work/data5" "$work/stage5" "$work/stage6" "$minutes6" 3e-4
drop data5
data_set data6 30000 20261217
/usr/bin/python3 "$here/train.py" continue "$work/data6" "$work/stage6" "$work/stage7" "$minutes7" 1.5e-4
drop data6
data_set data7 25421 20261218
/usr/bin/python3 "$here/train.py" continue "$work/data7" "$work/stage7" "$work/model" "$minutes8" 1e-4
/usr/bin/python3 "$here/train.py" punct "$work/data7" "$work/model"
/usr/bin/python3 "$here/check_export.py" "$build/tools/eg2-demo/eg2-model-run" "$work/data7" "$work/model"
/usr/bin/python3 "$here/evaluate_engine.py" "$build/cli/pelora-voice-cli" "$work/model" "$work/data7" "$threads"

mkdir -p "$out"
cp -r "$work/model/." "$out/"
echo "Model folder written to $out"
