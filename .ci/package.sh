#!/usr/bin/env bash
# Builds the release packages into dist/ and checks them:
#   orbelm_VERSION_amd64.deb, orbelm-VERSION-Linux-x86_64.tar.gz  (always)
#   orbelm-VERSION-win64.zip      (with --windows, or CI_WINDOWS=1)
# VERSION is the project's version in CMakeLists.txt; CHANGELOG.md's top
# entry and the file names the README gives must agree with it. Each
# package must hold exactly the expected files; lintian must find no error
# in the .deb; the programs unpacked from the .deb and the .tar.gz (never
# installed) must convert examples/sample.txt exactly as examples/expected/
# says, and each program, the Windows one under Wine, must print its
# version. Installs what it needs from Debian's packages. Fails when any
# step fails.
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

step "install what packaging needs"
# zlib (gzip input) for both builds.
./install-deps.sh dpkg-dev lintian gzip zlib1g-dev
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

rm -rf dist build-package build-package-windows
mkdir dist

# Debian's hardening flags (stack protector, fortified functions, full
# RELRO, immediate binding), as a Debian package build would use them.
step "build for Linux (build-package)"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -B build-package -DCMAKE_BUILD_TYPE=Release -DORBELM_TESTS=OFF \
  -DORBELM_WERROR=ON >/dev/null
cmake --build build-package --parallel 2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-package/CMakeCache.txt)
[ -n "$version" ] || fail "no project version in build-package/CMakeCache.txt"
step "version $version"

changelog_version=$(sed -n 's/^## \[\([0-9][^]]*\)\].*/\1/p' CHANGELOG.md | head -n 1)
[ "$changelog_version" = "$version" ] ||
  fail "CHANGELOG.md's top entry is '$changelog_version', CMake's version $version"

deb=orbelm_${version}_amd64.deb
tgz=orbelm-${version}-Linux-x86_64.tar.gz
zip=orbelm-${version}-win64.zip
for name in "$deb" "$tgz" "$zip"; do
  grep -qF "$name" README.md || fail "README.md does not name $name"
done

step "cpack: .deb and .tar.gz"
(cd build-package && cpack -B "$root/build-package/cpack" >/dev/null)
cp "build-package/cpack/$deb" "build-package/cpack/$tgz" dist/

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

# Runs PROGRAM on examples/sample.txt in a fresh folder and compares its
# exit status, console and element files with examples/expected/, then
# checks its --version.
expect_conversion() {
  local label=$1 program=$2
  local dir="$scratch/run-$label"
  mkdir "$dir"
  local status=0
  (cd "$dir" && "$program" "$root/examples/sample.txt" >"$scratch/$label.console" \
    2>"$scratch/$label.errors") || status=$?
  [ "$status" = 0 ] || fail "$label: exit status $status"
  [ ! -s "$scratch/$label.errors" ] || fail "$label: wrote to standard error"
  cmp "$scratch/$label.console" examples/expected/console.txt ||
    fail "$label: console differs from examples/expected/console.txt"
  diff <(ls "$dir") <(cd examples/expected && ls -- *.elm) ||
    fail "$label: element file names differ"
  local file
  for file in examples/expected/*.elm; do
    cmp "$dir/$(basename "$file")" "$file" || fail "$label: $file differs"
  done
  expect_version "$label" "$("$program" --version)"
  echo "$label: converts examples/sample.txt exactly; --version prints orbelm $version"
}

expect_version() {
  [ "$2" = "orbelm $version" ] ||
    fail "$1: --version prints '$2', expected 'orbelm $version'"
}

step "check the .deb"
dpkg-deb --contents "dist/$deb" | awk '{print $6}' | expect_files "$deb" \
  usr/bin/orbelm \
  usr/share/man/man1/orbelm.1.gz \
  usr/share/doc/orbelm/copyright \
  usr/share/doc/orbelm/changelog.gz
dpkg-deb --field "dist/$deb" Package Version Section Depends
dpkg-deb -x "dist/$deb" "$scratch/deb"
expect_conversion deb "$scratch/deb/usr/bin/orbelm"
! readelf -S "$scratch/deb/usr/bin/orbelm" | grep -q '\.symtab' ||
  fail "$deb: the program is not stripped"

step "lintian"
lintian_status=0
lintian --fail-on error --display-info "dist/$deb" >"$scratch/lintian" 2>&1 ||
  lintian_status=$?
grep -v 'running with root privileges' "$scratch/lintian" || true
[ "$lintian_status" = 0 ] || fail "lintian reports errors (status $lintian_status)"

step "check the .tar.gz"
top=${tgz%.tar.gz}
tar -tzf "dist/$tgz" | expect_files "$tgz" \
  "$top/bin/orbelm" \
  "$top/share/man/man1/orbelm.1.gz" \
  "$top/share/doc/orbelm/README.md" \
  "$top/share/doc/orbelm/CHANGELOG.md" \
  "$top/share/doc/orbelm/LICENSE"
mkdir "$scratch/tgz"
tar -xzf "dist/$tgz" -C "$scratch/tgz"
expect_conversion tgz "$scratch/tgz/$top/bin/orbelm"

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
    "$top/orbelm-manual.txt"
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
