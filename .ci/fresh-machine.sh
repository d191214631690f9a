#!/usr/bin/env bash
# The README's quick start on a fresh machine. A minimal Debian 12 root
# (debootstrap --variant=minbase with git, cmake, g++, make and
# ca-certificates, nothing more) gets a clone of the commit under test, and
# the two commands of the README's "Quick start" section, read from the
# README itself, run in it as root in a chroot with /proc, /dev and
# /dev/pts mounted, the first, then the second. Fails when either fails.
#
# The root comes from Debian's mirror that the machine's apt sources name
# (deb.debian.org when they name none for bookworm). It is made once and
# kept as a tarball in /var/cache/orbelm-ci/, named by what it holds and
# made again when older than 7 days, so a run costs a copy of it, what the
# first command installs, a build and the tests.
#
# Skips with a message when not root, and, outside CI, when the mirror does
# not answer. The mounts live in a mount namespace of their own (where
# unshare works) and are undone on exit, also on failure.
#
#   bash .ci/fresh-machine.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source_tree=$PWD
started=$SECONDS

step() { echo "== fresh machine: $* ($((SECONDS - started)) s)"; }
skip() {
  echo "== fresh machine: skipped: $*"
  exit 0
}
fail() {
  echo "fresh-machine: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || skip "debootstrap, chroot and mount need root"

# Mounts made in a private mount namespace vanish with its last process,
# even when this script is killed.
if [ -z "${ORBELM_FRESH_NAMESPACE:-}" ] && unshare --mount true 2>/dev/null; then
  ORBELM_FRESH_NAMESPACE=1 exec unshare --mount --propagation private \
    bash "$source_tree/.ci/fresh-machine.sh" "$@"
fi

suite=bookworm
variant=minbase
include=git,cmake,g++,make,ca-certificates
cache=/var/cache/orbelm-ci
max_age_days=7

# The commit under test, and its quick start's commands: the lines of the
# code blocks of its README's "Quick start" section, one command a block.
commit=$(git rev-parse HEAD)
mapfile -t commands < <(git show "$commit:README.md" |
  awk '/^## / { quick = ($0 == "## Quick start") }
    quick && /^```/ { block = !block; next }
    quick && block')
[ ${#commands[@]} -eq 2 ] ||
  fail "README.md's quick start should hold two commands, one a code block; found ${#commands[@]} lines"

# The first http(s) mirror that the apt sources name for the suite.
apt_mirror() {
  {
    awk -v suite="$suite" '
      function flush() {
        if (!found && !disabled && uris ~ /^https?:/ &&
            (" " suites " ") ~ (" " suite " ")) {
          split(uris, u, " ")
          print u[1]
          found = 1
        }
        uris = suites = ""
        disabled = 0
      }
      FNR == 1 || /^[ \t]*$/ { flush() }
      /^URIs:/ { uris = $0; sub(/^URIs:[ \t]*/, "", uris) }
      /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
      /^Enabled:[ \t]*no/ { disabled = 1 }
      END { flush() }' /etc/apt/sources.list.d/*.sources 2>/dev/null
    awk -v suite="$suite" '$1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
        if ($i ~ /^https?:/ && $(i + 1) == suite) print $i
      }' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
    echo http://deb.debian.org/debian
  } | awk 'NR == 1'
}

./install-deps.sh debootstrap wget
mirror=$(apt_mirror)
key=$(echo "$suite $variant $include $mirror" | sha256sum | cut -c 1-12)
tarball=$cache/debian-$suite-$variant-$key.tar

# Makes the root's tarball when there is none or it is too old; one run at
# a time.
make_root() {
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  if [ -n "$(find "$tarball" -mtime -"$max_age_days" 2>/dev/null)" ]; then
    exec 9>&-
    step "the fresh root from $tarball"
    return
  fi
  step "debootstrap --variant=$variant --include=$include $suite from $mirror"
  local made=$cache/making
  rm -rf --one-file-system "$made"
  debootstrap --variant="$variant" --include="$include" "$suite" "$made" \
    "$mirror" >"$cache/debootstrap.log" 2>&1 || {
    cat "$cache/debootstrap.log"
    fail "debootstrap failed"
  }
  tar -C "$made" -cf "$tarball.part" .
  mv "$tarball.part" "$tarball"
  rm -rf --one-file-system "$made"
  find "$cache" -maxdepth 1 -name 'debian-*.tar' ! -name "${tarball##*/}" \
    -delete
  exec 9>&-
  step "kept the fresh root as $tarball ($(du -m "$tarball" | cut -f 1) MiB)"
}

fresh=""
# Undoes the mounts of the fresh root, then removes its folder; leaves it
# where a mount stays, rather than reach into the machine's /dev.
remove_root() {
  [ -n "$fresh" ] || return 0
  local mount
  for mount in "$fresh/dev/pts" "$fresh/dev" "$fresh/proc" "$fresh"; do
    if mountpoint -q "$mount"; then
      umount "$mount" || umount -l "$mount" || true
    fi
  done
  if awk -v root="$fresh" '$5 == root || index($5, root "/") == 1 { found = 1 }
      END { exit !found }' /proc/self/mountinfo; then
    echo "fresh-machine: $fresh still has mounts; not removed" >&2
  else
    rm -rf --one-file-system "$fresh"
  fi
  fresh=""
}
trap remove_root EXIT

# A fresh copy of the root with a clone of the commit under test in
# /root/orbelm, its /proc, /dev and /dev/pts mounted. It lives in memory
# (about 1.2 GB at the end), which is quicker to fill and to empty than the
# disk.
new_root() {
  fresh=$(mktemp -d /var/tmp/orbelm-fresh.XXXXXX)
  mount -t tmpfs -o mode=755 tmpfs "$fresh"
  tar -C "$fresh" -xf "$tarball"
  git clone -q --no-checkout "$source_tree" "$fresh/root/orbelm"
  git -C "$fresh/root/orbelm" checkout -q --detach "$commit"
  mount -t proc proc "$fresh/proc"
  mount --bind /dev "$fresh/dev"
  mount --bind /dev/pts "$fresh/dev/pts"
  cp -L /etc/resolv.conf "$fresh/etc/resolv.conf"
}

# Runs the quick start's command N (1 or 2) in the clone, as a new root
# login would: a plain environment, no terminal. Prints its last lines
# (from CTest's summary on), or all of them when it fails.
quick_start() {
  local n=$1 log=$fresh/root/command-$1.log at=$SECONDS
  step "command $n: ${commands[n - 1]}"
  if chroot "$fresh" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/sh -c "cd /root/orbelm && ${commands[n - 1]}" </dev/null \
    >"$log" 2>&1; then
    if grep -q '% tests passed' "$log"; then
      sed -n '/% tests passed/,$p' "$log"
    else
      tail -n 4 "$log"
    fi | sed 's/^/    /'
    step "command $n passed in $((SECONDS - at)) s"
  else
    cat "$log"
    fail "the quick start's command $n failed on a fresh $suite root"
  fi
}

# The first command installs from the mirror too, so it must answer also
# when the root is kept.
if ! wget -q -T 30 -t 2 -O /dev/null "$mirror/dists/$suite/Release"; then
  [ "${CI:-}" = true ] || skip "Debian's mirror $mirror does not answer"
  fail "Debian's mirror $mirror does not answer"
fi
make_root
at=$SECONDS
new_root
step "a fresh copy of the root and a clone in $((SECONDS - at)) s"
quick_start 1
quick_start 2
remove_root
step "passed"
