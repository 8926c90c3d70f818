#!/usr/bin/env bash
# The main job of `make run`: measure the generated demo song with the command-line tool.
set -euo pipefail
build=${1:-build}
exec "$build/bin/orvanta-cli" measure "$build/demo/orvanta-demo.wav"
