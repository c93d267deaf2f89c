#!/bin/sh
# Checks the Debian build packages; installs the missing ones when run as root,
# otherwise prints the exact install line.
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq $missing >/dev/null || exit 1
else
  echo "missing build packages; run:"
  echo "  sudo apt-get install -y$missing"
  exit 1
fi
