#!/usr/bin/env bash
# Starts the window under a virtual display, walks import, processing (caught mid-run), result (with the
# gain-reduction lane and "What changed"), the analyzer panel (beside the result, compared with the
# original, with the repair's EQ curve) and the result of a reference pass (with its matched EQ curve)
# with the demo song at 1280x800 and 1024x700, and saves one PNG per screen and size: in the default theme into the folder given, in the
# "Black & Gold" theme into its "black-gold" subfolder, and at a device-pixel ratio of 2 into "2x".
# usage: scripts/screenshots.sh OUTPUT_FOLDER [BUILD_DIR]
set -euo pipefail
out=${1:?usage: scripts/screenshots.sh OUTPUT_FOLDER [BUILD_DIR]}
build=${2:-build}
mkdir -p "$out"
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# A private preference folder and no sound card: the run leaves the user's settings alone.
export ORVANTA_AUDIO_OUTPUT=null QT_QPA_PLATFORM=xcb

# tour FOLDER THEME_ID SCALE: one walk with fresh preferences holding the theme.
tour() {
  local folder=$1 theme=$2 scale=$3 run="$config/$2-$3"
  mkdir -p "$folder" "$run/config" "$run/tmp"
  printf '{"selectedThemeId": {"type": "string", "value": "%s"}}\n' "$theme" >"$run/config/preferences.json"
  ORVANTA_CONFIG_DIR="$run/config" ORVANTA_TEMP_DIR="$run/tmp" QT_SCALE_FACTOR=$scale \
    xvfb-run -a -s "-screen 0 2800x1800x24" "$build/bin/orvanta" --demo-song "$build/demo/orvanta-demo.wav" \
    --screenshots "$folder"
}

tour "$out" original 1
tour "$out/black-gold" sunset 1
tour "$out/2x" original 2
