#!/bin/sh
# --version and --help of both programs: status 0, the expected first line on
# standard output, nothing on standard error, and no display needed. The
# manual page names every option that --help names.
# Usage: check-options.sh WINDOW CLI VERSION MAN_PAGE
set -eu
window=$1
cli=$2
version=$3
manPage=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# PROGRAM ARGUMENT WANTED_FIRST_LINE
CheckFirstLine() {
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" "$2" >"$scratch/out" 2>"$scratch/err" || status=$?
    first=$(head -n 1 "$scratch/out")
    if [ "$status" -ne 0 ] || [ "$first" != "$3" ] || [ -s "$scratch/err" ]; then
        echo "$(basename "$1") $2: status $status, first line '$first', wanted '$3'"
        cat "$scratch/err"
        exit 1
    fi
}

CheckFirstLine "$window" --version "quellmere $version"
CheckFirstLine "$window" --help "Usage: quellmere [--config FILE] [--echo-log] [--self-check] [--version] [--help]"
CheckFirstLine "$cli" --version "quellmere-cli $version"
CheckFirstLine "$cli" --help "Usage:"

"$cli" --help >"$scratch/help"
# The page spells each dash of an option as \-.
sed 's/\\-/-/g' "$manPage" >"$scratch/man"
for option in $(grep -o -- '--[a-z][a-z-]*' "$scratch/help" | sort -u); do
    grep -q -- "$option" "$scratch/man" || { echo "the manual page does not name $option"; exit 1; }
done
echo "--version and --help are right for both programs"
