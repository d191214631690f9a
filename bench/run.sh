#!/usr/bin/env bash
# Whole-run benchmarks. Builds orbelm and the floor program (Release) into
# build-bench/ and makes synthetic minor-planet records in a temporary
# folder. Every file it makes is removed at the end.
#
# 1. Whole runs (bench/whole_run.py): N and 5 N records; orbelm and the
#    floor program, which only writes the same files, run alternately into
#    a fresh folder and over existing files; prints the wall-clock ratio
#    orbelm/floor, the CPU per record beyond the floor and orbelm's peak
#    resident memory for N and 5 N records. With strace installed it ends
#    with the system-call counts of a 10,000-record run.
# 2. A refresh at scale (bench/refresh.py): R records, each program into a
#    fresh folder and then over the files of its own previous run, every
#    run timed with the sync of what it left; orbelm against the in-place
#    floor and the truncating floor.
#
# Usage: bench/run.sh [N [REPEATS [R]]]   (defaults: 200000, 3, 300000)
# Environment: ORBELM_BENCH_ONLY=whole or =refresh runs only that part;
# ORBELM_BENCH_NO_TRUNCATING=1 leaves the truncating floor out of the
# refresh (at 1.5 million records its replacing run alone takes minutes).
# The temporary folder is made under $TMPDIR (default /tmp); keep it on the
# disk whose cost is to be measured.
set -euo pipefail

records=${1:-200000}
repeats=${2:-3}
refresh_records=${3:-300000}
only=${ORBELM_BENCH_ONLY:-all}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORBELM_BENCH=ON \
  -DORBELM_TESTS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target orbelm orbelm_floor orbelm_measure >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/orbelm-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

machine="$(nproc) cores, $(uname -sr), $(df -PT "$work" | awk 'NR==2 {print $2}') under $work"

if [ "$only" != refresh ]; then
  echo "== inputs: $records and $((5 * records)) synthetic records"
  python3 "$root/bench/make_records.py" "$records" 1 >"$work/records.txt"
  python3 "$root/bench/make_records.py" "$((5 * records))" 2 >"$work/records5.txt"

  echo "== whole runs ($repeats alternating repetitions; machine: $machine)"
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
  rm -rf "$work/strace" "$work/records5.txt"
fi

if [ "$only" != whole ]; then
  echo
  echo "== refresh: $refresh_records synthetic records, $repeats rotating repetitions" \
    "(machine: $machine)"
  python3 "$root/bench/make_records.py" "$refresh_records" 3 >"$work/refresh.txt"
  no_truncating=()
  [ "${ORBELM_BENCH_NO_TRUNCATING:-0}" = 1 ] && no_truncating=(--no-truncating)
  python3 "$root/bench/refresh.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/refresh.txt" "$work" "$repeats" "${no_truncating[@]}"
fi
