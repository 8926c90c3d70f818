#!/usr/bin/env bash
# Prints the md5 of every output of a fixed set of orvanta-cli runs, so that a change meant to leave
# results alone can be checked: run it before and after, and diff the two listings.
#   scripts/output-checksums.sh [build-dir] > listing.txt
# Inputs are made from the demo song and one corpus song with ffmpeg; nothing outside a temporary
# folder is written. Timing fields of --json reports are masked, as they differ from run to run.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cli="$build/bin/orvanta-cli"
demo="$build/demo/orvanta-demo.wav"
corpus=/usr/share/games/fretsonfire/data/songs/muldjord
[ -x "$cli" ] || { echo "no orvanta-cli in $build/bin" >&2; exit 1; }
[ -f "$demo" ] || { echo "no demo song at $demo" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
in="$work/in"; out="$work/out"
mkdir -p "$in" "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
ff -i "$demo" -c:a pcm_s24le "$in/stereo.wav"
ff -i "$demo" -ac 1 -c:a pcm_s24le "$in/mono.wav"
ff -i "$demo" -c:a flac "$in/song.flac"
ff -i "$demo" -ar 48000 -c:a pcm_s24le "$in/rate48.wav"
ff -stream_loop 9 -i "$demo" -t 300 -c:a pcm_s24le "$in/long300.wav"
ff -i "$corpus/armygeddon/song.ogg" -t 40 -ar 44100 -ac 2 -c:a pcm_s24le "$in/refA.wav"
ff -i "$corpus/chaos_god/song.ogg" -ss 20 -t 40 -ar 44100 -ac 2 -c:a pcm_s24le "$in/refB.wav"
ff -i "$corpus/mutilated_mime/song.ogg" -t 30 -ar 44100 -ac 2 -c:a pcm_s24le "$in/quiet.wav"

run() { "$cli" "$@" > /dev/null; }
for preset in Normal Loud "Extra Loud"; do
    tag=${preset// /}
    run master "$in/stereo.wav" --preset "$preset" -o "$out/stereo_$tag.wav"
    run master "$in/mono.wav" --preset "$preset" -o "$out/mono_$tag.wav"
done
run master "$in/song.flac" -o "$out/flac.wav"
run master "$in/long300.wav" -o "$out/long300.wav"
run master "$in/rate48.wav" -o "$out/rate48.wav"
run master "$in/quiet.wav" --preset Normal -o "$out/quiet_Normal.wav"
run master "$in/stereo.wav" --reference "$in/refA.wav" -o "$out/final_refA.wav"
run master "$in/quiet.wav" --reference "$in/refB.wav" --match-amount Gentle -o "$out/final_refB.wav"
run master "$in/stereo.wav" --format m4a -o "$out/stereo.m4a"
# Reports name their files: the temporary folder's name is masked.
unplaced() { sed "s|$work|WORK|g"; }
"$cli" analyze "$in/stereo.wav" --json | unplaced > "$out/analyze.json"
"$cli" analyze "$in/quiet.wav" | unplaced > "$out/analyze.txt"
run analyze "$in/quiet.wav" --repair -o "$out/repaired.wav"
"$cli" master "$in/refA.wav" --json -o "$out/json_master.wav" | unplaced |
    sed -E 's/("[a-z_]*(seconds|time|elapsed|duration_ms)[a-z_]*"[[:space:]]*:[[:space:]]*)[-0-9.e+]+/\1MASKED/g' \
        > "$out/master.json"
mkdir -p "$out/batch" "$in/batch"
cp "$in/stereo.wav" "$in/refA.wav" "$in/quiet.wav" "$in/batch/"
run master "$in/batch/"*.wav --jobs 2 -o "$out/batch"

cd "$out"
find . -type f | LC_ALL=C sort | while read -r f; do md5sum "$f"; done
