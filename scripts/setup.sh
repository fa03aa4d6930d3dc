#!/usr/bin/env bash
# Installs what is missing, builds, and runs either the demo or the whole test suite.
#   scripts/setup.sh demo   install, build the command-line tool, transcribe samples/konnichiwa-ja.wav
#   scripts/setup.sh test   install, build everything, run every test
#   scripts/setup.sh deps   install only
#   scripts/setup.sh train-deps   also what retraining the demonstration EG2 models needs
#                                 (tools/eg2-demo/train.sh; not needed by the tests)
# Run as root on Debian 12 (or with sudo available). Safe to run again: it installs only what is missing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELORA_BUILD_DIR:-$here/build}"
jobs="$(nproc 2>/dev/null || echo 2)"

packages=(
  # toolchain
  build-essential cmake pkg-config git ca-certificates
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # audio decoding
  libsndfile1-dev libsoxr-dev libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg espeak-ng
  # signal processing and the model runtime
  libfftw3-dev libopencv-dnn-dev libopencv-core-dev python3 python3-onnx python3-numpy
  # text: Unicode services and readings
  libicu-dev libmecab-dev mecab mecab-ipadic-utf8 mecab-utils
  # networking, hashing, JSON, secrets
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libcpp-httplib-dev libsecret-1-dev gnome-keyring dbus libglib2.0-bin
  # the download tests make a certificate for 127.0.0.1; the download benchmark compares with curl
  openssl curl
  # desktop application: toolkit, accessibility, X11, sound
  qt6-base-dev qt6-svg-dev libatspi2.0-dev libdbus-1-dev at-spi2-core libx11-dev libxtst-dev libxi-dev libxfixes-dev libxres-dev
  libxkbcommon-dev libpulse-dev libglib2.0-dev fonts-ipafont-gothic fonts-noto-color-emoji desktop-file-utils
  # the private desktop the desktop tests run in, and its target programs
  xvfb jwm pulseaudio pulseaudio-utils xterm python3-gi gir1.2-gtk-3.0 xclip x11-xserver-utils x11-utils xcompmgr
)

# Only for retraining the demonstration EG2 models; neither the build nor the tests need them.
train_packages=(python3-torch python3-onnx python3-numpy sox libsox-fmt-all libopenblas0-pthread espeak-ng)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_deps() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  # The speech recogniser's source arrives as an npm package; any working npm will do.
  if ! command -v npm >/dev/null 2>&1; then
    missing+=(nodejs npm)
  fi
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# The window tests check number formats under a decimal-comma locale.
ensure_test_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
}

configure() {
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

case "${1:-}" in
  deps)
    install_deps
    ;;
  train-deps)
    install_deps "${train_packages[@]}"
    ;;
  demo)
    install_deps
    configure -DPELORA_BUILD_TESTS=OFF -DPELORA_BUILD_BENCH=OFF -DPELORA_BUILD_APP=OFF
    cmake --build "$build" -j "$jobs" --target pelora-voice-cli
    status=0
    "$build/cli/pelora-voice-cli" "$here/samples/konnichiwa-ja.wav" || status=$?
    if [ "$status" -ne 0 ]; then
      # The English-only mode still shows speech turning into words: the shipped
      # demonstration models, on a clip spoken by a voice they were not trained on.
      echo
      echo "English-only mode (--mode eg2) with the demonstration models in models/eg2-demo:"
      demo_data="$(mktemp -d)"
      mkdir -p "$demo_data/PeloraVoice2"
      ln -s "$here/models/eg2-demo" "$demo_data/PeloraVoice2/models"
      XDG_DATA_HOME="$demo_data" "$build/cli/pelora-voice-cli" --mode eg2 "$here/samples/eg2-demo-1.wav" || true
      rm -rf "$demo_data"
      echo >&2
      echo "The tool was built and ran; Japanese recognition needs the speech model ggml-small.bin (466 MiB), downloaded on first use from https://huggingface.co/ggerganov/whisper.cpp; offline, copy it into ${XDG_DATA_HOME:-$HOME/.local/share}/PeloraVoice2/speech/ja/ (README.md, \"The Japanese speech model\")." >&2
    fi
    exit "$status"
    ;;
  test)
    install_deps
    ensure_test_locale
    # Every option the tests need is set here: a demo build before leaves OFF in the cache.
    configure -DPELORA_BUILD_TESTS=ON -DPELORA_BUILD_BENCH=ON -DPELORA_BUILD_APP=ON
    cmake --build "$build" -j "$jobs"
    cd "$build"
    ctest --output-on-failure --no-tests=error -j "$jobs"
    ;;
  *)
    echo "usage: $0 demo|test|deps|train-deps" >&2
    exit 2
    ;;
esac
