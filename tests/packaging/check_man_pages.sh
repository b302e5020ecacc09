#!/usr/bin/env bash
# Checks the manual pages: man renders each without a warning (as Debian's package checker asks),
# and each names every option that its program's own usage text names, so that an option added
# to a program and not to its page fails here.
#   check_man_pages.sh PAGE_DIR PROGRAM_DIR
# Every page NAME.N of PAGE_DIR is checked, against the program NAME of PROGRAM_DIR when it is
# built (zenta-emu is not without FUSE). Exit 77: skipped, man is not installed.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: check_man_pages.sh PAGE_DIR PROGRAM_DIR" >&2; exit 2; }
pages=$1
programs=$2
command -v man >/dev/null || { echo "skipped: man is not installed (Debian package man-db)"; exit 77; }

# check PAGE: prints what is wrong with it; fails if anything is.
check() {
    local page=$1 name program warnings usage options option escaped wrong=0
    name=$(basename "$page")
    program=${name%.*}
    # The way lintian renders a page; troff's warnings go to the error output.
    if ! warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null); then
        echo "$name: man cannot render it: $warnings"
        return 1
    fi
    [ -z "$warnings" ] || { printf '%s: man warns:\n%s\n' "$name" "$warnings"; wrong=1; }
    if [ ! -x "$programs/$program" ]; then
        echo "$program: not built, only its page checked"
        return "$wrong"
    fi
    # The usage goes to the standard or the error output and may end with a non-zero status.
    usage=$("$programs/$program" --help 2>&1 </dev/null || true)
    [ -n "$usage" ] || { echo "$program --help printed nothing"; return 1; }
    # Options are words that start with a dash after a blank, a bracket or a bar.
    options=$(grep -oE '(^|[[:space:][|])--?[a-z][a-z-]*' <<<"$usage" | sed 's/^[^-]*//' | sort -u)
    for option in $options; do
        # In roff a dash that is to be typed is written \-.
        escaped=${option//-/\\-}
        grep -qF -- "$escaped" "$page" || { echo "$name: no $option (written $escaped)"; wrong=1; }
    done
    [ "$wrong" -ne 0 ] || echo "$name: renders without warnings, names" $options
    return "$wrong"
}

shopt -s nullglob
found=("$pages"/*.[1-9])
[ ${#found[@]} -gt 0 ] || { echo "no manual pages in $pages"; exit 1; }
failed=0
for page in "${found[@]}"; do
    check "$page" || failed=1
done
exit "$failed"
