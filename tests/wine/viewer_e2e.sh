#!/usr/bin/env bash
# The Windows viewer end to end under Wine and Xvfb: without FTD2XX.dll (the fault box, exit 1),
# and with the simulated one (the dialog, its readouts and picture, Done with exit 0); and the
# companion orvane.exe logging from the same library.
#
# usage: tests/wine/viewer_e2e.sh BUILD_DIR HOST_ORVANE
#   BUILD_DIR    the mingw32 build (orvane-viewer.exe, FTD2XX.dll, the probes, its Wine prefix)
#   HOST_ORVANE  the host build's `orvane`, which renders the reference picture of the wide view
# Screenshots and the programs' output are kept in BUILD_DIR/wine-e2e/ for people to look at.
set -euo pipefail

build=$(cd "$1" && pwd)
host_orvane=$(realpath "$2")
out=$build/wine-e2e
rm -rf "$out"
mkdir -p "$out"

export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all WINEARCH=win32
export WINEDLLOVERRIDES='mscoree=;mshtml='
unset ORVANE_DEVICE

title="Orvane Viewer"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

xvfb_pid=
viewer_pid=
watch_pid=
monitor_pid=
cleanup() {
  for pid in $watch_pid $viewer_pid $monitor_pid; do
    kill "$pid" 2>/dev/null || true
  done
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of our own, on the first free number.
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>"$out/xvfb.log" & echo "$!")
read -r xvfb_pid <&3
read -r -t 30 display <&3 || { echo "viewer_e2e: Xvfb did not start" >&2; exit 1; }
exec 3<&-
export DISPLAY=:$display

# Programs run in Wine's virtual desktop, which draws window frames as Windows does (there is no
# window manager). The setting is read when the prefix's desktop starts, so it is made first.
mkdir -p "$WINEPREFIX"
if ! grep -qs '"Desktop"="Default"' "$WINEPREFIX/user.reg"; then
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w
fi
wineserver -p60 2>/dev/null || true
wineboot </dev/null >/dev/null 2>&1

probe() { wine "$build/tests/wine/dialog_probe.exe" "$@"; }

# start_viewer DIR NAME [VAR=VALUE...]: runs DIR/orvane-viewer.exe, its output in $out/NAME.*
start_viewer() {
  local dir=$1 name=$2
  shift 2
  env "$@" timeout -k 5 120 wine "$dir/orvane-viewer.exe" >"$out/$name.out" 2>"$out/$name.err" &
  viewer_pid=$!
}

# viewer_exit SECONDS: sets `status` to the viewer's exit status once it has ended, or to
# "running" (and ends it) after SECONDS.
viewer_exit() {
  local tries=$(($1 * 10))
  while [ $tries -gt 0 ] && kill -0 "$viewer_pid" 2>/dev/null; do
    sleep 0.1
    tries=$((tries - 1))
  done
  if kill -0 "$viewer_pid" 2>/dev/null; then
    status=running
    kill "$viewer_pid" 2>/dev/null || true
  fi
  local code=0
  wait "$viewer_pid" || code=$?
  [ "${status:-}" = running ] || status=$code
  viewer_pid=
}

# click WINDOW_TITLE CONTROL_ID: a real mouse click in the middle of the control.
click() {
  local cx cy id class visible x y w h
  read -r cx cy < <(probe client "$1")
  read -r id class visible x y w h _ < <(probe controls "$1" | awk -v id="$2" '$1 == id' | head -n 1)
  xdotool mousemove $((cx + x + w / 2)) $((cy + y + h / 2)) click 1
}

# picture_matches WINDOW_TITLE SHOT REFERENCE NAME: the picture frame's area of the screenshot
# equals the reference pixels exactly, but for the labels drawn over it ("+Y", "-X", ...), which
# are blanked in both.
picture_matches() {
  local cx cy controls fx fy fw fh masks differ
  read -r cx cy < <(probe client "$1")
  controls=$(probe controls "$1")
  read -r _ _ _ fx fy fw fh _ < <(awk '$1 == 1016' <<<"$controls")
  masks=$(awk -v fx="$fx" -v fy="$fy" -v fw="$fw" -v fh="$fh" '
    $3 == 1 && $4 < fx + fw && $4 + $6 > fx && $5 < fy + fh && $5 + $7 > fy {
      printf "rectangle %d,%d %d,%d ", $4 - fx, $5 - fy, $4 + $6 - 1 - fx, $5 + $7 - 1 - fy }' <<<"$controls")
  convert "$2" -crop "${fw}x${fh}+$((cx + fx))+$((cy + fy))" +repage -fill '#FF00FF' -draw "$masks" \
    "$out/$4-area.png"
  convert "$3" -fill '#FF00FF' -draw "$masks" "$out/$4-expected.png"
  differ=$(compare -metric AE "$out/$4-area.png" "$out/$4-expected.png" "$out/$4-diff.png" 2>&1 \
    >/dev/null || true)
  if [ "$differ" = 0 ]; then
    pass "$4: the picture area equals the frame pixels (${fw}x$fh at $((cx + fx)),$((cy + fy)), labels aside)"
  else
    fail "$4: the picture area differs from the frame pixels in $differ pixels (see $out/$4-diff.png)"
  fi
}

# The dialog's controls in template order: id, class, visible, the template's rectangle in dialog
# units (which must be where the control is) and the text.
expected_controls() {
  cat <<'EOF'
1 Button 1 261 310 50 14 "Done"
1016 Static 0 6 7 311 292 ""
-1 Static 1 168 8 10 8 "+Y"
-1 Static 1 8 160 8 8 "-X"
-1 Static 1 305 136 10 8 "+X"
-1 Static 1 147 288 8 8 "-Y"
1017 Button 1 94 304 31 10 "< rotate"
1020 Button 1 130 304 31 10 "mark"
1018 Button 1 164 304 31 10 "rotate >"
-1 Static 1 13 326 22 8 "Offset:"
1000 Edit 1 37 323 40 12 "--"
-1 Static 1 79 326 10 8 "X^"
1001 Edit 1 95 323 40 12 "--"
-1 Static 1 137 326 10 8 "Y^"
-1 Static 1 161 325 19 8 "Total:"
1005 Edit 1 183 323 40 12 "--"
-1 Static 1 225 325 28 8 "Degrees"
EOF
}

# in_pixels BX BY: the template's rectangles in pixels for the dialog base units BX x BY, as the
# dialog manager places controls: x, y, width and height each scaled and rounded on its own.
in_pixels() {
  expected_controls | awk -v bx="$1" -v by="$2" '
    function md(v, n, d) { return v >= 0 ? int((v * n * 2 + d) / (2 * d)) : -int((-v * n * 2 + d) / (2 * d)) }
    { t = $8; for (i = 9; i <= NF; ++i) t = t " " $i
      print $1, $2, $3, md($4, bx, 4), md($5, by, 8), md($6, bx, 4), md($7, by, 8), t }'
}

# check_controls NAME: the live dialog has exactly the template's controls, each where the
# template puts it for one set of dialog base units (those of the dialog's font, which Wine and
# Windows may measure differently).
check_controls() {
  local actual bx by
  actual=$(probe controls "$title")
  for bx in $(seq 4 16); do
    for by in $(seq 8 32); do
      if [ "$(in_pixels "$bx" "$by")" = "$actual" ]; then
        pass "$1: the dialog has the template's controls, ids, texts and places (base units ${bx}x$by)"
        return
      fi
    done
  done
  fail "$1: the controls differ from the template (template at 6x13 units, then actual):"
  diff <(in_pixels 6 13) <(echo "$actual") || true
}

# --- Without FTD2XX.dll: the fault box, exit 1 --------------------------------------------------
for dir in "$build/app" "$build/tools"; do
  [ ! -e "$dir/FTD2XX.dll" ] || fail "no-device: $dir has an FTD2XX.dll"
done
start_viewer "$build/app" no-device
if probe wait "Communications fault" 30000; then
  pass "no-device: the \"Communications fault\" box appears"
  sleep 1 # shown is not yet painted
  import -window root "$out/no-device.png"
  boxtext=$(probe controls "Communications fault")
  if grep -qx -- '-1 Static 1 [0-9 ]* "Could not find downtower accel comm interface"' <<<"$boxtext" &&
    grep -q ' Button 1 .* "OK"$' <<<"$boxtext"; then
    pass "no-device: it says \"Could not find downtower accel comm interface\" and has OK"
  else
    fail "no-device: the box reads otherwise:"$'\n'"$boxtext"
  fi
  click "Communications fault" "$(awk '$2 == "Button" { print $1 }' <<<"$boxtext")"
else
  fail "no-device: no \"Communications fault\" box"
fi
status=
viewer_exit 15
[ "$status" = 1 ] && pass "no-device: exit status 1" || fail "no-device: exit status $status"
if grep -q "unable to open communication device" "$out/no-device.out"; then
  pass "no-device: \"unable to open communication device\" on standard output"
else
  fail "no-device: standard output: $(cat "$out/no-device.out")"
fi

# The viewer beside the simulated library, as a user would try it.
sim_dir=$out/with-simulated-dll
mkdir -p "$sim_dir"
cp "$build/app/orvane-viewer.exe" "$build/tools/orvane.exe" "$build/sim/dll/FTD2XX.dll" \
  "$build/tests/wine/frame_reference.exe" "$sim_dir/"

# --- A silent sensor: the dialog before any data -------------------------------------------------
frame_w= frame_h=
start_viewer "$sim_dir" silent ORVANE_DEVICE=sim:silent
if probe wait "$title" 30000; then
  pass "silent: the window \"$title\" appears"
  check_controls silent
  read -r _ _ _ _ _ frame_w frame_h _ < <(probe controls "$title" | awk '$1 == 1016')
  readouts=$(probe watch "$title" 2000 1000 1001 1005)
  if [ "$(wc -l <<<"$readouts")" = 1 ] && [ "${readouts#* }" = '"--" "--" "--"' ]; then
    pass "silent: the readouts show no number and stay so"
  else
    fail "silent: readouts $readouts"
  fi
  import -window root "$out/silent.png"
  "$host_orvane" render --size "${frame_w}x$frame_h" --view wide -o "$out/wide-reference.png"
  picture_matches "$title" "$out/silent.png" "$out/wide-reference.png" silent
  click "$title" 1
else
  fail "silent: no window \"$title\""
fi
viewer_exit 15
[ "$status" = 0 ] && pass "silent: Done ends it with exit status 0" || fail "silent: exit status $status"

# --- A leaning tower: the readouts settle, the picture shows it ----------------------------------
lean=sim:x=1.5,y=-0.75,noise=0
start_viewer "$sim_dir" lean ORVANE_DEVICE=$lean
# Meanwhile the viewer's own loop and renderer, without a window, make the frame it must show.
reference_pid=
if [ -n "$frame_w" ]; then
  (cd "$sim_dir" && ORVANE_DEVICE=$lean exec wine ./frame_reference.exe "$frame_w" "$frame_h" 200 \
    lean-reference.ppm) >"$out/frame_reference.out" 2>&1 &
  reference_pid=$!
fi
# And the companion logs the same lean from the command line.
wine "$sim_dir/orvane.exe" monitor --device "$lean,rate=200" --count 150 >"$out/monitor.csv" \
  2>"$out/monitor.err" &
monitor_pid=$!
if probe wait "$title" 30000; then
  pass "lean: the window \"$title\" appears"
  probe watch "$title" 30000 1000 1001 1005 >"$out/lean-readouts.txt" &
  watch_pid=$!
  # Settled: the readouts near the lean and unchanged for three seconds (150 samples, so the
  # filter has forgotten its start).
  settled=no last= x= y= total=
  deadline=$((SECONDS + 30))
  while [ $SECONDS -lt $deadline ]; do
    sleep 0.1
    last=$(tail -n 1 "$out/lean-readouts.txt")
    read -r _ x y total <<<"${last//\"/}"
    if [ -n "${total:-}" ] && awk -v x="$x" -v y="$y" -v t="$total" \
      'BEGIN { exit !(x - 1.5 < 0.05 && 1.5 - x < 0.05 && y + 0.75 < 0.05 && -0.75 - y < 0.05 &&
                      t - 1.677 < 0.05 && 1.677 - t < 0.05) }'; then
      sleep 3
      [ "$(tail -n 1 "$out/lean-readouts.txt")" = "$last" ] && settled=yes && break
    fi
  done
  kill "$watch_pid" 2>/dev/null || true
  wait "$watch_pid" 2>/dev/null || true
  watch_pid=
  first=$(head -n 1 "$out/lean-readouts.txt")
  if [ "${first#* }" = '"--" "--" "--"' ]; then
    pass "lean: the readouts start with no number"
  else
    fail "lean: the first readouts were $first"
  fi
  if [ $settled = yes ]; then
    pass "lean: the readouts settle to the lean: X^ $x, Y^ $y, total $total"
  else
    fail "lean: the readouts did not settle near 1.50, -0.75, 1.68 (last: $last)"
  fi
  import -window root "$out/lean.png"
  if [ -n "$reference_pid" ] && wait "$reference_pid"; then
    picture_matches "$title" "$out/lean.png" "$sim_dir/lean-reference.ppm" lean
  else
    fail "lean: no reference frame: $(cat "$out/frame_reference.out")"
  fi
  click "$title" 1
else
  fail "lean: no window \"$title\""
fi
viewer_exit 15
[ "$status" = 0 ] && pass "lean: Done ends it with exit status 0" || fail "lean: exit status $status"

# --- The companion, orvane.exe: the same device through the same library ------------------------
monitor_status=0
wait "$monitor_pid" || monitor_status=$?
monitor_pid=
IFS=, read -r _ _ x y total view colour < <(tail -n 1 "$out/monitor.csv")
if [ $monitor_status = 0 ] && [ "$(wc -l <"$out/monitor.csv")" = 151 ] &&
  awk -v x="$x" -v y="$y" 'BEGIN { exit !(x - 1.5 < 0.05 && 1.5 - x < 0.05 && y + 0.75 < 0.05 && -0.75 - y < 0.05) }'; then
  pass "companion: orvane.exe monitor logs the lean: x $x, y $y, total $total, $view, $colour"
else
  fail "companion: orvane.exe monitor, status $monitor_status: $(tail -n 2 "$out/monitor.csv") $(cat "$out/monitor.err")"
fi
monitor_status=0
wine "$build/tools/orvane.exe" monitor --count 1 >"$out/monitor-no-device.csv" 2>"$out/monitor-no-device.err" ||
  monitor_status=$?
if [ $monitor_status = 1 ] && grep -q "Could not find downtower accel comm interface" "$out/monitor-no-device.err"; then
  pass "companion: without FTD2XX.dll orvane.exe monitor says there is no sensor, status 1"
else
  fail "companion: without FTD2XX.dll: status $monitor_status, $(cat "$out/monitor-no-device.err")"
fi

echo "viewer_e2e: screenshots in $out"
if [ $failures -gt 0 ]; then
  echo "viewer_e2e: $failures failed"
  exit 1
fi
echo "viewer_e2e: all passed"
