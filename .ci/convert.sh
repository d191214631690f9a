# shellcheck shell=bash
# Sourced by the checks that compare another platform's build with this
# machine's (arm.sh, windows.sh).

# Runs PROGRAM... on INPUT in a new folder DIR; the console goes to
# DIR.console, DIR.errors, the exit status to DIR.status.
convert() {
  local dir=$1 input=$2
  shift 2
  mkdir "$dir"
  local status=0
  (cd "$dir" && "$@" "$input" >"$dir.console" 2>"$dir.errors") || status=$?
  echo "$status" >"$dir.status"
}
