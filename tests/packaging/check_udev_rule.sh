#!/usr/bin/env bash
# Runs the calculator udev rule through udev's own rule engine (udevadm test) on disks described in
# a umockdev test bed: only a whole USB disk "KZ" / "Zenta update" may get the uaccess tag. Runs in
# a private mount namespace with a /run of its own, so the machine's udev state is not touched.
# Exit 77: skipped (not root, or udevadm / umockdev-run / unshare missing).
set -euo pipefail
rule=${1:?usage: check_udev_rule.sh RULE_FILE}
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

# tags DESCRIPTION_FILE DEVICE_PATH: the udev tags the rules give the device.
tags() {
    unshare -m bash -c '
        mount -t tmpfs tmpfs /run && mkdir -p /run/udev/rules.d &&
        cp "$1" /run/udev/rules.d/ &&
        umockdev-run -d "$2" -- udevadm test --action=add "/sys$3" 2>&1 | sed -n "s/^TAGS=//p"
    ' _ "$rule" "$1" "$2"
}

failures=0
expect() { # name parent vendor model device(sdx|sdx1) yes|no
    local name=$1 parent=$2 vendor=$3 model=$4 device=$5 want=$6 file="$work/$RANDOM.umockdev"
    describe "$parent" "$vendor" "$model" >"$file"
    local path=$parent/host6/target6:0:0/6:0:0:0/block/sdx
    [ "$device" = sdx1 ] && path=$path/sdx1
    local got=no
    case "$(tags "$file" "$path")" in *:uaccess:*) got=yes ;; esac
    if [ "$got" = "$want" ]; then echo "ok    $name"; else echo "FAIL  $name (uaccess: $got)"; failures=$((failures + 1)); fi
}

expect "calculator on USB is tagged" "$usb/1-1:1.0" KZ "Zenta update" sdx yes
expect "its partition is not" "$usb/1-1:1.0" KZ "Zenta update" sdx1 no
expect "USB disk of another vendor is not" "$usb/1-1:1.0" SanDisk "Zenta update" sdx no
expect "USB disk KZ of another model is not" "$usb/1-1:1.0" KZ "Zenta" sdx no
expect "SATA disk with the calculator's strings is not" "$ata" KZ "Zenta update" sdx no
exit $((failures > 0))
