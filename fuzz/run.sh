#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a
# given time on the seed corpus of fuzz/corpus/TARGET.
#
#   bash fuzz/run.sh [--if-available] [SECONDS] [TARGET...]
#
# SECONDS defaults to 60; the targets to convert_fuzz and number_fuzz, one
# after the other. New inputs that the fuzzer finds go to
# build-fuzz/corpus/TARGET (the repository's seeds are only read), crashes
# to build-fuzz/artifacts/. Exits non-zero when a target finds a failure.
# With --if-available, a machine without clang and libFuzzer skips the run
# with a note and exits 0. ORBELM_FUZZ_BUILD names another build folder;
# ORBELM_FUZZ_FLAGS adds libFuzzer options (for example -jobs=2 -workers=2).
set -euo pipefail
cd "$(dirname "$0")/.."

if_available=0
if [ "${1:-}" = "--if-available" ]; then
  if_available=1
  shift
fi
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(convert_fuzz number_fuzz)
build=${ORBELM_FUZZ_BUILD:-build-fuzz}
cxx=${CXX_FUZZ:-clang++}

# libFuzzer ships with clang; without it there is nothing to run.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
  'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' \
  >"$probe_dir/probe.cpp"
if ! command -v "$cxx" >/dev/null ||
  ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" \
    -o "$probe_dir/probe" 2>/dev/null; then
  echo "fuzz: $cxx with libFuzzer is not available" >&2
  [ $if_available -eq 1 ] && { echo "fuzz: skipped"; exit 0; }
  exit 1
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBELM_FUZZ=ON -DORBELM_TESTS=OFF \
  -DORBELM_WERROR=ON >/dev/null
cmake --build "$build" --parallel 2 --target "${targets[@]}"

mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  mkdir -p "$build/corpus/$name"
  echo "== fuzz $target for ${seconds}s"
  # -timeout: an input that takes seconds is a hang; every input here
  # should take microseconds.
  # shellcheck disable=SC2086
  "$build/fuzz/$target" "$build/corpus/$name" "fuzz/corpus/$name" \
    -max_total_time="$seconds" -timeout=10 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    ${ORBELM_FUZZ_FLAGS:-} 2>&1 | grep -v '^#[0-9]*.*\(NEW\|REDUCE\|pulse\)' || true
  # grep hides the progress lines; the fuzzer's own status decides.
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz: $target failed" >&2; exit 1; }
done
