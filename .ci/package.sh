#!/usr/bin/env bash
# Builds the release packages into dist/ and checks them:
#   orbelm_VERSION_ARCH.deb                    ARCH amd64, arm64, armhf
#   orbelm-VERSION-Linux-PROCESSOR.tar.gz      PROCESSOR x86_64, aarch64, armv7l
#   orbelm-VERSION-win64.zip      (with --windows, or CI_WINDOWS=1)
# VERSION is the project's version in CMakeLists.txt; CHANGELOG.md's top
# entry and the file names the README gives must agree with it. The ARM
# packages are cross-built with Debian's cross compilers. Each package must
# hold exactly the expected files; lintian must find no error in a .deb;
# the programs unpacked from the .deb and the .tar.gz (never installed),
# the ARM ones under qemu-user, must convert examples/sample.txt exactly as
# examples/expected/ says, and each program, the Windows one under Wine,
# must print its version. The .deb programs are linked to the system's
# libraries; a tarball's program is static, and converts the sample inside
# an empty root: a folder holding only the program and the sample (and
# qemu-user with its own x86-64 libraries for an ARM program), as the root
# of a chroot (skipped with a message when not run as root). Installs what
# it needs from Debian's packages. Fails when any step fails.
#
#   bash .ci/package.sh [--windows]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

windows=${CI_WINDOWS:-0}
case "${1:-}" in
  --windows) windows=1 ;;
  "") ;;
  *) echo "usage: bash .ci/package.sh [--windows]" >&2; exit 2 ;;
esac

step() { echo "== package: $* ($((SECONDS - started)) s)"; }
fail() { echo "package: $*" >&2; exit 1; }

# The Debian architectures of the Linux packages, the processors that name
# their tarballs (as uname -m says), and qemu-user's program for each.
architectures=(amd64 arm64 armhf)
declare -A processor=([amd64]=x86_64 [arm64]=aarch64 [armhf]=armv7l)
declare -A emulator=([amd64]="" [arm64]=qemu-aarch64 [armhf]=qemu-arm)

step "install what packaging needs"
# zlib (gzip input), static for the tarballs.
./install-deps.sh dpkg-dev lintian gzip zlib1g-dev binutils file
bash .ci/arm-deps.sh arm64
bash .ci/arm-deps.sh armhf
if [ "$windows" = 1 ]; then
  ./install-deps.sh g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 \
    groff-base
fi

scratch=$(mktemp -d)
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

rm -rf dist build-package build-package-* build-package-windows
mkdir dist

version=$(sed -n 's/^project(orbelm VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
step "version $version"

changelog_version=$(sed -n 's/^## \[\([0-9][^]]*\)\].*/\1/p' CHANGELOG.md | head -n 1)
[ "$changelog_version" = "$version" ] ||
  fail "CHANGELOG.md's top entry is '$changelog_version', CMake's version $version"

zip=orbelm-${version}-win64.zip
for name in "$zip" \
  $(for arch in "${architectures[@]}"; do
    echo "orbelm_${version}_$arch.deb orbelm-$version-Linux-${processor[$arch]}.tar.gz"
  done); do
  grep -qF "$name" README.md || fail "README.md does not name $name"
done

# Builds the package FILE of GENERATOR (DEB or TGZ) for ARCH in build
# folder DIR, with the further CMake options given, into dist/.
# Debian's hardening flags (stack protector, fortified functions, full
# RELRO, immediate binding), as a Debian package build would use them.
build_package() {
  local arch=$1 generator=$2 dir=$3 file=$4
  shift 4
  local toolchain=()
  [ "$arch" = amd64 ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/linux-$arch.cmake")
  step "build $generator for $arch ($dir)"
  DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_HOST_ARCH=$arch \
    CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -B "$dir" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DORBELM_TESTS=OFF -DORBELM_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" --parallel 2
  (cd "$dir" && cpack -G "$generator" -B "$root/$dir/cpack" >/dev/null)
  cp "$dir/cpack/$file" dist/
}

# Compares the file list on standard input (directories left out) with the
# expected names.
expect_files() {
  local package=$1
  shift
  local listed="$scratch/listed" expected="$scratch/expected"
  grep -v '/$' | sed 's|^\./||' | sort >"$listed"
  printf '%s\n' "$@" | sort >"$expected"
  if ! diff -u "$expected" "$listed"; then
    fail "$package: files differ from the expected list (- missing, + unexpected)"
  fi
  echo "$package:"
  sed 's/^/  /' "$listed"
}

# Runs COMMAND... in folder DIR on INPUT (a path as COMMAND sees it) and
# compares its exit status, console and the element files that it leaves
# in DIR with examples/expected/, then checks its --version.
expect_conversion() {
  local label=$1 dir=$2 input=$3
  shift 3
  local status=0
  (cd "$dir" && "$@" "$input" >"$scratch/$label.console" \
    2>"$scratch/$label.errors") || status=$?
  [ "$status" = 0 ] || fail "$label: exit status $status"
  [ ! -s "$scratch/$label.errors" ] || fail "$label: wrote to standard error"
  cmp "$scratch/$label.console" examples/expected/console.txt ||
    fail "$label: console differs from examples/expected/console.txt"
  diff <(cd "$dir" && ls -- *.elm) <(cd examples/expected && ls -- *.elm) ||
    fail "$label: element file names differ"
  local file
  for file in examples/expected/*.elm; do
    cmp "$dir/$(basename "$file")" "$file" || fail "$label: $file differs"
  done
  expect_version "$label" "$(cd "$dir" && "$@" --version)"
  echo "$label: converts examples/sample.txt exactly; --version prints orbelm $version"
}

expect_version() {
  [ "$2" = "orbelm $version" ] ||
    fail "$1: --version prints '$2', expected 'orbelm $version'"
}

# Sets `command` to the words that run PROGRAM of ARCH: the program itself,
# or qemu-user with it (without -L: the target's libraries are the
# multiarch ones).
run_command() {
  local arch=$1 program=$2
  command=("$program")
  [ -z "${emulator[$arch]}" ] || command=("${emulator[$arch]}" "$program")
}

# Makes DIR an empty root for a program of ARCH: the sample, and for an ARM
# program qemu-user with the x86-64 libraries it loads itself, so that the
# program finds no library of its own architecture there.
make_empty_root() {
  local arch=$1 dir=$2
  mkdir "$dir"
  cp examples/sample.txt "$dir/"
  [ -n "${emulator[$arch]}" ] || return 0
  local qemu library
  qemu=$(command -v "${emulator[$arch]}")
  cp "$qemu" "$dir/"
  for library in $(ldd "$qemu" | grep -o '/[^ ]*'); do
    mkdir -p "$dir$(dirname "$library")"
    cp -L "$library" "$dir$library"
  done
}

check_deb() {
  local arch=$1 deb="orbelm_${version}_$1.deb"
  step "check $deb"
  [ "$(dpkg-deb --field "dist/$deb" Architecture)" = "$arch" ] ||
    fail "$deb: not a package for $arch"
  dpkg-deb --contents "dist/$deb" | awk '{print $6}' | expect_files "$deb" \
    usr/bin/orbelm \
    usr/share/man/man1/orbelm.1.gz \
    usr/share/doc/orbelm/copyright \
    usr/share/doc/orbelm/changelog.gz
  dpkg-deb --field "dist/$deb" Package Version Architecture Section Depends
  dpkg-deb -x "dist/$deb" "$scratch/deb-$arch"
  mkdir "$scratch/run-deb-$arch"
  run_command "$arch" "$scratch/deb-$arch/usr/bin/orbelm"
  expect_conversion "deb-$arch" "$scratch/run-deb-$arch" \
    "$root/examples/sample.txt" "${command[@]}"
  ! readelf -S "$scratch/deb-$arch/usr/bin/orbelm" | grep -q '\.symtab' ||
    fail "$deb: the program is not stripped"

  local lintian_status=0
  lintian --fail-on error --display-info "dist/$deb" >"$scratch/lintian" 2>&1 ||
    lintian_status=$?
  grep -v 'running with root privileges' "$scratch/lintian" || true
  [ "$lintian_status" = 0 ] ||
    fail "$deb: lintian reports errors (status $lintian_status)"
}

check_tarball() {
  local arch=$1 tgz="orbelm-$version-Linux-${processor[$1]}.tar.gz"
  local top=${tgz%.tar.gz}
  step "check $tgz"
  tar -tzf "dist/$tgz" | expect_files "$tgz" \
    "$top/bin/orbelm" \
    "$top/share/man/man1/orbelm.1.gz" \
    "$top/share/doc/orbelm/README.md" \
    "$top/share/doc/orbelm/CHANGELOG.md" \
    "$top/share/doc/orbelm/LICENSE" \
    "$top/share/doc/orbelm/doc/guide.md"
  mkdir "$scratch/tgz-$arch"
  tar -xzf "dist/$tgz" -C "$scratch/tgz-$arch"
  local program="$scratch/tgz-$arch/$top/bin/orbelm"
  # No program interpreter and no shared library: a static program.
  ! readelf -l -d "$program" | grep -E 'INTERP|\(NEEDED\)' ||
    fail "$tgz: the program is not static"
  file -b "$program"
  if [ "$(id -u)" = 0 ]; then
    local empty="$scratch/empty-root-$arch"
    make_empty_root "$arch" "$empty"
    cp "$program" "$empty/orbelm"
    local in_root=(chroot "$empty")
    [ -z "${emulator[$arch]}" ] || in_root+=("/${emulator[$arch]}")
    expect_conversion "tgz-$arch, in an empty root" "$empty" sample.txt \
      "${in_root[@]}" /orbelm
  else
    echo "package: not root, so the static program runs outside an empty root"
    mkdir "$scratch/run-tgz-$arch"
    run_command "$arch" "$program"
    expect_conversion "tgz-$arch" "$scratch/run-tgz-$arch" \
      "$root/examples/sample.txt" "${command[@]}"
  fi
}

for arch in "${architectures[@]}"; do
  build_package "$arch" DEB "build-package-$arch" "orbelm_${version}_$arch.deb"
  check_deb "$arch"
  build_package "$arch" TGZ "build-package-$arch-static" \
    "orbelm-$version-Linux-${processor[$arch]}.tar.gz" -DORBELM_STATIC=ON
  check_tarball "$arch"
done

if [ "$windows" = 1 ]; then
  step "build for Windows (build-package-windows)"
  cmake -B build-package-windows \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DORBELM_TESTS=OFF -DORBELM_WERROR=ON >/dev/null
  cmake --build build-package-windows --parallel 2
  (cd build-package-windows && cpack -B "$root/build-package-windows/cpack" >/dev/null)
  cp "build-package-windows/cpack/$zip" dist/

  step "check the .zip"
  top=${zip%.zip}
  python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    "dist/$zip" | expect_files "$zip" \
    "$top/orbelm.exe" "$top/README.md" "$top/CHANGELOG.md" "$top/LICENSE.txt" \
    "$top/doc/guide.md" "$top/orbelm-manual.txt"
  python3 -m zipfile -e "dist/$zip" "$scratch/zip"
  exe="$scratch/zip/$top/orbelm.exe"
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  echo "$zip: orbelm.exe imports $(echo "$dlls" | tr '\n' ' ')"
  for dll in $dlls; do
    echo "$dll" | grep -qiE '^(kernel32|msvcrt|ucrtbase|advapi32|user32|shell32|ws2_32|ntdll|bcrypt)\.dll$|^api-ms-win-' ||
      fail "$zip: orbelm.exe needs $dll, not a Windows system DLL"
  done
  grep -q "orbelm $version" "$scratch/zip/$top/orbelm-manual.txt" ||
    fail "$zip: the manual does not name version $version"

  # A private Wine prefix, removed at the end together with its wineserver.
  export WINEPREFIX="$scratch/wine" WINEDEBUG=-all
  wine wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  expect_version "$zip" "$(wine "$exe" --version | tr -d '\r')"
  echo "$zip: orbelm.exe --version prints orbelm $version under Wine"
fi

step "done"
ls -l dist
