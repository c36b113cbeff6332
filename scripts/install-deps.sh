#!/bin/sh
# Installs the Debian 12 packages that building and testing need. Run as root.
#   sh scripts/install-deps.sh            the Linux build
#   sh scripts/install-deps.sh --windows  also the 32-bit Windows cross build
#                                         and Wine to run its tests
set -eu
export DEBIAN_FRONTEND=noninteractive
windows=0
for arg in "$@"; do
    case "$arg" in
        --windows) windows=1 ;;
        *) echo "usage: $0 [--windows]" >&2; exit 64 ;;
    esac
done

if [ "$windows" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    # Wine runs 32-bit programs only with its i386 half.
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    ca-certificates cmake ninja-build g++ clang libclang-rt-14-dev llvm \
    pkg-config libftdi1-dev libgtest-dev libgmock-dev libbenchmark-dev \
    qt6-base-dev fonts-dejavu-core xvfb xauth imagemagick \
    openbox x11-utils xdotool >/dev/null
if [ "$windows" = 1 ]; then
    # The posix thread model compilers (i686-w64-mingw32-g++-posix) come with
    # g++-mingw-w64-i686; GoogleTest is built from the sources in
    # /usr/src/googletest (package googletest). fonts-wine gives Wine the
    # fonts its dialogs are measured with.
    apt-get install -y -qq --no-install-recommends \
        g++-mingw-w64-i686 binutils-mingw-w64-i686 \
        googletest wine wine32:i386 fonts-wine nsis zip unzip >/dev/null
fi
