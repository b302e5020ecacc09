# Sourced by the scripts beside it: Wine's programs, fail, and a virtual X display of its own.
wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64)
wineserver=$(dirname "$(readlink -f "$wine")")/wineserver
xvfb_pid=""
# A command that fails under set -e would otherwise end the script without a word.
trap 'echo "FAIL: ${BASH_SOURCE[0]}:$LINENO: \"$BASH_COMMAND\" ended with $?" >&2' ERR

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A value in the prefix's registry. Once (one CI run) reg ended with a failure right after the
# installer had ended, without a word: what it says is shown, and it is tried once more after
# the prefix's server has ended.
reg_add() { # KEY NAME TYPE DATA
    local out
    out=$("$wine" reg add "$1" /v "$2" /t "$3" /d "$4" /f 2>&1) && return 0
    echo "note: reg add $1 $2 failed: $out" >&2
    "$wineserver" -w
    "$wine" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null || fail "reg add $1 $2 failed again"
}

# The first free display number, which Xvfb reports once it listens; DISPLAY names it.
start_display() {
    local display
    exec 3<> <(:)
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 20 display <&3 || fail "Xvfb did not start"
    export DISPLAY=:$display
}
