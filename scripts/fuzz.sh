#!/usr/bin/env bash
# Runs the readers' fuzzer for a given time on one core, at low priority. The working corpus grows
# in <build>/fuzz/corpus across runs; findings land in <build>/fuzz/findings. Starting points: a
# tone in every readable format (fuzz-seeds.sh) and the committed regression corpus.
# Usage: fuzz.sh <fuzz build folder> <seconds>
set -euo pipefail
build=${1:?usage: fuzz.sh <build> <seconds>}
seconds=${2:?usage: fuzz.sh <build> <seconds>}
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$build/fuzz"
mkdir -p "$work/corpus" "$work/findings" "$work/temp"
bash "$root/scripts/fuzz-seeds.sh" "$work/seeds"

# A private temporary folder for FFmpeg's decoded scratch files; a leak report is a finding too.
export ORVANTA_TEMP_DIR="$work/temp"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/fuzz/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
set +e
nice -n 15 "$build/bin/orvanta_reader_fuzzer" \
  -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=32768 -print_final_stats=1 \
  -artifact_prefix="$work/findings/" \
  "$work/corpus" "$work/seeds" "$root/tests/fuzz/corpus" 2>&1 | tee "$work/last-run.log" |
  grep --line-buffered -E 'INITED|pulse|DONE|ERROR|SUMMARY|stat::|Test unit written'
status=${PIPESTATUS[0]}
set -e
if ls "$work/findings"/* > /dev/null 2>&1; then
  echo "[fuzz] findings in $work/findings:"
  ls -la "$work/findings"
fi
exit "$status"
