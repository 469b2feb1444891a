# Checks shared by the installed tree and the unpacked package; sourced.

# The files (and links) under ROOT, relative to it, sorted, equal EXPECTED's lines.
CheckFileList() {
    root=$1
    expected=$2
    actual=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
    wanted=$(LC_ALL=C sort "$expected")
    if [ "$actual" != "$wanted" ]; then
        echo "files under $root differ from $expected:"
        printf '%s\n' "$wanted" >"$root.wanted"
        printf '%s\n' "$actual" >"$root.actual"
        diff "$root.wanted" "$root.actual" || true
        return 1
    fi
}

CheckPrograms() {
    for program in quellmere quellmere-cli; do
        [ -x "$1/$program" ] || { echo "$1/$program is not executable"; return 1; }
    done
}

# Width and height from a PNG's header, as "WxH".
PngSize() {
    set -- $(od -An -tu1 -j16 -N8 "$1")
    echo "$(( ($1 << 24) + ($2 << 16) + ($3 << 8) + $4 ))x$(( ($5 << 24) + ($6 << 16) + ($7 << 8) + $8 ))"
}

# Each NxN folder holds a PNG of N by N pixels.
CheckIcons() {
    for png in "$1"/*x*/apps/*.png; do
        folder=$(basename "$(dirname "$(dirname "$png")")")
        size=$(PngSize "$png")
        [ "$size" = "$folder" ] || { echo "$png is $size, not $folder"; return 1; }
    done
}

# groff renders the page with every warning on and says nothing.
CheckManPage() {
    if ! command -v groff >/dev/null; then
        echo "groff is not installed: manual page not rendered"
        return 0
    fi
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$1" 2>&1)
    [ -z "$warnings" ] || { echo "groff warns about $1:"; echo "$warnings"; return 1; }
}
