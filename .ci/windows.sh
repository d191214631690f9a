#!/usr/bin/env bash
# The Windows check: cross-compiles orbelm and its unit tests with MinGW-w64,
# runs the unit tests under Wine, runs the end-to-end tests (their Linux
# build) against the Windows program, and compares the Windows program's
# console and element files with the Linux build's on the same inputs: they
# must be identical except that every Windows line ends in CR LF.
# Installs what it needs from Debian's packages. Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

step() { echo "== windows: $* ($((SECONDS - started)) s)"; }

step "install MinGW-w64, its zlib, Wine, the GoogleTest sources, CLI11, fast_float"
./install-deps.sh g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 \
  googletest libcli11-dev libfast-float-dev

# A private Wine prefix, removed at the end together with its wineserver.
scratch=$(mktemp -d)
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
step "start Wine in $WINEPREFIX"
wine wineboot --init >/dev/null 2>&1 || true
wineserver -w

step "cross-compile (build-windows)"
rm -rf build-windows
cmake -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DORBELM_WERROR=ON
cmake --build build-windows --parallel 2

step "orbelm.exe needs only the DLLs that every Windows has"
dlls=$(x86_64-w64-mingw32-objdump -p build-windows/orbelm.exe |
  awk '/DLL Name:/ {print $3}')
echo "$dlls"
if echo "$dlls" | grep -viqE '^(KERNEL32|msvcrt)\.dll$'; then
  echo "windows: orbelm.exe needs another DLL (zlib must be linked in)" >&2
  exit 1
fi

step "unit tests under Wine"
ctest --test-dir build-windows --output-on-failure --parallel 2

step "Linux build of the program and the end-to-end tests (build-windows-host)"
rm -rf build-windows-host
cmake -B build-windows-host -DCMAKE_BUILD_TYPE=Release -DORBELM_WERROR=ON
cmake --build build-windows-host --parallel 2 --target orbelm end_to_end_test \
  element_files_test

linux_program="$root/build-windows-host/orbelm"
windows_program="$root/build-windows/orbelm.exe"

step "end-to-end tests of the Windows program"
for test in end_to_end_test element_files_test; do
  ORBELM_TEST_PROGRAM="wine '$windows_program'" ORBELM_TEST_PLATFORM=windows \
    "build-windows-host/tests/$test"
done

# convert DIR INPUT PROGRAM...: see convert.sh.
source "$root/.ci/convert.sh"

# Compares the Linux run in DIR_L with the Windows run in DIR_W: the same
# exit status and file names, and console, errors and element files equal
# once each Windows CR LF is read as LF, with no bare LF from Windows.
compare() {
  python3 - "$1" "$2" <<'PY'
import os, sys
linux, windows = sys.argv[1:3]
problems = []
def windows_text(path):
    data = open(path, "rb").read()
    if data.count(b"\n") != data.count(b"\r\n"):
        problems.append(path + ": a line does not end in CR LF")
    return data.replace(b"\r\n", b"\n")
if open(linux + ".status").read() != open(windows + ".status").read():
    problems.append("the exit status differs")
for suffix in (".console", ".errors"):
    if open(linux + suffix, "rb").read() != windows_text(windows + suffix):
        problems.append(suffix[1:] + " differs")
names = sorted(os.listdir(linux))
if names != sorted(os.listdir(windows)):
    problems.append("the element file names differ")
differing = [n for n in names if open(os.path.join(linux, n), "rb").read()
             != windows_text(os.path.join(windows, n))]
problems += [n + " differs" for n in differing[:20]]
print("%s: %d element files, %d differ" % (windows, len(names), len(differing)))
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
PY
}

step "compare with the Linux build on examples/sample.txt"
convert "$scratch/sample-linux" "$root/examples/sample.txt" "$linux_program"
convert "$scratch/sample-windows" "$root/examples/sample.txt" \
  wine "$windows_program"
compare "$scratch/sample-linux" "$scratch/sample-windows"

records=${ORBELM_WINDOWS_RECORDS:-4000}
step "compare on $records made-up records (CR LF input for Windows)"
python3 .ci/windows-records.py "$records" >"$scratch/records.txt"
sed 's/$/\r/' "$scratch/records.txt" >"$scratch/records-crlf.txt"
convert "$scratch/made-up-linux" "$scratch/records.txt" "$linux_program"
convert "$scratch/made-up-windows" "$scratch/records-crlf.txt" \
  wine "$windows_program"
compare "$scratch/made-up-linux" "$scratch/made-up-windows"

step "a dry run over the Windows program's own files finds every one unchanged"
report=$(cd "$scratch/made-up-windows" &&
  wine "$windows_program" --dry-run "$scratch/records-crlf.txt" 2>&1 >/dev/null |
  tr -d '\r')
echo "$report"
expected_files=$(ls "$scratch/made-up-windows" | wc -l)
[ "$report" = "orbelm: dry run, nothing written: 0 element files would be created, 0 changed, $expected_files left unchanged" ] ||
  { echo "windows: the dry run does not find the files unchanged" >&2; exit 1; }

step "a second Windows run into a folder waits for the first (a named mutex)"
mkdir "$scratch/locked"
# The first run holds the folder while it waits for its standard input.
(cd "$scratch/locked" && sleep 8 | wine "$windows_program" - >/dev/null 2>&1) &
first=$!
sleep 4
waited=$(cd "$scratch/locked" &&
  wine "$windows_program" "$root/examples/sample.txt" 2>&1 >/dev/null | tr -d '\r')
wait "$first"
echo "$waited"
[ "$waited" = "orbelm: waiting for another run of orbelm in the current folder" ] ||
  { echo "windows: the second run did not wait for the first" >&2; exit 1; }

step "passed"
