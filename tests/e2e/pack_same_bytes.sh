#!/usr/bin/env bash
# The native packer and the Windows packer under Wine build the same bytes from the same manifest.
set -euo pipefail
native=$1 win32=$2 manifest=$3
source "$win32/flavour.env"
out=$(mktemp -d "$win32/pack-same.XXXXXX")
trap 'rm -rf "$out"' EXIT
"$native/pack/quillon-pack" build "$manifest" --stub "$win32/$QUILLON_STUB" -o "$out/native.exe"
"$win32/wine-run.sh" "$win32/quillon-pack.exe" build "Z:$manifest" --stub "Z:$win32/$QUILLON_STUB" -o "Z:$out/windows.exe"
cmp "$out/native.exe" "$out/windows.exe"
echo "same bytes: $(stat -c %s "$out/native.exe") bytes from $(basename "$(dirname "$manifest")")"
