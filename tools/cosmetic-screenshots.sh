#!/usr/bin/env bash
# Takes docs/splash.png and docs/about.png on a virtual X display, from a
# configured build directory (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target wirelet_cosmetic_demo
for what in splash about; do
    CANBERRA_DRIVER=none xvfb-run -a -s "-screen 0 1280x800x24" \
        "$build/tools/wirelet_cosmetic_demo" "$what" "docs/$what.png"
done
