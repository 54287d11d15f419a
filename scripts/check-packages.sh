#!/usr/bin/env bash
# Checks the packages of scripts/package with their users' tools: lintian on the Debian package,
# its file list, its programs run from it; the zip's layout; the Windows installer run silently
# under Wine, where this machine can run 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packages
version=$(sed -n 's/^project(OrvaneViewer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$out/orvane-viewer_${version}_amd64.deb
zip=$out/orvane-viewer-$version-win32.zip
setup=$out/orvane-viewer-$version-win32-setup.exe
failures=0
pass() { echo "PASS: $*"; }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# --- Debian package -------------------------------------------------------------------------------
tags=$(lintian --tag-display-limit 0 "$deb" 2>/dev/null | grep -E '^[EW]: ' || true)
[ -z "$tags" ] && pass "lintian: no errors or warnings" || fail "lintian: $tags"
want="./usr/bin/orvane ./usr/bin/orvane-viewer ./usr/lib/udev/rules.d/60-orvane-ftdi.rules
./usr/share/applications/orvane-viewer.desktop ./usr/share/doc/orvane-viewer/changelog.gz
./usr/share/doc/orvane-viewer/copyright ./usr/share/icons/hicolor/scalable/apps/orvane-viewer.svg
./usr/share/man/man1/orvane-viewer.1.gz ./usr/share/man/man1/orvane.1.gz
./usr/share/metainfo/org.orvane.Viewer.metainfo.xml"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$(tr ' ' '\n' <<<"$want" | sort)" ] && pass "deb: the file list" ||
  fail "deb: files $(tr '\n' ' ' <<<"$files")"
[ "$(dpkg-deb -f "$deb" Package)" = orvane-viewer ] && pass "deb: package name" || fail "deb: name"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libqt6widgets6 <<<"$depends" && grep -q libftdi1 <<<"$depends" &&
  pass "deb: dependencies from the binaries: $depends" || fail "deb: depends $depends"
dpkg-deb -e "$deb" "$scratch/control"
grep -q 'udevadm control --reload-rules' "$scratch/control/postinst" &&
  grep -q 'udevadm control --reload-rules' "$scratch/control/postrm" &&
  pass "deb: udev rules reloaded on install and removal" || fail "deb: maintainer scripts"
dpkg-deb -x "$deb" "$scratch/root"
for program in orvane orvane-viewer; do
  got=$(env -u DISPLAY "$scratch/root/usr/bin/$program" --version 2>&1 || true)
  [ "$got" = "$program $version" ] && pass "deb: $program --version" || fail "deb: $program: $got"
done
grep -q 'TAG+="uaccess"' "$scratch/root/usr/lib/udev/rules.d/60-orvane-ftdi.rules" &&
  grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$scratch/root/usr/lib/udev/rules.d/60-orvane-ftdi.rules" &&
  pass "deb: udev rule with uaccess, ignored by ModemManager" || fail "deb: udev rule"
appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/org.orvane.Viewer.metainfo.xml" \
  >/dev/null && pass "deb: AppStream metadata validates" || fail "deb: AppStream metadata"
zcat "$scratch/root/usr/share/man/man1/orvane-viewer.1.gz" | grep -q 'record FILE.bin' &&
  pass "deb: man page from --help" || fail "deb: man page"

# --- Windows zip ----------------------------------------------------------------------------------
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
top=orvane-viewer-$version-win32
wantzip="$top/LICENSE $top/README.md $top/bin/ $top/bin/orvane-viewer.exe $top/bin/orvane.exe $top/simulated-sensor/ $top/simulated-sensor/FTD2XX.dll "
[ "$listing" = "$wantzip" ] && pass "zip: programs, README, LICENSE, simulated library apart" ||
  fail "zip: $listing"

# --- Windows installer ----------------------------------------------------------------------------
[ -s "$setup" ] && pass "installer: built" || fail "installer: missing"
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "SKIP: installer under Wine: this machine runs no 32-bit programs (IA-32 emulation off)"
else
  export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEARCH=win32 "WINEDLLOVERRIDES=mscoree=;mshtml="
  wineboot -i >/dev/null 2>&1
  target='C:\orvane-test'
  wine "$setup" /S "/D=$target" >/dev/null 2>&1
  dir=$WINEPREFIX/drive_c/orvane-test
  [ -f "$dir/bin/orvane-viewer.exe" ] && [ -f "$dir/Uninstall.exe" ] &&
    pass "installer: silent install" || fail "installer: nothing in $dir"
  got=$(wine "$dir/bin/orvane.exe" --version 2>/dev/null | tr -d '\r')
  [ "$got" = "orvane $version" ] && pass "installer: orvane.exe --version" || fail "installer: $got"
  wine "$dir/Uninstall.exe" /S >/dev/null 2>&1
  sleep 3
  [ ! -e "$dir/bin/orvane-viewer.exe" ] && pass "installer: the uninstaller removes it" ||
    fail "installer: files left in $dir"
  wineserver -k 2>/dev/null || true
fi

echo "packages: $failures failed"
[ "$failures" = 0 ]
