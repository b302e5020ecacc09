#!/bin/sh
# emu_case.sh ZENTA_EMU CHECK CLI CASE "EXPECTATIONS" [ZENTA_EMU OPTIONS...]
# Runs one case of cli_emu_check in the emulator's test bed, then checks what the emulated disks
# hold against the expectations (see cli_emu_check disks). 77: the emulator cannot run here.
set -u
emu=$1 check=$2 cli=$3 case=$4 expected=$5
shift 5
state=$(mktemp)
"$emu" --state "$state" "$@" --run "$check" "$case" "$cli"
rc=$?
if [ $rc -eq 0 ]; then
    # shellcheck disable=SC2086 # one expectation per word
    "$check" disks "$state" $expected
    rc=$?
fi
rm -f "$state"
exit $rc
