#!/usr/bin/env bash
# The main job of `make run`: the window, offering the generated demo song on its import screen.
# Without a display, the command-line tool masters the demo song instead.
set -euo pipefail
build=${1:-build}
demo="$build/demo/orvanta-demo.wav"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/bin/orvanta" --demo-song "$demo"
fi
echo "[run] no display: measuring and mastering the demo song with orvanta-cli instead of opening the window"
# The master goes beside the demo song, where it stays for the user to open.
master="$(cd "$(dirname "$demo")" && pwd)/orvanta-demo (MASTER).wav"
"$build/bin/orvanta-cli" measure "$demo"
"$build/bin/orvanta-cli" master "$demo" -o "$master"
echo "[run] the demo master is $master"
