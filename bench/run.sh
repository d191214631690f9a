#!/usr/bin/env bash
# Whole-run benchmark: orbelm against the floor program, which only creates
# the same files. Builds both (Release) into build-bench/, writes N and 5 N
# synthetic minor-planet records into a temporary folder, runs the two
# programs alternately into a fresh folder and over existing files, and
# prints the wall-clock ratio orbelm/floor, the CPU per record beyond the
# floor and orbelm's peak resident memory for N and 5 N records. With
# strace installed it ends with the system-call counts of a 10,000-record
# run. Then it measures a run that selects few records: SELECTED of S
# synthetic records chosen with --designations, against the floor reading
# the whole input once and creating the selected files (selection_run.py).
# Every file it makes is removed at the end.
#
# Usage: bench/run.sh [N [REPEATS [S [SELECTED]]]]
#   (defaults: 200000 records, 3, 300000, 10000; S = 0 skips the selection;
#   the selection figure of the README is for S = 1500000)
# The temporary folder is made under $TMPDIR (default /tmp); keep it on the
# disk whose cost is to be measured.
set -euo pipefail

records=${1:-200000}
repeats=${2:-3}
selection_records=${3:-300000}
selected=${4:-10000}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORBELM_BENCH=ON \
  -DORBELM_TESTS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target orbelm orbelm_floor orbelm_measure >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/orbelm-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== inputs: $records and $((5 * records)) synthetic records"
python3 "$root/bench/make_records.py" "$records" 1 >"$work/records.txt"
python3 "$root/bench/make_records.py" "$((5 * records))" 2 >"$work/records5.txt"

echo "== whole runs ($repeats alternating repetitions; machine: $(nproc) cores," \
  "$(uname -sr), $(df -PT "$work" | awk 'NR==2 {print $2}') under $work)"
python3 "$root/bench/whole_run.py" "$build/bench/orbelm_measure" "$build/orbelm" "$build/bench/orbelm_floor" \
  "$work/records.txt" "$work/records5.txt" "$work" "$repeats"

if command -v strace >/dev/null; then
  echo
  echo "== system calls of a 10,000-record run (strace -c -f)"
  head -n 10000 "$work/records.txt" >"$work/records10k.txt"
  mkdir "$work/strace"
  (cd "$work/strace" &&
    strace -c -f -o "$work/strace.txt" "$build/orbelm" "$work/records10k.txt" \
      >"$work/console.txt")
  cat "$work/strace.txt"
fi

if [ "$selection_records" -gt 0 ]; then
  echo
  echo "== selecting $selected of $selection_records synthetic records ($repeats alternating repetitions)"
  python3 "$root/bench/make_records.py" "$selection_records" 3 >"$work/selection.txt"
  python3 "$root/bench/selection_run.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/selection.txt" "$work" "$repeats" "$selected"
fi
