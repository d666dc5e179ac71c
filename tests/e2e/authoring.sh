#!/usr/bin/env bash
# An author's way from a build's staging folder to a shipped uninstaller, under Wine:
#   staging  the native packer builds an uninstaller from a manifest whose "staging" section takes
#            a staging tree; the tree is "installed" beside a file of the user's and a neighbour
#            folder; a quiet run removes every staged file and folder, and nothing else.
#   signed   the same uninstaller, signed after packing with osslsigncode and a certificate made
#            here by openssl: the signature verifies, dump reads the data as before, and the signed
#            uninstaller removes the staged tree just the same.
#   installed the same as staging, from make install's layout: the packer installed in PREFIX/bin
#            finds the stub installed in PREFIX/share/quillon without --stub.
#   authoring.sh staging|signed|installed NATIVE_BUILD WINDOWS_BUILD
set -euo pipefail
mode=$1 native=$2 build=$3
source "$build/flavour.env"
source "$(dirname "$0")/../harness/wine-env.sh"
use_build_prefix "$build"
pack="$native/pack/quillon-pack"

prepare_wine_prefix # drive_c must exist before the installation is written into it
base="$WINEPREFIX/drive_c/quillon-authoring-$mode"
rm -rf "$base"
mkdir -p "$base/stage/bin/plugins" "$base/stage/fonts" "$base/stage/docs/empty" "$base/Other"
for file in Demo.exe readme.txt bin/core.dll bin/plugins/export.dll fonts/DemoSans.ttf debug.pdb; do
    echo "$file" >"$base/stage/$file"
done
echo neighbour >"$base/Other/keep.txt"
cat >"$base/manifest.json" <<'JSON'
{
  "messages": { "confirm": "Remove Demo?", "files_in_use": "Demo is running." },
  "staging": [
    { "source": "stage", "exclude": ["*.pdb"], "flags": { "*.ttf": ["font"], "*.exe": ["check_in_use"] } }
  ]
}
JSON
stub_option=(--stub "$build/$QUILLON_STUB")
if [ "$mode" = installed ]; then
    cmake --install "$native" --prefix "$base/prefix" >/dev/null
    cmake --install "$build" --prefix "$base/prefix" >/dev/null
    pack="$base/prefix/bin/quillon-pack"
    stub_option=()
    # Without --stub the manifest's flavour names the stub.
    [ "$QUILLON_FLAVOUR" = x64 ] && sed -i '1s/^{$/{ "architecture": "x64",/' "$base/manifest.json"
fi
"$pack" check --strict "$base/manifest.json"
"$pack" build --strict "$base/manifest.json" "${stub_option[@]}" -o "$base/packed.exe"
if [ "$mode" = installed ]; then
    installed_stub="$base/prefix/share/quillon/$QUILLON_STUB"
    cmp -n "$(stat -c %s "$installed_stub")" "$installed_stub" "$base/packed.exe"
fi

uninstaller="$base/packed.exe"
if [ "$mode" = signed ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillon Test Signer" \
        -keyout "$base/key.pem" -out "$base/cert.pem" 2>/dev/null
    osslsigncode sign -certs "$base/cert.pem" -key "$base/key.pem" -n "Demo uninstaller" \
        -in "$base/packed.exe" -out "$base/signed.exe" >/dev/null
    osslsigncode verify -CAfile "$base/cert.pem" -in "$base/signed.exe" | grep -q "Signature verification: ok"
    # The data reads back through the signature: the same manifest as from the unsigned file.
    "$pack" dump "$base/packed.exe" >"$base/packed.json"
    "$pack" dump "$base/signed.exe" >"$base/signed.json" 2>"$base/signed.err"
    cmp "$base/packed.json" "$base/signed.json"
    uninstaller="$base/signed.exe"
fi

# The installation: the staged files minus the excluded one, and a file of the user's.
mkdir -p "$base/App"
cp -r "$base/stage/." "$base/App/"
rm "$base/App/debug.pdb"
cp "$uninstaller" "$base/App/uninstall.exe"
echo mine >"$base/App/user.cfg"

"$build/wine-run.sh" "$base/App/uninstall.exe" /S

left=$(cd "$base" && find App Other | sort | tr '\n' ' ')
expected="App App/uninstall.exe App/user.cfg Other Other/keep.txt "
if [ "$left" != "$expected" ]; then
    echo "left after the uninstall: $left" >&2
    echo "expected:                 $expected" >&2
    exit 1
fi
[ -f "$base/stage/debug.pdb" ]
echo "$mode: the staged tree went, the user's file and the neighbour stayed"
rm -rf "$base"
