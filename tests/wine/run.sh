#!/usr/bin/env bash
# The Windows installer and program under Wine, on a virtual X display, in a fresh Wine prefix:
# silent install under Program Files with a Start-menu entry, the suite's settings in the
# registry (French, an empty work folder), the installed program's window with its French title,
# its French message for a folder without an update and its browse button (read from its picture),
# a second copy that ends at once with 0, the first ended by closing its window (exit code 0),
# and a silent uninstall that removes the program and keeps the suite's settings.
#
#   tests/wine/run.sh <Windows build folder> [screenshot.png]
#
# The build folder is the one scripts/build-windows made (it holds the installer).
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '9,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
build=$(cd "$1" && pwd)
shot=${2:-}
installer=$(ls "$build"/quillon-fwupdate-*-win64.exe | head -n1)
# shellcheck source=tests/wine/common.sh
. "$(dirname "$0")/common.sh"

work=$(mktemp -d /tmp/quillon-wine-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
start_display

"$wine" wineboot -i >/dev/null 2>&1
"$wine" "$installer" /S >/dev/null 2>&1 || fail "the installer failed"
"$wineserver" -w
drive_c=$WINEPREFIX/drive_c
appdir="$drive_c/Program Files/Quillon Firmware Updater/bin"
for f in quillon-fwupdate.exe icons/varFolder_16x16.png resource/HelpFr.kzresource translations/qtbase_fr.qm; do
    [ -f "$appdir/$f" ] || fail "not installed: $f"
done
[ -f "$drive_c/Program Files/Quillon Firmware Updater/Uninstall.exe" ] || fail "no uninstaller"
menu=$(find "$drive_c" -path '*Start Menu/Programs/Quillon Firmware Updater/*.lnk' | head -n1)
[ -n "$menu" ] || fail "no Start-menu entry"
echo "installed, with its Start-menu entry: ${menu#"$drive_c"/}"

# Without a window manager, Wine draws the frames itself when its windows are not managed: the
# picture then shows the title bar.
reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N

# The suite's settings: French and a work folder whose update folder is there but empty (the
# program adds the "Firmware" folder, by its French name, which is the same).
mkdir -p "$drive_c/quillon-work/Firmware"
reg_add 'HKCU\Software\KZ\Quillon' Language REG_DWORD 3
reg_add 'HKCU\Software\KZ\Quillon' WorkFolder REG_SZ 'C:\quillon-work'

exe='C:\Program Files\Quillon Firmware Updater\bin\quillon-fwupdate.exe'
"$wine" "$exe" &
first=$!
title="Mise à jour du micrologiciel"
window=""
for _ in $(seq 1 120); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$first" 2>/dev/null || fail "the program ended before showing its window"
    sleep 0.5
done
[ -n "$window" ] || fail "no window titled \"$title\""
echo "window shown: $(xdotool getwindowname "$window")"

# A second copy finds the first one's guard and ends at once, without a window.
start=$(date +%s)
status=0
timeout 60 "$wine" "$exe" || status=$?
[ "$status" -eq 0 ] || fail "the second copy ended with $status"
[ $(($(date +%s) - start)) -lt 30 ] || fail "the second copy took too long"
count=$(xdotool search --onlyvisible --name "^$title\$" | wc -l)
[ "$count" -eq 1 ] || fail "$count windows after the second start"
echo "a second copy ended with 0 and showed nothing"

# What the window shows, read from its picture: Qt draws its widgets itself, so they are no
# windows that could be asked for their texts.
sleep 1 # the scan's texts are painted right after the window is mapped
picture=${shot:-$work/window.png}
import -window "$window" "$picture"
[ -z "$shot" ] || echo "screenshot: $shot"
convert "$picture" -resize 300% -colorspace Gray "$work/large.png"
seen=$(tesseract "$work/large.png" - -l fra 2>/dev/null | tr -s ' \n' ' ')
# The button's icon stands right before its first letters and is sometimes read into them
# ("Bmrachercher"): those are left out of the comparison.
for text in "Aucune mise à jour disponible" "chercher les fichiers de mise à jour"; do
    [[ $seen == *"$text"* ]] || fail "the window does not show \"$text\"; it shows: $seen"
done
echo "the window shows \"Aucune mise à jour disponible\" and the browse button"

# Closing the window (the message Windows sends to close it) ends the program with 0.
"$wine" taskkill /IM quillon-fwupdate.exe >/dev/null 2>&1 || true
status=0
for _ in $(seq 1 60); do
    kill -0 "$first" 2>/dev/null || break
    sleep 0.5
done
kill -0 "$first" 2>/dev/null && fail "the program did not end when its window was closed"
wait "$first" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with $status"
echo "closed, exit code 0"

"$wine" 'C:\Program Files\Quillon Firmware Updater\Uninstall.exe' /S >/dev/null 2>&1 || true
"$wineserver" -w
[ ! -e "$appdir/quillon-fwupdate.exe" ] || fail "the uninstaller left the program"
[ -z "$(find "$drive_c" -path '*Start Menu/Programs/Quillon Firmware Updater*')" ] ||
    fail "the uninstaller left the Start-menu entry"
"$wine" reg query 'HKCU\Software\KZ\Quillon' /v WorkFolder >/dev/null 2>&1 ||
    fail "the uninstaller removed the suite's settings"
echo "uninstalled; the suite's settings kept"
