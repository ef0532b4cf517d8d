#!/usr/bin/env bash
# The engine benchmarks and their Lua 5.4 twins counted in instructions (callgrind), which do not
# depend on what else the machine runs: per pair the instructions of one run of each and their
# ratio, then the geometric mean of the ratios and the largest.
#   bench/engine/instructions.sh [path/to/engine_bench] [CASE...]
# With --benchmark_min_time=0 the benchmark runs a case twice (the output check and one timed
# run), so one run is half of what the case adds to an empty run; bench.lua CASE N runs the Lua
# twin N times. Needs valgrind and lua5.4 (or LUA set to another interpreter).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../../build/release/bench/engine/engine_bench}
shift || true
lua=${LUA:-lua5.4}
[[ -x $bench ]] || { echo "no benchmark binary at $bench" >&2; exit 1; }
cases=("$@")
((${#cases[@]} > 0)) || mapfile -t cases < <("$bench" --benchmark_list_tests)

count() {  # the instructions of a command
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 > /dev/null |
    awk '/Collected :/ { print $NF }'
}

engine_empty=$(count "$bench" --benchmark_filter='^$' --benchmark_min_time=0)
lua_empty=$(count "$lua" "$here/bench.lua" count_loop 0)
printf '%-22s %16s %16s %9s\n' benchmark "engine instr/run" "lua instr/run" ratio
ratios=()
for name in "${cases[@]}"; do
  engine=$(count "$bench" --benchmark_filter="^$name\$" --benchmark_min_time=0)
  script=$(count "$lua" "$here/bench.lua" "$name" 2)
  line=$(awk -v n="$name" -v e="$engine" -v e0="$engine_empty" -v l="$script" -v l0="$lua_empty" \
    'BEGIN { e = (e - e0) / 2; l = (l - l0) / 2; printf "%-22s %16.0f %16.0f %8.2fx", n, e, l, e / l }')
  echo "$line"
  ratios+=("${line##* }")
done
printf '%s\n' "${ratios[@]}" | tr -d x | awk '{ s += log($1); n++; if ($1 + 0 > m) m = $1 + 0 }
  END { if (n > 0) printf "%-22s %34s %8.2fx (largest %.2fx)\n", "geometric mean", "", exp(s / n), m }'
