#!/bin/bash
# Runs as the first process of fresh mount and PID namespaces (see
# CMakeLists.txt). Builds the package of the build tree BUILD, installs it,
# runs it, purges it and checks that nothing of it is left.
set -euo pipefail
build=$1 work=$2
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset VANTRY_DEVICE WIRELET_SCM_ROOT
fail() { echo "PackageTest: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/overlays"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
package=$(echo "$work"/wirelet_*.deb)
echo "package: $(stat -c %s "$package") bytes"

mount -t tmpfs tmpfs "$work/overlays"
for directory in usr etc var; do
    mkdir -p "$work/overlays/$directory/upper" "$work/overlays/$directory/work"
    mount -t overlay overlay -o "lowerdir=/$directory,upperdir=$work/overlays/$directory/upper,workdir=$work/overlays/$directory/work" "/$directory"
done
mount -t tmpfs tmpfs /run
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"

dpkg -i "$package" >/dev/null
help=$(wirelet-cli --help)
[[ $help == "Usage: wirelet-cli "* ]] || fail "wirelet-cli --help: $help"
[ -z "$(systemd-analyze verify /usr/lib/systemd/system/vantry.service 2>&1)" ] ||
    fail "the unit: $(systemd-analyze verify /usr/lib/systemd/system/vantry.service 2>&1)"

# Wireshark, where it is installed, finds the dissector and the extcap in
# its own folders.
if command -v tshark >/dev/null; then
    tshark -G protocols 2>/dev/null | grep -q "^wirelet serial port" ||
        fail "Wireshark does not load the installed dissector"
    printf 'demo=/dev/ptmx\n' >"$work/ports"
    WIRELET_SERIALCOMM=$work/ports tshark -D 2>/dev/null | grep -q "wirelet-ptmx (wirelet: /dev/ptmx)" ||
        fail "Wireshark does not list the installed extcap's interfaces"
fi

# No systemd here: the installed program, as root, installs and starts the
# driver from its own directory, whatever the current one is.
(cd / && QT_QPA_PLATFORM=offscreen exec wirelet >"$work/wirelet.log" 2>&1) &
program=$!
for _ in $(seq 100); do
    [ -S /run/Vantry ] && break
    sleep 0.2
done
[ -S /run/Vantry ] || fail "no driver device after 20 s: $(cat "$work/wirelet.log")"
grep -qx 'ImagePath=/usr/lib/wirelet/vantry.sys' /var/lib/wirelet/scm/ServicesActive/Vantry/config ||
    fail "the driver service is not the installed image"
# Killed outright (a SIGTERM would end it cleanly, driver and all), so
# that the driver stays running for the purge to stop.
kill -KILL "$program"
wait "$program" || true

dpkg --purge wirelet >/dev/null
left=$(find "$work"/overlays/*/upper /run \( -iname '*wirelet*' -o -iname '*vantry*' \) -print)
[ -z "$left" ] || fail "left behind: $left"
for process in /proc/[0-9]*; do
    pid=${process#/proc/}
    [ "$pid" = 1 ] || fail "left running: $pid $(cat "$process/cmdline" | tr '\0' ' ')"
done
echo "PackageTest: installed, ran and purged cleanly"
