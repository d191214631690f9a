#!/usr/bin/env bash
# Installs what cross-building orbelm for ARCH (arm64 or armhf) and running
# it under qemu-user need, from Debian's packages, when it is missing: the
# cross compiler, the target's zlib and C++ library from Debian's multiarch
# packages (the architecture is added to dpkg first), qemu-user, the
# GoogleTest sources, what ./install-deps.sh installs, and any PACKAGE.
#
#   bash .ci/arm-deps.sh ARCH [PACKAGE...]
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  arm64) triplet=aarch64-linux-gnu ;;
  armhf) triplet=arm-linux-gnueabihf ;;
  *) echo "usage: bash .ci/arm-deps.sh arm64|armhf [PACKAGE...]" >&2; exit 2 ;;
esac
arch=$1
shift

if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  [ "$(id -u)" = 0 ] ||
    { echo "arm-deps: run as root to add the architecture $arch to dpkg" >&2; exit 1; }
  echo "arm-deps: adding the architecture $arch to dpkg"
  dpkg --add-architecture "$arch"
fi
./install-deps.sh "g++-$triplet" "zlib1g-dev:$arch" "libstdc++6:$arch" \
  qemu-user googletest "$@"
