#!/usr/bin/env bash
# Installs what is missing, builds and starts wirelet. On a machine without
# serial ports it offers a demo port, a modem that a sample application talks
# to; without a display it shows the demo port's traffic in the terminal for
# ten seconds instead.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

# WIRELET_BUILD_DIR names another build tree (the tests give theirs); a tree
# that exists keeps its own configuration, a sanitizer build's for one.
build=${WIRELET_BUILD_DIR:-build}
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" \
    --target wirelet vantry.sys wirelet-cli wirelet-demo wirelet-demo-app
# Started beside its driver, so that a first run as root can install the
# driver service from there.
cd "$build/bin"

# The demo ends with what it runs, and takes its pty, sample application,
# map file and any driver it started for the run along.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): showing the demo port's live traffic with wirelet-cli monitor for ten seconds"
    exec ./wirelet-demo --driver ./vantry.sys -- \
        timeout --foreground --preserve-status --signal=INT --kill-after=5 10 \
        sh -c 'exec ./wirelet-cli monitor "$WIRELET_DEMO_PORT"'
fi
if [ -n "$(./wirelet-demo --ports)" ]; then
    exec ./wirelet "$@"
fi
exec ./wirelet-demo -- ./wirelet "$@"
