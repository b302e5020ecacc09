#!/usr/bin/env bash
# emu_case.sh ZENTA_EMU CHECK CLI CASE "EXPECTATIONS" [ZENTA_EMU OPTIONS...]
# Runs one case of cli_emu_check in the emulator's test bed, then checks what the emulated disks
# hold against the expectations (see cli_emu_check disks). 77: the emulator cannot run here.
set -euo pipefail
[ $# -ge 5 ] || { sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
emu=$1 check=$2 cli=$3 case=$4 expected=$5
shift 5
state=$(mktemp)
trap 'rm -f "$state"' EXIT
rc=0
"$emu" --state "$state" "$@" --run "$check" "$case" "$cli" || rc=$?
if [ $rc -eq 0 ]; then
    # shellcheck disable=SC2086 # one expectation per word
    "$check" disks "$state" $expected || rc=$?
fi
exit $rc
