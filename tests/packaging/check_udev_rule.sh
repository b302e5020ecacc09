#!/usr/bin/env bash
# Runs the calculator udev rule through udev's own rule engine (udevadm test) on disks described in
# a umockdev test bed: only a whole USB disk "KZ" / "Zenta update" may get the uaccess tag, and it
# and its partitions are hidden from udisks (UDISKS_IGNORE=1). Runs in a private mount namespace
# with a /run of its own, so the machine's udev state is not touched.
# Exit 77: skipped, with the reason (not root, a tool missing, or the rule engine cannot run here).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: check_udev_rule.sh RULE_FILE" >&2; exit 2; }
rule=$1
rule=$(readlink -f "$rule")

if [ "$(id -u)" -ne 0 ]; then echo "skipped: needs root for a private /run/udev"; exit 77; fi
for tool in udevadm umockdev-run unshare; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
usb=/devices/pci0000:00/0000:00:14.0/usb1/1-1
ata=/devices/pci0000:00/0000:00:17.0/ata1

# describe PARENT VENDOR MODEL: a SCSI disk sdx with one partition sdx1 below PARENT, and the USB
# device and interface above it when PARENT is on USB.
describe() {
    local parent=$1 vendor=$2 model=$3 scsi=$1/host6/target6:0:0/6:0:0:0
    if [ "$parent" = "$usb/1-1:1.0" ]; then
        printf 'P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: serial=ZT0001\n\n' "$usb"
        printf 'P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usb-storage\n\n' "$parent"
    fi
    printf 'P: %s/host6\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_host\n\n' "$parent"
    printf 'P: %s/host6/target6:0:0\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_target\n\n' "$parent"
    printf 'P: %s\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\nA: vendor=%s\nA: model=%s\nA: rev=1.00\n\n' \
        "$scsi" "$vendor" "$model"
    printf 'P: %s/block/sdx\nN: sdx\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/sdx\n' "$scsi"
    printf 'E: MAJOR=8\nE: MINOR=96\nA: dev=8:96\nL: device=../../../6:0:0:0\n\n'
    printf 'P: %s/block/sdx/sdx1\nN: sdx1\nE: SUBSYSTEM=block\nE: DEVTYPE=partition\n' "$scsi"
    printf 'E: DEVNAME=/dev/sdx1\nE: MAJOR=8\nE: MINOR=97\nA: dev=8:97\nA: partition=1\n'
}

# properties DESCRIPTION_FILE DEVICE_PATH: the device's properties after the rules, as udevadm
# test prints them (KEY=value lines); nothing when the rule engine did not run.
properties() {
    unshare -m bash -c '
        mount -t tmpfs tmpfs /run && mkdir -p /run/udev/rules.d &&
        cp "$1" /run/udev/rules.d/ &&
        umockdev-run -d "$2" -- udevadm test --action=add "/sys$3" 2>&1
    ' _ "$rule" "$1" "$2" | grep -E '^[A-Z_]+=' || true
}

usb_parent=$usb/1-1:1.0
device_path() { # parent sdx|sdx1
    local path=$1/host6/target6:0:0/6:0:0:0/block/sdx
    [ "$2" = sdx1 ] && path=$path/sdx1
    echo "$path"
}

# A check that cannot see the rule engine's answer proves nothing: find out first whether it runs.
describe "$usb_parent" KZ "Zenta update" >"$work/probe.umockdev"
probe=$(device_path "$usb_parent" sdx)
if ! properties "$work/probe.umockdev" "$probe" | grep -qx "DEVPATH=$probe"; then
    echo "skipped: udev's rule engine gives no result here (unshare -m, tmpfs or umockdev refused)"
    exit 77
fi

failures=0
expect() { # name parent vendor model device(sdx|sdx1) uaccess(yes|no) udisks-ignored(yes|no)
    local name=$1 parent=$2 vendor=$3 model=$4 device=$5 want="$6 $7" file="$work/$RANDOM.umockdev"
    describe "$parent" "$vendor" "$model" >"$file"
    local path out access=no ignored=no
    path=$(device_path "$parent" "$device")
    out=$(properties "$file" "$path")
    if ! grep -qx "DEVPATH=$path" <<<"$out"; then
        echo "FAIL  $name (the rule engine gave no result)"
        failures=$((failures + 1))
        return
    fi
    grep -q '^TAGS=.*:uaccess:' <<<"$out" && access=yes
    grep -qx 'UDISKS_IGNORE=1' <<<"$out" && ignored=yes
    if [ "$access $ignored" = "$want" ]; then
        echo "ok    $name"
    else
        echo "FAIL  $name (uaccess: $access, udisks ignores: $ignored)"
        failures=$((failures + 1))
    fi
}

expect "calculator on USB is tagged and hidden" "$usb_parent" KZ "Zenta update" sdx yes yes
expect "its partition is hidden, not tagged" "$usb_parent" KZ "Zenta update" sdx1 no yes
expect "USB disk of another vendor is neither" "$usb_parent" SanDisk "Zenta update" sdx no no
expect "USB disk KZ of another model is neither" "$usb_parent" KZ "Zenta" sdx no no
expect "USB disk KZ of a longer model is neither" "$usb_parent" KZ "Zenta updater" sdx no no
expect "SATA disk with the calculator's strings is neither" "$ata" KZ "Zenta update" sdx no no
expect "its partition is neither" "$ata" KZ "Zenta update" sdx1 no no
exit $((failures > 0))
