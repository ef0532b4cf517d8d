#!/usr/bin/env bash
# A looping configuration beside a busy process on the same core: `keytwine check` of a script
# that counts to N (default 3,000,000) runs pinned to one core, first alone, then with a process
# that spins on that core too. Loops yield the processor only while other script threads run, so
# the busy neighbour should cost no more than the scheduler's fair share (about 2x: the two share
# the core); a loop that yielded on every iteration would hand the core over each time and take
# far longer.
#   bench/engine/busy_neighbour.sh [path/to/keytwine] [N]
# The default binary is the release preset's. Needs taskset (util-linux).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
keytwine=${1:-$here/../../build/release/tools/keytwine}
count=${2:-3000000}
[[ -x $keytwine ]] || { echo "no keytwine binary at $keytwine" >&2; exit 1; }
work=$(mktemp -d)
busy=""
trap '[[ -n $busy ]] && kill "$busy" 2>/dev/null; rm -rf "$work"' EXIT
echo "s = 0; for (i = 0; i < $count; i++) s = s + i;" > "$work/loop.ns"

seconds() {  # the wall-clock time of one check, on core 0
  local start end
  start=$(date +%s.%N)
  taskset -c 0 "$keytwine" check "$work/loop.ns" > /dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

alone=$(seconds)
taskset -c 0 bash -c 'while :; do :; done' &
busy=$!
sleep 0.2
beside=$(seconds)
kill "$busy"
busy=""
awk -v a="$alone" -v b="$beside" -v n="$count" \
  'BEGIN { printf "%d iterations: alone %.3f s, beside a busy process %.3f s: %.1fx\n", n, a, b, b / a }'
