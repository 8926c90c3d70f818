#!/usr/bin/env bash
# Starts the window under a virtual display, walks import, processing and result with the demo song
# at 1280x800 and 1024x700, and saves one PNG per screen and size into the folder given.
# usage: scripts/screenshots.sh OUTPUT_FOLDER [BUILD_DIR]
set -euo pipefail
out=${1:?usage: scripts/screenshots.sh OUTPUT_FOLDER [BUILD_DIR]}
build=${2:-build}
mkdir -p "$out"
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# A private preference folder and no sound card: the run leaves the user's settings alone.
export ORVANTA_CONFIG_DIR="$config/config" ORVANTA_TEMP_DIR="$config/tmp" ORVANTA_AUDIO_OUTPUT=null
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bin/orvanta" --demo-song "$build/demo/orvanta-demo.wav" \
  --screenshots "$out"
