#!/usr/bin/env bash
# The ARM check for ARCH, arm64 (the default) or armhf: cross-compiles
# orbelm and its tests with Debian's cross compiler (cmake/linux-ARCH.cmake,
# warnings as errors), runs the whole test suite under qemu-user, and
# compares the ARM program with the x86-64 one, byte for byte: exit status,
# console and every element file, on examples/sample.txt, on the published
# records of tests/data/ and on 15,000 generated lines of both kinds,
# realistic and damaged (tests/model/generate_records.py; about 12,800
# records). Installs what it needs from Debian's packages. Fails when any
# step fails.
#
#   bash .ci/arm.sh [arm64|armhf]
#
# ORBELM_HOST_PROGRAM names the x86-64 program to compare with (.ci/run
# gives its Release build's); without it, one is built in build-ARCH-host.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

arch=${1:-arm64}
case $arch in
  arm64) qemu="qemu-aarch64" ;;
  armhf) qemu="qemu-arm" ;;
  *) echo "usage: bash .ci/arm.sh [arm64|armhf]" >&2; exit 2 ;;
esac

step() { echo "== $arch: $* ($((SECONDS - started)) s)"; }
fail() { echo "$arch: $*" >&2; exit 1; }

step "install the cross compiler, the $arch libraries and qemu-user"
bash .ci/arm-deps.sh "$arch" python3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

step "cross-compile orbelm and its tests (build-$arch)"
rm -rf "build-$arch"
cmake -B "build-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/linux-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORBELM_WERROR=ON >/dev/null
cmake --build "build-$arch" --parallel 2

# Under the emulator the random fixed-point tests take a quarter of their
# doubles (250,000 instead of 1,000,000 each), about two minutes less; the
# x86-64 run takes them all.
step "the test suite under $qemu"
ORBELM_FIXED_RANDOM_COUNT=250000 \
  ctest --test-dir "build-$arch" --output-on-failure --parallel 2

host=${ORBELM_HOST_PROGRAM:-}
if [ -z "$host" ]; then
  step "the x86-64 program to compare with (build-$arch-host)"
  rm -rf "build-$arch-host"
  cmake -B "build-$arch-host" -DCMAKE_BUILD_TYPE=Release -DORBELM_TESTS=OFF \
    -DORBELM_WERROR=ON >/dev/null
  cmake --build "build-$arch-host" --parallel 2
  host=$root/build-$arch-host/orbelm
fi
target=$root/build-$arch/orbelm

# convert DIR INPUT PROGRAM...: see convert.sh.
source "$root/.ci/convert.sh"

# Converts INPUT with both programs and fails unless they agree in every
# byte.
compare() {
  local label=$1 input=$2
  local x86="$scratch/$label-x86-64" arm="$scratch/$label-$arch"
  convert "$x86" "$input" "$host"
  convert "$arm" "$input" "$qemu" "$target"
  local part
  for part in status console errors; do
    cmp "$x86.$part" "$arm.$part" || fail "$label: the $part differs"
  done
  diff -r "$x86" "$arm" >"$scratch/$label.diff" ||
    { head -n 20 "$scratch/$label.diff"; fail "$label: element files differ"; }
  echo "$label: $(wc -l <"$x86.console") records, $(find "$x86" -type f | wc -l)" \
    "element files, exit status $(cat "$x86.status"): identical"
}

step "compare with the x86-64 program, byte for byte"
compare sample "$root/examples/sample.txt"
compare published-minor-planets "$root/tests/data/minor-planets-sample.txt"
compare published-comets "$root/tests/data/comets-sample.txt"
python3 tests/model/generate_records.py 27 15000 >"$scratch/generated.txt"
compare generated "$scratch/generated.txt"
nans=$(grep -l -- '-nan' "$scratch/generated-$arch"/*.elm | wc -l)
echo "generated: $nans element files hold -nan on both"

step "passed"
