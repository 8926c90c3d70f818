#!/bin/sh
# The demo-song tool writes a song only where it is asked to: an option it does not have, or a length
# that is not a number, is an error that leaves no file behind.
set -u
tool="$1"
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
fail() { echo "demo-song-tool: $1"; exit 1; }

"$tool" --help > help.txt || fail "--help should succeed"
grep -q "usage:" help.txt || fail "--help should print the usage"
"$tool" -o 2> /dev/null && fail "-o should be refused"
"$tool" song.wav 3x 2> /dev/null && fail "a length of 3x should be refused"
"$tool" song.wav 0 2> /dev/null && fail "a length of 0 should be refused"
[ "$(ls | grep -v '^help.txt$')" = "" ] || fail "a refused call left: $(ls)"
"$tool" song.wav 0.5 || fail "a half-second song should be written"
[ -s song.wav ] || fail "song.wav is missing"
exit 0
