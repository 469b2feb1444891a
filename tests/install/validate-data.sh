#!/bin/sh
# The desktop entry and the AppStream metainfo as the distributions' own
# validators see them.
# Usage: validate-data.sh DESKTOP_FILE METAINFO_FILE
set -eu
desktop=$1
metainfo=$2

for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

# desktop-file-validate exits 0 on hints too; any output is a finding.
findings=$(desktop-file-validate "$desktop" 2>&1) || { echo "$findings"; exit 1; }
if [ -n "$findings" ]; then
    echo "$findings"
    exit 1
fi
appstreamcli validate --no-net --explain "$metainfo"
