#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, on a fresh Debian 12 machine:
# the i386 architecture for 32-bit Wine, MinGW-w64, Wine, Xvfb, CMake, Ninja, GoogleTest sources,
# the JSON library of the packer, Python for generated tables, and what the tests and the
# benchmark use. Packages already present are left alone; apt runs only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ make python3 g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 wine64 xvfb xauth
          googletest nlohmann-json3-dev python3-pefile icoutils imagemagick nsis)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
