#!/usr/bin/env bash
# The Windows programs, as built, against emulated calculators under Wine: the host contract on
# a scratch disk, then the window (on a virtual X display) and the command line through the
# same scenarios, each judged by zenta-emu on the calculators' disks (every file byte-exact at
# its offset, the commands in order, the finish command last, other disks untouched) and by how
# the program ended: the window by itself with 0 (which it does only after "Done") or, for an
# update that fails, with the outcome and code its update history records; the command line
# with the exit code a Linux run gives, and its station over two waves likewise.
#
#   tests/wine/e2e.sh <Windows build folder> <zenta-emu>
#
# Wine's SetupAPI lists no disks: the stand-in setupapi.dll of tests/wine/setupapi, placed beside
# copies of the programs and chosen with WINEDLLOVERRIDES, lists those zenta-emu serves. Exit
# code 77: the emulator cannot run here (no FUSE or umockdev).
set -euo pipefail
[ $# -eq 2 ] || { sed -n '10,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
build=$(cd "$1" && pwd)
emu=$(readlink -f "$2")
# shellcheck source=tests/wine/common.sh
. "$(dirname "$0")/common.sh"
[ -f "$build/wine-rig/setupapi.dll" ] || { echo "no stand-in setupapi.dll in $build/wine-rig" >&2; exit 1; }

work=$(mktemp -d /tmp/quillon-wine-e2e-XXXXXX)
prefixes=()
cleanup() {
    for p in "${prefixes[@]}"; do WINEPREFIX=$p "$wineserver" -k 2>/dev/null || true; done
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
start_display
export WINEDEBUG=-all
unset QT_QPA_PLATFORM

# The programs unchanged, with their folders, beside the stand-in; nothing of it is installed.
app=$work/app
mkdir -p "$app"
cp -r "$build/bin/." "$app/"
cp "$build/wine-rig/setupapi.dll" "$app/"

# A prefix for each lane of runs below, so that they can run at the same time without meeting
# in one Wine server (and the window's one-copy guard there).
make_prefix() {
    WINEPREFIX=$1 WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$1 "$wineserver" -w
    prefixes+=("$1")
}
make_prefix "$work/window"
for lane in window2 cli; do
    cp -a "$work/window" "$work/$lane"
    prefixes+=("$work/$lane")
done

# The host contract's disk cases on a scratch image listed as a USB disk (Wine answers no size
# query: the cases leave out the disk's end).
scratch='\\?\usbstor#disk&ven_quillon&prod_scratch_disk&rev_1.00#contract&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}'
truncate -s 1M "$work/scratch.img"
ln -s "$work/scratch.img" "$work/window/dosdevices/${scratch#\\\\?\\}"
printf '%s\n' "$scratch" >"$work/interfaces.txt"
status=0
WINEPREFIX=$work/window WINEDLLOVERRIDES="setupapi=n,b" \
    ZENTA_WINE_INTERFACES="Z:${work//\//\\}\\interfaces.txt" QUILLON_CONTRACT_DISK="$scratch" \
    "$wine" "$app/tst_contract_win32.exe" 2>&1 | tr -d '\r' >"$work/contract.txt" || status=$?
if [ "$status" -ne 0 ] || ! grep -q "^[0-9]* passed, 0 failed, 0 skipped$" "$work/contract.txt"; then
    cat "$work/contract.txt"
    fail "the host contract on a disk under Wine"
fi
echo "host contract on a disk under Wine: $(tail -n1 "$work/contract.txt")"
rm -f "$work/window/dosdevices/${scratch#\\\\?\\}"

# Five that end well, and one that must end as on Linux: "Update failed (112)" in the window (its
# update history says so), exit code 112 from the command line.
scenarios=(one two-and-stick flaky-writes refused-progress unplug write-fails)
# The command line's station: two waves of one calculator, the second plugged in after the first
# wave; it ends by itself once no calculator has come for 8 s.
stations=(station-two)
# run FACE PREFIX SCENARIO: one run, its report kept in $work/FACE.SCENARIO.txt.
run() {
    local face=$1 prefix=$2 scenario=$3 report=$work/$1.$3.txt rc=0
    if [ "$face" = window ]; then
        "$emu" --wine "$prefix" --updater "$app/quillon-fwupdate.exe" "$scenario" >"$report" 2>&1 || rc=$?
    elif [ "$face" = station ]; then
        "$emu" --wine "$prefix" "$scenario" \
            --run "$app/quillon-fwupdate-cli.exe" station {folder} --wait 8 --json >"$report" 2>&1 || rc=$?
    else
        "$emu" --wine "$prefix" "$scenario" \
            --run "$app/quillon-fwupdate-cli.exe" update {folder} --yes --json >"$report" 2>&1 || rc=$?
    fi
    echo "$rc" >"$report.rc"
}
# Three lanes side by side: the programs mostly wait (countdowns, retry pauses).
start=$(date +%s)
half=$((${#scenarios[@]} / 2))
(for s in "${scenarios[@]:0:$half}"; do run window "$work/window" "$s"; done) &
lanes=($!)
(for s in "${scenarios[@]:$half}"; do run window "$work/window2" "$s"; done) &
lanes+=($!)
(for s in "${scenarios[@]}"; do run cli "$work/cli" "$s"; done
 for s in "${stations[@]}"; do run station "$work/cli" "$s"; done) &
lanes+=($!)
wait "${lanes[@]}"

failed=0
skipped=0
for face in window cli station; do
    if [ "$face" = station ]; then list=("${stations[@]}"); else list=("${scenarios[@]}"); fi
    for s in "${list[@]}"; do
        rc=$(cat "$work/$face.$s.txt.rc")
        if [ "$rc" -eq 0 ]; then
            echo "ok       $face $s"
        elif [ "$rc" -eq 77 ]; then
            echo "skipped  $face $s: $(grep -m1 SKIPPED "$work/$face.$s.txt" || true)"
            skipped=$((skipped + 1))
        else
            echo "FAILED   $face $s (exit code $rc):"
            sed 's/^/    /' "$work/$face.$s.txt"
            failed=$((failed + 1))
        fi
    done
done
echo "end to end under Wine: $failed failed, $skipped skipped, in $(($(date +%s) - start)) s"
[ "$failed" -eq 0 ] || exit 1
[ "$skipped" -eq 0 ] || exit 77
