#!/usr/bin/env bash
# Runs every benchmark executable of the build.
set -euo pipefail
build=${1:-build}
status=0
for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_counters_tabular=true || status=1
done
exit $status
