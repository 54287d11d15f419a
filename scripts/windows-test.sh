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
