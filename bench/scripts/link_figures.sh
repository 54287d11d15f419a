#!/usr/bin/env bash
# The link's two figures from the release build: CPU of a process whose simulated sensor is
# unplugged, over SECONDS (default 30) of the acquisition loop's passes; and the time from "g" to
# the first sample over a pseudo-terminal (median and p95 of 100 tries).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}
cmake --preset release >/dev/null
cmake --build --preset release --target bench_link_idle bench_link_latency orvane
export ORVANE_TOOL=$PWD/build/release/tools/orvane
build/release/bench/bench_link_idle --benchmark_min_time="$seconds"
build/release/bench/bench_link_latency
