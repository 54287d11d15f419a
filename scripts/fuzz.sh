#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds (default 60), starting from a copy of
# its seed corpus so the repository stays untouched. Fails on the first crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bin=build/fuzz/fuzz
shopt -s nullglob
targets=("$bin"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets built in $bin" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Crash inputs outlive the run so a failure can be replayed.
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
for exe in "${targets[@]}"; do
  [ -x "$exe" ] || continue
  name=${exe##*/fuzz_}
  mkdir -p "$work/$name"
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/$name/"
  echo "fuzz: $name for ${seconds}s"
  "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$name-" \
    "$work/$name" 2>"$work/$name.log" || {
    tail -50 "$work/$name.log" >&2
    echo "fuzz: $name failed; reproducer in $artifacts/" >&2
    exit 1
  }
  grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$work/$name.log" | tail -2
done
