#!/usr/bin/env bash
# Measures the viewer on the simulated sensor under Xvfb:
#   - launch to first painted frame (the first blit of the view), over several launches;
#   - resident memory after 60 s of streaming at 50 frames/s;
#   - CPU share of one core over those 60 s (after a 5 s warm-up), user + system.
# usage: tests/e2e/measure_viewer.sh [VIEWER] [RUNS]   (default build/release/app/orvane-viewer, 5)
set -euo pipefail
viewer=${1:-build/release/app/orvane-viewer}
runs=${2:-5}
seconds=${ORVANE_MEASURE_SECONDS:-60}
[ -x "$viewer" ] || { echo "measure: no viewer at $viewer" >&2; exit 2; }

tmp=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$tmp/display")"
export ORVANE_DEVICE=sim

quit() { # ends the viewer as a person would (Enter presses Done) and waits for it
  local pid=$1 window
  window=$(xdotool search --onlyvisible --name '^Orvane Viewer$' 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && xdotool windowfocus --sync "$window" && xdotool key Return
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

echo "first painted frame after launch (ms):"
times=()
for i in $(seq "$runs"); do
  rm -f "$tmp/probe.first"
  start=$(date +%s%N)
  ORVANE_UI_PROBE="$tmp/probe" "$viewer" 2>/dev/null &
  pid=$!
  for _ in $(seq 500); do [ -s "$tmp/probe.first" ] && break; sleep 0.01; done
  first=$(cat "$tmp/probe.first" 2>/dev/null || echo "$start")
  ms=$(( (first - start) / 1000000 ))
  times+=("$ms")
  echo "  run $i: $ms"
  quit "$pid"
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "  median $(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p"), max $(echo "$sorted" | tail -n1)"

tick=$(getconf CLK_TCK)
"$viewer" 2>/dev/null &
pid=$!
sleep 5
read -r -a stat < <(cut -d' ' -f14,15 "/proc/$pid/stat")
cpu0=$(( stat[0] + stat[1] ))
t0=$(date +%s%N)
sleep "$seconds"
read -r -a stat < <(cut -d' ' -f14,15 "/proc/$pid/stat")
cpu1=$(( stat[0] + stat[1] ))
t1=$(date +%s%N)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
quit "$pid"
awk -v c=$(( cpu1 - cpu0 )) -v tick="$tick" -v ns=$(( t1 - t0 )) -v rss="$rss" -v hwm="$hwm" \
  -v s="$seconds" 'BEGIN {
    printf "after %d s on sim at 50 frames/s: resident %.1f MB (peak %.1f MB)\n", s + 5, rss / 1024, hwm / 1024;
    printf "CPU over %d s: %.2f %% of one core (user + system)\n", s, 100 * (c / tick) / (ns / 1e9) }'
