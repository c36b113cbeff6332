#!/bin/sh
# Installs the Debian 12 packages that building and testing need. Run as root.
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    ca-certificates cmake ninja-build g++ clang libclang-rt-14-dev llvm \
    pkg-config libftdi1-dev libgtest-dev libgmock-dev libbenchmark-dev \
    qt6-base-dev fonts-dejavu-core xvfb xauth imagemagick \
    openbox x11-utils xdotool >/dev/null
