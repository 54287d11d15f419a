#!/usr/bin/env bash
# The 32-bit Windows build, tested under Wine: cross-builds the mingw32 preset, runs its unit
# tests (each through Wine), then the viewer end to end under Xvfb with and without FTD2XX.dll.
# scripts/test runs it after the host builds; it also runs on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
step() { printf '\n=== windows: %s\n' "$*"; }

step "build (mingw32)"
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32

# Wine runs 32-bit Windows programs as 32-bit Linux processes. Some kernels run 64-bit user code
# only (IA-32 emulation off): there nothing 32-bit starts, Wine included, so only what needs no
# Wine is checked.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  step "this machine runs no 32-bit programs (IA-32 emulation is off): Wine cannot start"
  echo "windows: the cross-build above passed; skipping the tests under Wine on this machine"
  ctest --preset mingw32 -R '^wine_binaries$'
  echo "windows: done in $(($(date +%s) - started)) s (without Wine)"
  exit 0
fi

step "unit tests under wine"
ctest --preset mingw32 -j2

# The host's `orvane` renders the reference picture of the wide view (the Windows companion has
# no PNG writer).
step "viewer end to end under wine"
cmake --preset dev >/dev/null
cmake --build --preset dev --target orvane
# Bounded: it cleans up Xvfb and Wine when stopped.
timeout 600 tests/wine/viewer_e2e.sh build/mingw32 build/dev/tools/orvane

echo "windows: done in $(($(date +%s) - started)) s"
