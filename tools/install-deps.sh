#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing wirelet
# need, and only when one of them is missing.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ pkg-config clang-format
    qt6-base-dev libgl-dev libx11-dev libcanberra-dev sound-theme-freedesktop xdg-utils
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-urw-base35 xdotool imagemagick python3-xlib fonts-wqy-microhei
    python3 strace
    clang llvm libbpf-dev bpftool
    dpkg-dev file systemd
    mmdebstrap systemd-container
    tshark openssh-server openssh-client iproute2
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: missing packages: ${missing[*]}; run as root to install them" >&2
        exit 1
    fi
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
