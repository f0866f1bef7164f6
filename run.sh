#!/usr/bin/env bash
# Installs what is missing, builds and starts wirelet.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
# Started beside its driver, so that a first run as root can install the
# driver service from there.
cd build/bin
exec ./wirelet "$@"
