#!/bin/bash
# The package under a real systemd: a Debian 12 root file system booted with
# systemd-nspawn, with the package installed before the first boot, then
# again while systemd runs. Inside, this script checks ("inside PHASE") as a
# oneshot unit, leaves its verdict in /root and powers the container off.
set -uo pipefail
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
as() { user=$1; shift; setpriv --reuid="$user" --regid="$user" --init-groups "$@"; }
wait_for() { for _ in $(seq 50); do eval "$1" && return; sleep 0.1; done; false; }

if [ "${1-}" = inside ]; then
    exec >"/root/verdict-$2" 2>&1
    trap 'systemctl poweroff --no-block' EXIT
    fail() { echo "FAIL: $*"; exit 1; }
    if [ "$2" = install ]; then dpkg -i /root/wirelet.deb >/dev/null || fail "dpkg -i"; fi
    systemctl is-active -q vantry.socket && systemctl is-active -q vantry.service ||
        fail "not started: $(systemctl status vantry.socket vantry.service)"
    systemd-analyze security vantry.service | tail -1
    journalctl -b -u vantry.service -o cat | grep -o 'capturing with [^(]*'

    # alice's own pty, written once her capture is on; bob may not attach it.
    rm -f /tmp/tty /tmp/go
    sleep 20 | as alice script -qfc 'tty >/tmp/tty; until [ -e /tmp/go ]; do sleep 0.1; done; echo vantry-probe; sleep 9' /dev/null &>/dev/null &
    wait_for '[ -s /tmp/tty ]' || fail "no pty"
    as alice timeout 5 wirelet-cli monitor "$(cat /tmp/tty)" >/tmp/own 2>&1 &
    wait_for 'grep -qs attached /tmp/own' || fail "alice cannot attach her pty: $(cat /tmp/own)"
    touch /tmp/go && wait $!
    grep -q vantry-probe /tmp/own || fail "alice's bytes not captured: $(cat /tmp/own)"
    as bob timeout 5 wirelet-cli monitor "$(cat /tmp/tty)" >/tmp/other 2>&1 && fail "bob attached alice's pty: $(cat /tmp/other)"
    echo "bob refused: $(cat /tmp/other)"

    dpkg --purge wirelet >/dev/null || fail "dpkg --purge"
    left=$(find /etc /usr /run /var/lib \( -iname '*vantry*' -o -iname '*wirelet*' \) -print
        systemctl list-units --no-legend --state=active,activating,failed 'vantry*'
        systemctl list-unit-files --no-legend 'vantry*'; readlink /proc/[0-9]*/exe | grep vantry)
    [ -z "$left" ] || fail "left after purge: $left"
    echo PASS
    exit 0
fi

skip() { echo "SystemdBootTest: skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] && command -v mmdebstrap >/dev/null && command -v systemd-nspawn >/dev/null ||
    skip "needs root, mmdebstrap and systemd-nspawn (tools/install-deps.sh)"
build=$1 work=$2 root=$2/root
rm -rf "$work" && mkdir -p "$work" || exit 1
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null || exit 1
package=$(echo "$work"/wirelet_*.deb)
# The package's dependencies (their names) come with the root file system.
depends=$(dpkg-deb -f "$package" Depends | sed 's/([^)]*)//g; s/|[^,]*//g; s/ //g')
mmdebstrap --variant=minbase --include="systemd,systemd-sysv,dbus,$depends" bookworm "$root" \
    >"$work/mmdebstrap.log" 2>&1 || skip "mmdebstrap failed: $(tail -3 "$work/mmdebstrap.log")"
cp "$package" "$root/root/wirelet.deb" && cp "$0" "$root/root/check.sh" || exit 1
chroot "$root" sh -c 'useradd alice && useradd bob && dpkg -i /root/wirelet.deb' >/dev/null || exit 1

for phase in boot install; do
    printf '[Unit]\nAfter=vantry.service\n[Service]\nType=oneshot\nExecStart=/root/check.sh inside %s\n' "$phase" \
        >"$root/etc/systemd/system/boot-check.service"
    ln -sf ../boot-check.service "$root/etc/systemd/system/multi-user.target.wants/"
    # What the unit grants the eBPF source, the container must have to give.
    timeout -k 5 120 systemd-nspawn --register=no --keep-unit -q -D "$root" -b \
        --capability=CAP_BPF,CAP_PERFMON --system-call-filter=bpf \
        >"$work/boot-$phase.log" 2>&1 </dev/null
    verdict=$(cat "$root/root/verdict-$phase" 2>/dev/null)
    echo "$phase: $verdict"
    [ "${verdict##*$'\n'}" = PASS ] || { echo "SystemdBootTest: $phase failed (see $work)"; exit 1; }
done
rm -rf "$root"
