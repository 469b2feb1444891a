#!/bin/sh
# Installs the build tree into a scratch prefix and checks that exactly the
# expected files land there, usable.
# Usage: check-install.sh BUILD_DIR SCRATCH_DIR EXPECTED_FILES
set -eu
build=$1
scratch=$2
expected=$3
. "$(dirname "$0")/installcheck.sh"

rm -rf "$scratch"
mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log"

CheckFileList "$scratch/prefix" "$expected"
CheckPrograms "$scratch/prefix/bin"
CheckIcons "$scratch/prefix/share/icons/hicolor"
CheckManPage "$scratch/prefix/share/man/man1/quellmere-cli.1"
echo "installed tree is complete"
