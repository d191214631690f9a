#!/usr/bin/env bash
# Installs what building and testing orbelm needs, from Debian's packages,
# when it is missing. Extra package names may be given as arguments.
set -euo pipefail

packages=()
command -v cmake >/dev/null || packages+=(cmake)
command -v g++ >/dev/null || packages+=(g++)
command -v python3 >/dev/null || packages+=(python3)
[ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
[ -f /usr/include/CLI/CLI.hpp ] || packages+=(libcli11-dev)
[ -f /usr/include/zlib.h ] || packages+=(zlib1g-dev)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
