#!/bin/sh
# Checks that the build packages are present. On Debian, a missing package is
# installed when run as root, otherwise the exact apt-get line is printed. On
# other systems, the tools the packages provide are looked for instead, and a
# missing one is named; nothing waits for input.
#   tools/prereq.sh PACKAGE...
if ! command -v dpkg-query >/dev/null 2>&1; then
  for p in "$@"; do
    case "$p" in
      cmake) command -v cmake >/dev/null 2>&1 || { echo "missing: cmake"; exit 1; } ;;
      g++) command -v g++ >/dev/null 2>&1 || command -v c++ >/dev/null 2>&1 || { echo "missing: a C++20 compiler"; exit 1; } ;;
      make) command -v make >/dev/null 2>&1 || { echo "missing: make"; exit 1; } ;;
    esac
  done
  exit 0  # libraries are found (or reported) by cmake
fi
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq </dev/null && apt-get install -y -qq $missing </dev/null >/dev/null || exit 1
else
  echo "missing build packages; run:"
  echo "  sudo apt-get install -y$missing"
  exit 1
fi
