#!/bin/sh
# Installs what building orbelm and running its tests need, when it is
# missing: a C++20 compiler, CMake, make, zlib's headers, CLI11, GoogleTest,
# fast_float and Python 3 (for the differential test). Knows the package
# names of apt-get (Debian, Ubuntu), dnf (Fedora), pacman (Arch) and
# Homebrew (macOS); elsewhere it says what to install. It says what it
# installs and why, and asks for root through sudo when not run as root
# (never for Homebrew). Prints nothing when nothing is missing.
#
#   ./install-deps.sh [PACKAGE...]
#
# Each PACKAGE, a name of the system's package manager, is installed too
# when missing (the CI scripts add their tools so). Exit status 0 when
# everything is there at the end, 1 otherwise.
set -eu

say() { printf 'install-deps: %s\n' "$*"; }
fail() {
  printf 'install-deps: %s\n' "$*" >&2
  exit 1
}

# What is needed, one a line: how to see that it is there without asking a
# package manager (cmd:NAME,...: one of the commands is on the PATH;
# hdr:FILE: the compiler finds the header, looked at only where no package
# manager is known), its package for apt-get, dnf, pacman and Homebrew
# ("-": comes with the system there), and why it is needed.
needs() {
  cat <<'EOF'
cmd:c++,g++,clang++|g++|gcc-c++|gcc|-|a C++20 compiler
cmd:cmake|cmake|cmake|cmake|cmake|CMake, which configures the build
cmd:make|make|make|make|-|make, which runs the build
hdr:zlib.h|zlib1g-dev|zlib-devel|zlib|-|zlib's headers, to read gzip input
hdr:CLI/CLI.hpp|libcli11-dev|cli11-devel|cli11|cli11|CLI11, which lays out the help
hdr:gtest/gtest.h|libgtest-dev|gtest-devel|gtest|googletest|GoogleTest, for the test suite
hdr:fast_float/fast_float.h|libfast-float-dev|fast_float-devel|fast_float|fast_float|fast_float, which reads numbers
cmd:python3|python3|python3|python|python|Python 3, for the differential test
EOF
}

if command -v apt-get >/dev/null 2>&1; then
  manager=apt-get column=3
elif command -v dnf >/dev/null 2>&1; then
  manager=dnf column=4
elif command -v pacman >/dev/null 2>&1; then
  manager=pacman column=5
elif command -v brew >/dev/null 2>&1; then
  manager=brew column=6
  brew_installed=$(brew list --formula -1 2>/dev/null || true)
else
  manager="" column=0
fi

# Whether one of the comma-separated commands is on the PATH.
have_command() {
  for c in $(echo "$1" | tr ',' ' '); do
    command -v "$c" >/dev/null 2>&1 && return 0
  done
  return 1
}

# Whether the C++ compiler finds the header (only without a package
# manager, which knows better where its packages put their files).
have_header() {
  for c in c++ g++ clang++; do
    command -v "$c" >/dev/null 2>&1 || continue
    printf '#include <%s>\n' "$1" | "$c" -E -x c++ - >/dev/null 2>&1
    return
  done
  return 1
}

# Whether the package manager has the package installed (also as what
# another package provides).
installed() {
  case $manager in
    apt-get)
      case $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) in
        *" installed") return 0 ;;
      esac
      return 1 ;;
    dnf) rpm -q --whatprovides "$1" >/dev/null 2>&1 ;;
    pacman) pacman -T "$1" >/dev/null 2>&1 ;;
    brew) echo "$brew_installed" | grep -qx "$1" ;;
  esac
}

missing=""    # packages to install
listing=""    # each with why, one a line
by_hand=""    # what no known package manager can install here
add() {
  missing="$missing $1"
  listing="$listing$(printf '  %-20s %s' "$1" "$2")
"
}

while IFS='|' read -r probe apt dnf pacman brew why; do
  case $column in
    3) package=$apt ;; 4) package=$dnf ;; 5) package=$pacman ;;
    6) package=$brew ;; *) package="" ;;
  esac
  case $probe in
    cmd:*) have_command "${probe#cmd:}" && continue ;;
  esac
  if [ -z "$manager" ]; then
    case $probe in
      hdr:*) have_header "${probe#hdr:}" && continue ;;
    esac
    by_hand="$by_hand  $why
"
  elif [ "$package" = - ]; then
    # Comes with the system: with Homebrew, Xcode's command line tools
    # bring the compiler and make, and macOS brings zlib.
    case $probe in
      cmd:*) by_hand="$by_hand  $why: run xcode-select --install
" ;;
    esac
  elif ! installed "$package"; then
    add "$package" "$why"
  fi
done <<EOF
$(needs)
EOF

for package in "$@"; do
  if [ -z "$manager" ]; then
    by_hand="$by_hand  $package
"
  elif ! installed "$package"; then
    add "$package" "asked for"
  fi
done

if [ -n "$by_hand" ]; then
  if [ -z "$manager" ]; then
    say "found no apt-get, dnf, pacman or brew to install what orbelm needs"
  fi
  printf 'install-deps: install these by hand:\n%s' "$by_hand"
  [ -n "$manager" ] || exit 1
fi >&2
if [ -z "$missing" ]; then
  [ -z "$by_hand" ] && exit 0
  exit 1
fi

say "installing with $manager what building and testing orbelm needs:"
printf '%s' "$listing"

# Root: none needed for Homebrew, which refuses it.
sudo=""
if [ "$manager" != brew ] && [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 ||
    fail "not root, and no sudo: run this again as root"
  say "not running as root: asking for it through sudo (it may ask for your password)"
  sudo=sudo
fi

# $missing is a list of package names, split on blanks on purpose.
# shellcheck disable=SC2086
case $manager in
  apt-get)
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get -qq \
      -o DPkg::Lock::Timeout=600 update &&
      $sudo env DEBIAN_FRONTEND=noninteractive apt-get -qq \
        -o DPkg::Lock::Timeout=600 install -y --no-install-recommends \
        $missing ;;
  dnf) $sudo dnf install -y $missing ;;
  pacman) $sudo pacman -S --needed --noconfirm $missing ;;
  brew) brew install $missing ;;
esac || fail "$manager could not install:$missing"
say "installed:$missing"
[ -z "$by_hand" ] || exit 1
