#!/bin/bash
# The cost of the JSON and viewer files in whole runs of the program: N
# interleaved runs of one structure without and with j: and p:, medians of the
# wall time and of the CPU time (user + system) of each.
#   bench/outputs_cost.sh BINARY [STRUCTURE.pdb] [N]
set -euo pipefail
binary=$(realpath "$1")
input=$(realpath "${2:-../shared/corpus/3o21.pdb}")
n=${3:-9}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for i in $(seq "$n"); do
  /usr/bin/time -f "plain %e %U %S" "$binary" "i:$input" o:a.res l:a.log >/dev/null 2>>times
  /usr/bin/time -f "extra %e %U %S" "$binary" "i:$input" o:b.res l:b.log j:b.json p:b >/dev/null 2>>times
done
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for kind in plain extra; do
  wall=$(awk -v k=$kind '$1==k {print $2}' times | median)
  cpu=$(awk -v k=$kind '$1==k {print $3+$4}' times | median)
  echo "$kind wall $wall s cpu $cpu s"
  eval "${kind}_wall=$wall ${kind}_cpu=$cpu"
done
awk -v pw="$plain_wall" -v ew="$extra_wall" -v pc="$plain_cpu" -v ec="$extra_cpu" \
  'BEGIN {printf "added: wall %.1f %%, cpu %.1f %%\n", 100 * (ew - pw) / pw, 100 * (ec - pc) / pc}'
