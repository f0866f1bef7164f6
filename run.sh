#!/usr/bin/env bash
# Installs what is missing, builds and starts wirelet. On a machine without
# serial ports it offers a demo port, a modem that a sample application talks
# to; without a display it shows the demo port's traffic in the terminal for
# ten seconds instead.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

build=${WIRELET_BUILD_DIR:-build}
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" \
    --target wirelet vantry.sys wirelet-cli wirelet-demo wirelet-demo-app
# Started beside its driver, so that a first run as root can install the
# driver service from there.
cd "$build/bin"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset): the demo port's traffic, live through the capture driver, for ten seconds"
    exec ./wirelet-demo --driver ./vantry.sys -- \
        timeout --foreground --preserve-status --signal=INT 10 \
        sh -c 'exec ./wirelet-cli monitor "$WIRELET_DEMO_PORT"'
fi
if [ -n "$(./wirelet-demo --ports)" ]; then
    exec ./wirelet "$@"
fi
exec ./wirelet-demo -- ./wirelet "$@"
