#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, on a fresh Debian 12 machine:
# the i386 architecture for 32-bit Wine, MinGW-w64 for both flavours, Wine, Xvfb, CMake, Ninja,
# GoogleTest sources, the JSON library of the packer, Python for generated tables, clang with
# libFuzzer, the sanitizers and llvm-cov for the fuzz targets, and what the tests and the benchmark use. Packages already present are left alone; apt runs only when
# something is missing.
#
# On a host whose kernel refuses 32-bit programs, Wine's 32-bit loader cannot start. There it also
# installs qemu-user-static and registers it for i386 programs (binfmt_misc, F flag), so that the
# 32-bit stub can still get its smoke check, slowly. A host that runs i386 is left alone: qemu
# registered there would send every i386 program through emulation.
set -euo pipefail

packages=(cmake ninja-build g++ make python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
          wine wine32:i386 wine64 xvfb xauth googletest nlohmann-json3-dev python3-pefile icoutils
          imagemagick nsis osslsigncode openssl clang libclang-rt-14-dev llvm-14)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_packages "${packages[@]}"

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-i386" ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "This host cannot run 32-bit programs: registering qemu-user for i386 (for the x86 smoke check)"
    install_packages qemu-user-static
    [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt" || true
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | $sudo tee "$binfmt/register" >/dev/null ||
        echo "Could not register qemu for i386: the x86 smoke check will say it cannot run here."
fi
