#!/bin/sh
# Packs the build tree into a .deb, then checks its computed dependencies,
# its files, and that the unpacked terminal program runs.
# Usage: check-package.sh BUILD_DIR SCRATCH_DIR EXPECTED_FILES VERSION
set -eu
build=$1
scratch=$2
expected=$3
version=$4
. "$(dirname "$0")/installcheck.sh"

for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

rm -rf "$scratch"
mkdir -p "$scratch"
cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
set -- "$scratch"/quellmere_"$version"_*.deb
[ -f "$1" ] || { echo "no quellmere_${version}_*.deb in $scratch"; ls "$scratch"; exit 1; }
package=$1

info=$(dpkg-deb -I "$package")
for field in "Package: quellmere" "Version: $version" "Section: net"; do
    printf '%s\n' "$info" | grep -qx " $field" || { echo "no '$field' in:"; echo "$info"; exit 1; }
done
depends=$(printf '%s\n' "$info" | sed -n 's/^ Depends: //p')
case "$depends" in
    *libqt6widgets6*) ;;
    *) echo "Depends does not name libqt6widgets6: '$depends'"; exit 1 ;;
esac

dpkg -x "$package" "$scratch/root"
CheckFileList "$scratch/root/usr" "$expected"
CheckPrograms "$scratch/root/usr/bin"
CheckIcons "$scratch/root/usr/share/icons/hicolor"
CheckManPage "$scratch/root/usr/share/man/man1/quellmere-cli.1"

printed=$("$scratch/root/usr/bin/quellmere-cli" --version)
[ "$printed" = "quellmere-cli $version" ] || { echo "unpacked quellmere-cli --version printed '$printed'"; exit 1; }
echo "$package: Depends: $depends"
