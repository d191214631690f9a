#!/usr/bin/env bash
# Whole-run benchmarks. Builds orbelm and the floor program (Release) into
# build-bench/ and makes synthetic minor-planet records in a temporary
# folder. Every file it makes is removed at the end. The parts:
#
#   whole    N and 5 N records (bench/whole_run.py): orbelm and the floor
#            program, which only writes the same files, run alternately
#            into a fresh folder and over existing files; the wall-clock
#            ratio orbelm/floor, the CPU per record beyond the floor and
#            orbelm's peak resident memory for N and 5 N records.
#   strace   the system-call counts of a 10,000-record run (needs strace).
#   gzip     GZIP_N records (bench/gzip_run.py): whole runs from a gzip file
#            against runs from the same plain file, into a fresh folder, and
#            the peak memory from gzip for GZIP_N and 5 GZIP_N records.
#   refresh  REFRESH_N records (bench/refresh.py): each program in a folder
#            of its own, first into the empty folder, then refreshing it
#            from the same records, from records of which a tenth changed
#            (bench/change_records.py moves their mean anomaly) and from
#            records that all changed, every run timed with the sync of
#            what it left and its bytes written counted; orbelm against the
#            in-place floor and the comparing floor (which writes only the
#            files that differ); then orbelm's --prune with 10,000 stale
#            files against the same refresh without it and against
#            unlinking those files alone (skipped while orbelm has no
#            --prune).
#   cold     COLD_N unchanged files refreshed with the page cache dropped
#            before each run (as root; skipped otherwise) and warm
#            (bench/cold.py): orbelm against the comparing floor as one
#            process and as 32 processes over slices of the input.
#   select   SELECTED of SELECT_N records chosen with --designations
#            (bench/selection_run.py): orbelm against the floor reading the
#            whole input once and writing the selected files, into a fresh
#            folder and over existing files.
#   quick    COLD_N records (bench/quick_check.py), needs
#            ORBELM_BENCH_BASELINE: the refresh with the record of file
#            states against that earlier build, cold (as root) and warm,
#            with --jobs 1, beside busy loops at nice 0 and 19, without a
#            record (--read-all) and with every line changed.
#   sky      SKY_N records of make_records.py --sky (bench/selection_run.py
#            --sky): dry runs with --max-apparent-magnitude 18 over windows
#            of 1, 30 and 365 days against the same dry run without it,
#            with their peak memory.
#
# Usage: bench/run.sh [N [REPEATS]]      (defaults: 200000 records, 3)
# Environment:
#   ORBELM_BENCH_PARTS   the parts to run (default "whole strace gzip refresh
#            cold select sky")
#   ORBELM_BENCH_GZIP_N, ORBELM_BENCH_REFRESH_N, ORBELM_BENCH_SELECT_N
#            (default 300000 each; the README's selection figure is for
#            1500000), ORBELM_BENCH_SELECTED (default 10000),
#            ORBELM_BENCH_SKY_N (default 300000)
#   ORBELM_BENCH_TRUNCATING=1   adds the truncating floor to the refresh
#            (at 1.5 million records each of its refreshing runs takes
#            minutes)
#   ORBELM_BENCH_COLD_N  (default 300000); ORBELM_BENCH_COLD_JOBS: further
#            --jobs values for the cold part (for example "1 32 64");
#            ORBELM_BENCH_BASELINE: another orbelm program (a build of an
#            earlier commit) that the cold part runs beside this one
#   ORBELM_BENCH_PAUSE   seconds of the refresh's pauses before fresh runs
#            (default 61; shorter only to try the script out)
# A refresh sitting of 300,000 records in 5 repetitions, and one of the
# full 1.5 million records in one:
#   ORBELM_BENCH_PARTS=refresh ORBELM_BENCH_REFRESH_N=300000 bash bench/run.sh 0 5
#   ORBELM_BENCH_PARTS=refresh ORBELM_BENCH_REFRESH_N=1500000 bash bench/run.sh 0 1
# The refresh keeps the folders of all its repetitions until its end when
# the disk holds them (3 folders a repetition and one more, each file a
# 4 KiB block and an inode), else it removes each repetition's at its end.
# The temporary folder is made under $TMPDIR (default /tmp); keep it on the
# disk whose cost is to be measured.
set -euo pipefail

records=${1:-200000}
repeats=${2:-3}
parts=" ${ORBELM_BENCH_PARTS:-whole strace gzip refresh cold select sky} "
gzip_records=${ORBELM_BENCH_GZIP_N:-300000}
refresh_records=${ORBELM_BENCH_REFRESH_N:-300000}
cold_records=${ORBELM_BENCH_COLD_N:-300000}
selection_records=${ORBELM_BENCH_SELECT_N:-300000}
selected=${ORBELM_BENCH_SELECTED:-10000}
sky_records=${ORBELM_BENCH_SKY_N:-300000}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"

wants() { [[ "$parts" == *" $1 "* ]]; }

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORBELM_BENCH=ON \
  -DORBELM_TESTS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target orbelm orbelm_floor orbelm_measure >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/orbelm-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

machine="$(nproc) cores, $(uname -sr), $(df -PT "$work" | awk 'NR==2 {print $2}') under $work"

if wants whole || wants strace; then
  echo "== inputs: $records and $((5 * records)) synthetic records"
  python3 "$root/bench/make_records.py" "$records" 1 >"$work/records.txt"
fi

if wants whole; then
  python3 "$root/bench/make_records.py" "$((5 * records))" 2 >"$work/records5.txt"
  echo "== whole runs ($repeats alternating repetitions; machine: $machine)"
  python3 "$root/bench/whole_run.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/records.txt" "$work/records5.txt" "$work" "$repeats"
  rm -f "$work/records5.txt"
fi

if wants strace && command -v strace >/dev/null; then
  echo
  echo "== system calls of a 10,000-record run (strace -c -f)"
  head -n 10000 "$work/records.txt" >"$work/records10k.txt"
  mkdir "$work/strace"
  (cd "$work/strace" &&
    strace -c -f -o "$work/strace.txt" "$build/orbelm" "$work/records10k.txt" \
      >"$work/console.txt")
  cat "$work/strace.txt"
  rm -rf "$work/strace"
fi

if wants gzip; then
  echo
  echo "== gzip against plain: $gzip_records records, $repeats alternating pairs"
  python3 "$root/bench/make_records.py" "$gzip_records" 3 >"$work/plain.txt"
  gzip -c "$work/plain.txt" >"$work/plain.txt.gz"
  python3 "$root/bench/make_records.py" "$((5 * gzip_records))" 4 |
    gzip -c >"$work/plain5.txt.gz"
  echo "   compressed: $(stat -c %s "$work/plain.txt.gz") of $(stat -c %s "$work/plain.txt") bytes"
  python3 "$root/bench/gzip_run.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$work/plain.txt" "$work/plain.txt.gz" "$work/plain5.txt.gz" "$work" "$repeats"
  rm -f "$work/plain.txt" "$work/plain.txt.gz" "$work/plain5.txt.gz"
fi

if wants refresh; then
  echo
  echo "== refresh: $refresh_records synthetic records, $repeats rotating repetitions" \
    "(machine: $machine)"
  python3 "$root/bench/make_records.py" "$refresh_records" 3 >"$work/refresh-a.txt"
  python3 "$root/bench/change_records.py" 10 180 <"$work/refresh-a.txt" >"$work/refresh-b.txt"
  python3 "$root/bench/change_records.py" 1 90 <"$work/refresh-b.txt" >"$work/refresh-c.txt"
  truncating=()
  [ "${ORBELM_BENCH_TRUNCATING:-0}" = 1 ] && truncating=(--truncating)
  python3 "$root/bench/refresh.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/refresh-a.txt" "$work/refresh-b.txt" \
    "$work/refresh-c.txt" "$work" "$repeats" "${truncating[@]}"
  rm -f "$work/refresh-a.txt" "$work/refresh-b.txt" "$work/refresh-c.txt"
fi

if wants cold; then
  echo
  echo "== cold and warm unchanged refresh: $cold_records synthetic records," \
    "$repeats rotating repetitions (machine: $machine)"
  python3 "$root/bench/make_records.py" "$cold_records" 3 >"$work/cold.txt"
  python3 "$root/bench/cold.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/cold.txt" "$work" "$repeats" \
    ${ORBELM_BENCH_COLD_JOBS:-}
  rm -f "$work/cold.txt"
fi

if wants quick; then
  echo
  echo "== the quick check: $cold_records synthetic records," \
    "$repeats rotating repetitions (machine: $machine)"
  if [ -z "${ORBELM_BENCH_BASELINE:-}" ]; then
    echo "  skipped: ORBELM_BENCH_BASELINE names no earlier build"
  else
    python3 "$root/bench/make_records.py" "$cold_records" 3 >"$work/quick.txt"
    python3 "$root/bench/quick_check.py" "$build/bench/orbelm_measure" \
      "$build/orbelm" "$ORBELM_BENCH_BASELINE" "$work/quick.txt" "$work" \
      "$repeats"
    rm -f "$work/quick.txt"
  fi
fi

if wants select; then
  echo
  echo "== selecting $selected of $selection_records synthetic records ($repeats alternating repetitions)"
  python3 "$root/bench/make_records.py" "$selection_records" 3 >"$work/selection.txt"
  python3 "$root/bench/selection_run.py" "$build/bench/orbelm_measure" "$build/orbelm" \
    "$build/bench/orbelm_floor" "$work/selection.txt" "$work" "$repeats" "$selected"
fi

if wants sky; then
  echo
  echo "== apparent magnitude: dry runs over $sky_records synthetic records of a" \
    "catalogue's mix ($repeats rotating repetitions; machine: $machine)"
  python3 "$root/bench/make_records.py" --sky "$sky_records" 5 >"$work/sky.txt"
  python3 "$root/bench/selection_run.py" --sky "$build/bench/orbelm_measure" \
    "$build/orbelm" "$work/sky.txt" "$work" "$repeats"
  rm -f "$work/sky.txt"
fi
