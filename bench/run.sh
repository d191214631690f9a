#!/usr/bin/env bash
# Whole-run benchmark: orbelm against the floor program, which only creates
# the same files. Builds both (Release) into build-bench/, writes N and 5 N
# synthetic minor-planet records into a temporary folder, runs the two
# programs alternately into a fresh folder and over existing files, and
# prints the wall-clock ratio orbelm/floor, the CPU per record beyond the
# floor and orbelm's peak resident memory for N and 5 N records. Then it
# compares whole runs from a gzip file with runs from the same plain file
# (GZIP_N records, into a fresh folder) and measures the peak memory from
# gzip for GZIP_N and 5 GZIP_N records. With strace installed it ends with
# the system-call counts of a 10,000-record run. Every file it makes is
# removed at the end.
#
# Usage: bench/run.sh [N [REPEATS [GZIP_N]]]
#        (defaults: 200000 records, 3, 300000 records)
# ORBELM_BENCH_PARTS picks parts: any of "floor gzip strace" (default all).
# The temporary folder is made under $TMPDIR (default /tmp); keep it on the
# disk whose cost is to be measured.
set -euo pipefail

records=${1:-200000}
repeats=${2:-3}
gzip_records=${3:-300000}
parts=${ORBELM_BENCH_PARTS:-floor gzip strace}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORBELM_BENCH=ON \
  -DORBELM_TESTS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target orbelm orbelm_floor orbelm_measure >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/orbelm-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ " $parts " == *" floor "* || " $parts " == *" strace "* ]]; then
  echo "== inputs: $records and $((5 * records)) synthetic records"
  python3 "$root/bench/make_records.py" "$records" 1 >"$work/records.txt"
  python3 "$root/bench/make_records.py" "$((5 * records))" 2 >"$work/records5.txt"
fi

if [[ " $parts " == *" floor "* ]]; then
  echo "== whole runs ($repeats alternating repetitions; machine: $(nproc) cores," \
    "$(uname -sr), $(df -PT "$work" | awk 'NR==2 {print $2}') under $work)"
  python3 "$root/bench/whole_run.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/records.txt" "$work/records5.txt" "$work" "$repeats"
fi

if [[ " $parts " == *" gzip "* ]]; then
  echo
  echo "== gzip against plain: $gzip_records records, $repeats alternating pairs"
  python3 "$root/bench/make_records.py" "$gzip_records" 3 >"$work/plain.txt"
  gzip -c "$work/plain.txt" >"$work/plain.txt.gz"
  python3 "$root/bench/make_records.py" "$((5 * gzip_records))" 4 |
    gzip -c >"$work/plain5.txt.gz"
  echo "   compressed: $(stat -c %s "$work/plain.txt.gz") of $(stat -c %s "$work/plain.txt") bytes"
  python3 "$root/bench/gzip_run.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$work/plain.txt" "$work/plain.txt.gz" "$work/plain5.txt.gz" "$work" "$repeats"
fi

if [[ " $parts " == *" strace "* ]] && command -v strace >/dev/null; then
  echo
  echo "== system calls of a 10,000-record run (strace -c -f)"
  head -n 10000 "$work/records.txt" >"$work/records10k.txt"
  mkdir "$work/strace"
  (cd "$work/strace" &&
    strace -c -f -o "$work/strace.txt" "$build/orbelm" "$work/records10k.txt" \
      >"$work/console.txt")
  cat "$work/strace.txt"
fi
