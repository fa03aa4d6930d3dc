#!/usr/bin/env bash
# Fuzzes one target for a given time with clang's libFuzzer, address and undefined-
# behaviour sanitizers (the CMake option PELORA_FUZZ).
#   scripts/fuzz.sh <target> <seconds>      e.g. scripts/fuzz.sh json_readers 600
# Targets are the files fuzz/<target>.cpp. The build lives in build-fuzz/ (or
# $PELORA_FUZZ_BUILD_DIR); new inputs collect in build-fuzz/corpus/<target>, the committed
# seeds in fuzz/corpus/<target> are read too. An input that breaks the target is written
# to build-fuzz/crashes/<target>/ and the script fails; copy it into fuzz/corpus/<target>/
# with the fix, so that the replay tests of the ordinary build keep it fixed.
# Needs clang and libclang-rt-dev (apt-get install clang libclang-rt-14-dev on Debian 12).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "$#" -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh <target> <seconds>" >&2
  echo "targets: $(cd "$here/fuzz" && ls *.cpp | grep -v ReplayMain | sed 's/\.cpp$//' | tr '\n' ' ')" >&2
  exit 2
fi
target="$1"
seconds="$2"
if [ ! -f "$here/fuzz/$target.cpp" ] || [ "$target" = ReplayMain ]; then
  echo "no fuzz target named $target" >&2
  exit 2
fi
cc="${CC:-$(command -v clang || true)}"
cxx="${CXX:-$(command -v clang++ || true)}"
if [ -z "$cc" ] || [ -z "$cxx" ]; then
  echo "clang is needed: apt-get install clang libclang-rt-14-dev" >&2
  exit 1
fi

build="${PELORA_FUZZ_BUILD_DIR:-$here/build-fuzz}"
jobs="$(nproc 2>/dev/null || echo 2)"
CC="$cc" CXX="$cxx" cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_FUZZ=ON \
  -DPELORA_BUILD_TESTS=OFF -DPELORA_BUILD_BENCH=OFF -DPELORA_BUILD_APP=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "fuzz_$target"

mkdir -p "$build/corpus/$target" "$build/crashes/$target"
# Decoding and HTTP round trips are slow per input; a generous time-out per input still
# catches hangs.
exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
  -artifact_prefix="$build/crashes/$target/" "$build/corpus/$target" "$here/fuzz/corpus/$target"
