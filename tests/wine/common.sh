# Sourced by the scripts beside it: Wine's programs, fail, and a virtual X display of its own.
wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64)
wineserver=$(dirname "$(readlink -f "$wine")")/wineserver
xvfb_pid=""

fail() {
    echo "FAIL: $*" >&2
    exit 1
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
