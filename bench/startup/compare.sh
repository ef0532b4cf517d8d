#!/usr/bin/env bash
# Start-up of `keytwine check` against Lua 5.4 doing the same work: generate.sh writes a
# 200-entry configuration and its Lua twin; both whole processes run (start, parse, run, print
# the table), their outputs must be identical, and the script prints each one's instruction
# total under callgrind (`valgrind --tool=callgrind`, which counts the dynamic linker too) and
# the ratio keytwine / Lua. Instruction counts do not depend on what else the machine runs; when
# it is quiet (load average below 1) the script also times RUNS runs of each (default 200) and
# prints the mean wall-clock time per process.
#   bench/startup/compare.sh [path/to/keytwine]
# The default binary is the release preset's (cmake --preset release; cmake --build --preset
# release --target keytwine). Needs valgrind and lua5.4 (or LUA set to another interpreter).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
keytwine=${1:-$here/../../build/release/tools/keytwine}
lua=${LUA:-lua5.4}
runs=${RUNS:-200}
[[ -x $keytwine ]] || { echo "no keytwine binary at $keytwine" >&2; exit 1; }
command -v "$lua" > /dev/null || { echo "no $lua (apt-get install lua5.4)" >&2; exit 1; }
command -v valgrind > /dev/null || { echo "no valgrind (apt-get install valgrind)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/generate.sh" "$work"
cd "$work"
"$keytwine" check startup.ns > keytwine.txt
"$lua" startup.lua > lua.txt
cmp -s keytwine.txt lua.txt || { echo "the two outputs differ: diff $work/{keytwine,lua}.txt" >&2; exit 1; }

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 > /dev/null |
    awk '/Collected :/ { print $NF }'
}
k=$(instructions "$keytwine" check startup.ns)
l=$(instructions "$lua" startup.lua)
printf '%-10s %14s\n' process instructions
printf '%-10s %14s\n' keytwine "$k" lua "$l"
awk -v k="$k" -v l="$l" 'BEGIN { printf "ratio      %13.2fx\n", k / l }'

load=$(cut -d' ' -f1 /proc/loadavg)
if awk -v l="$load" 'BEGIN { exit !(l < 1) }'; then
  mean_ms() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" > /dev/null; done
    end=$(date +%s%N)
    awk -v t=$((end - start)) -v n="$runs" 'BEGIN { printf "%.3f", t / n / 1e6 }'
  }
  km=$(mean_ms "$keytwine" check startup.ns)
  lm=$(mean_ms "$lua" startup.lua)
  printf '%-10s %11s ms\n' keytwine "$km" lua "$lm"
  awk -v k="$km" -v l="$lm" 'BEGIN { printf "ratio      %13.2fx (mean of %d runs)\n", k / l, '"$runs"' }'
else
  echo "load average $load: no timings (they need a quiet machine)"
fi
