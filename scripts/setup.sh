#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: packages already
# installed are skipped, and the package index is refreshed only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  # The include-graph check the suite runs.
  python3
  libsndfile1-dev libmpg123-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libfftw3-dev
  nlohmann-json3-dev
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  libgl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libebur128-dev
  ffmpeg
  # make fuzz: clang with its libFuzzer and sanitizer runtimes.
  clang libclang-rt-14-dev
  # GNU Parallel: the tests check that it runs the single-file command to the same files as --jobs.
  parallel
  xvfb xauth
  # Real music (four CC BY-SA metal songs, 29 MB) for the corpus benchmark.
  fretsonfire-songs-muldjord
  # Real music of other genres and eras for the reference-matching benchmark (about 140 MB in all):
  # rock songs (29 MB), the orchestral and ambient HyperRogue score (64 MB), the 1990s Drascula
  # adventure soundtrack (36 MB) and ASC's electronic battle music, 22 kHz MP3 (10 MB).
  fretsonfire-songs-sectoid
  hyperrogue-music
  drascula-music
  asc-music
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "[setup] installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
