#!/usr/bin/env bash
# orvane monitor --mqtt against a broker of its own on loopback:
#  1. throughput and loss: the simulated sensor at rate=1000 for SECONDS (default 60); every
#     logged row must reach the subscriber exactly once (QoS 1);
#  2. latency from a sample's processing in the loop (the row's "time") to the subscriber:
#     median and 99th percentile, from the same run;
#  3. CPU of the monitor at 50 samples/s over SECONDS.
set -euo pipefail
cd "$(dirname "$0")/../.."
orvane=${ORVANE:-build/release/tools/orvane}
seconds=${1:-60}
dir=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n%s' "$port" \
  "$([ "$(id -u)" = 0 ] && echo 'user root')" >"$dir/broker.conf"
mosquitto -c "$dir/broker.conf" >"$dir/broker.log" 2>&1 &
broker=$!
trap 'kill $broker 2>/dev/null; rm -rf "$dir"' EXIT
sleep 0.5

mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t fig/tilt -F '%U %p' >"$dir/received" &
sub=$!
sleep 0.3
"$orvane" monitor --device sim:rate=1000 --seconds "$seconds" \
  --mqtt "mqtt://127.0.0.1:$port/fig" >"$dir/rows.csv"
sleep 1
kill $sub
python3 - "$dir/rows.csv" "$dir/received" "$seconds" <<'PY'
import json, sys
rows = [l.split(',')[1] for l in open(sys.argv[1]).read().split('\n')[1:] if l]
got, latency = [], []
for line in open(sys.argv[2]):
    at, payload = line.split(' ', 1)
    message = json.loads(payload)
    got.append(str(message['sample']))
    latency.append(float(at) - message['time'])
missing = set(rows) - set(got)
duplicates = len(got) - len(set(got))
latency.sort()
print(f"rows {len(rows)} ({len(rows) / float(sys.argv[3]):.0f}/s), received {len(got)}, "
      f"missing {len(missing)}, duplicates {duplicates}")
print(f"latency: median {1000 * latency[len(latency) // 2]:.2f} ms, "
      f"p99 {1000 * latency[int(len(latency) * 0.99)]:.2f} ms")
PY

/usr/bin/time -f '%U %S %e' -o "$dir/time" "$orvane" monitor --device sim --seconds "$seconds" \
  --mqtt "mqtt://127.0.0.1:$port/cpu" >/dev/null
read -r user sys wall <"$dir/time"
python3 -c "print(f'CPU at 50 samples/s: {100 * ($user + $sys) / $wall:.2f} % of a core over {$wall:.0f} s')"
