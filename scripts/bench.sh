#!/usr/bin/env bash
# Runs every benchmark of the release build. --brief only checks that each one still runs.
set -euo pipefail
cd "$(dirname "$0")/.."
args=()
if [ "${1:-}" = "--brief" ]; then
  args=(--benchmark_min_time=0.01)
  shift
fi
shopt -s nullglob
benches=(build/release/bench/bench_*)
for exe in "${benches[@]}"; do
  [ -x "$exe" ] || continue
  echo "bench: ${exe##*/}"
  "$exe" "${args[@]}" "$@"
done
