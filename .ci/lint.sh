#!/usr/bin/env bash
# Static analysis of src/: clang-tidy with the committed .clang-tidy, and
# cppcheck. Fails on any finding.
#
#   bash .ci/lint.sh [--if-available]
#
# With --if-available, a tool that is not installed is skipped with a note
# instead of failing the run. The compile commands come from a configure
# in build-lint/ (nothing is built there).
set -euo pipefail
cd "$(dirname "$0")/.."

if_available=0
[ "${1:-}" = "--if-available" ] && if_available=1

missing() {
  echo "lint: $1 is not installed" >&2
  [ $if_available -eq 1 ] && return 0
  exit 1
}

if command -v clang-tidy >/dev/null; then
  echo "== clang-tidy src/"
  cmake -B build-lint -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DORBELM_TESTS=OFF \
    >/dev/null
  # The "N warnings generated" lines count the suppressed findings in
  # system headers; the status is clang-tidy's.
  clang-tidy -p build-lint --quiet src/*.cpp 2>&1 |
    { grep -v 'warnings generated\.$' || true; }
else
  missing clang-tidy
fi

if command -v cppcheck >/dev/null; then
  echo "== cppcheck src/"
  # unusedFunction is left out: the core is a library whose functions the
  # tests, fuzzers and benchmarks call as well.
  cppcheck --enable=warning,style,performance,portability --std=c++20 \
    --inline-suppr --error-exitcode=1 --quiet -I src src
else
  missing cppcheck
fi
