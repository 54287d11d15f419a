#!/usr/bin/env bash
# Resident memory of `orvane monitor` replaying a one-hour recording (50 frames/s, 180,000
# frames) at 1000 frames/s: sampled every 10 s over the whole replay (about 3 minutes). The
# figure is flat when the first and last samples agree. Usage: replay_memory.sh [ORVANE]
set -euo pipefail
cd "$(dirname "$0")/../.."
orvane=${1:-build/release/tools/orvane}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 - "$dir/hour.bin" <<'PY'
import math, struct, sys
def frame(t, c0, c1, c2):
    body = struct.pack('>hhh', c0, c1, c2)
    return bytes([t]) + body + bytes([(0xFF - sum(body)) & 0xFF])
out = bytearray(b'e' + bytes(7)) + frame(ord(';'), 0, 1000, 0)
for i in range(180000):  # one hour at 50 frames/s, a slow sway of a degree
    lean = math.radians(2 + math.sin(i / 500.0))
    out += frame(ord(':'), int(-1000 * math.sin(lean)), int(1000 * math.cos(lean)), 17)
open(sys.argv[1], 'wb').write(out)
PY
"$orvane" monitor --device "replay:$dir/hour.bin,rate=1000" --seconds 190 >"$dir/rows.csv" &
pid=$!
for t in $(seq 10 10 180); do
  sleep 10
  echo "t=${t}s rss_kib=$(ps -o rss= -p "$pid" | tr -d ' ') rows=$(($(wc -l <"$dir/rows.csv") - 1))"
done
wait "$pid"
echo "rows logged: $(($(wc -l <"$dir/rows.csv") - 1)), last sample: $(tail -n 1 "$dir/rows.csv" | cut -d, -f2)"
