#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the udev rule with the system's own udevadm: that it reads without an error, gives the
# group lp read and write access to a printer of the series, and leaves alone a printer of
# another series and one of another maker. udevadm runs in a mount namespace of its own, where
# the rule is the only one, against devices emulated by umockdev: the machine's devices and
# rules are neither read nor changed, and no privilege is needed where user namespaces are
# allowed. Exits 77 (skipped) where udevadm (Debian's udev package), umockdev-run or a namespace
# of its own is not to be had.
#
#   checkudevrule.sh RULE
set -uo pipefail
rule=${1:?usage: checkudevrule.sh RULE}
udevadm=$(command -v udevadm || ls /bin/udevadm /usr/bin/udevadm 2>/dev/null | head -n1)
[ -n "$udevadm" ] || { echo "Skipped: udevadm is not installed"; exit 77; }
command -v umockdev-run >/dev/null || { echo "Skipped: umockdev-run is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/rules" "$work/empty"
cp "$rule" "$work/rules/"

# udevadm verify (systemd 253 and later) reads a rules file on its own.
if "$udevadm" verify --help >/dev/null 2>&1; then
    "$udevadm" verify "$rule" || { echo "udevadm verify found errors in $rule"; exit 1; }
fi

device() { # port product manufacturer
    printf 'P: /devices/pci0000:00/0000:00:14.0/usb1/1-%s\nN: bus/usb/001/00%s\n' "$1" "$1"
    # A device number, without which udev skips what only concerns the device node.
    printf 'E: DEVNAME=/dev/bus/usb/001/00%s\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n' "$1"
    printf 'E: MAJOR=189\nE: MINOR=%s\n' "$1"
    printf 'A: busnum=1\nA: devnum=%s\nA: dev=189:%s\n' "$1" "$1"
    printf 'A: product=%s\nA: manufacturer=%s\n\n' "$2" "$3"
}
{
    device 2 QVT-7460 Quorvel
    device 3 QVT-8460 Quorvel
    device 4 QVT-7460 Other
} >"$work/devices.umockdev"

# A mount namespace of its own, in a user namespace of its own unless run by the superuser.
namespace=(--mount)
[ "$(id -u)" -eq 0 ] || namespace=(--user --map-root-user --mount)
if ! unshare "${namespace[@]}" true 2>/dev/null; then
    echo "Skipped: no mount namespace of its own for udevadm"
    exit 77
fi

# Runs udevadm test on one device with the rule as the only one; its log.
run() {
    unshare "${namespace[@]}" sh -c '
        for local in /etc/udev/rules.d /run/udev/rules.d; do
            [ ! -d "$local" ] || mount --bind "$1/empty" "$local" || exit 1
        done
        mount --bind "$1/rules" /usr/lib/udev/rules.d &&
        exec umockdev-run -d "$1/devices.umockdev" -- "$2" --debug test --action=add \
            "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-$3"' sh "$work" "$udevadm" "$1" 2>&1
}
status=0
name=$(basename "$rule")
check() { # port expected(yes/no) what
    local log
    log=$(run "$1")
    if ! grep -q "Reading rules file: .*$name" <<<"$log"; then
        echo "udevadm did not read the rule: $log"
        status=1
        return
    fi
    if grep -q "$name:[0-9]* .*\(Invalid\|invalid\|unknown\|Unknown\)" <<<"$log"; then
        echo "udevadm reports errors in the rule:"
        grep "$name:" <<<"$log"
        status=1
    fi
    local given=no
    grep -q "$name:[0-9]* GROUP " <<<"$log" && grep -q "$name:[0-9]* MODE 0660" <<<"$log" &&
        given=yes
    if [ "$given" != "$2" ]; then
        echo "$3: group lp and mode 0660 given: $given, expected $2"
        grep "$name" <<<"$log"
        status=1
    else
        echo "$3: group lp and mode 0660 given: $given"
    fi
}
check 2 yes "a printer of the series"
check 3 no "a printer of another series"
check 4 no "a printer of another maker"
exit $status
