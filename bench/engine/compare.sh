#!/usr/bin/env bash
# Runs the executor's micro-benchmarks and the same work in Lua 5.4 side by side, and prints the
# time per run of each and their ratio (script engine / Lua), then the geometric mean of the
# ratios and the largest one.
#   bench/engine/compare.sh [path/to/engine_bench]
# The default binary is the release preset's (cmake --preset release; cmake --build build/release).
# Lua: apt-get install lua5.4 (or set LUA to another interpreter).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../../build/release/bench/engine/engine_bench}
lua=${LUA:-lua5.4}
if [[ ! -x $bench ]]; then
  echo "no benchmark binary at $bench" >&2
  exit 1
fi
command -v "$lua" > /dev/null || { echo "no $lua (apt-get install lua5.4)" >&2; exit 1; }

engine=$("$bench" --benchmark_format=csv 2> /dev/null | awk -F, 'NR > 1 { gsub(/"/, "", $1); print $1, $3, $5 }')
script=$("$lua" "$here/bench.lua")

printf '%-22s %14s %14s %10s\n' benchmark "engine us/run" "lua us/run" ratio
while read -r name time unit; do
  case $unit in
    ns) us=$(awk -v t="$time" 'BEGIN { print t / 1000 }') ;;
    ms) us=$(awk -v t="$time" 'BEGIN { print t * 1000 }') ;;
    s) us=$(awk -v t="$time" 'BEGIN { print t * 1000000 }') ;;
    *) us=$time ;;
  esac
  lua_us=$(awk -v n="$name" '$1 == n { print $2 }' <<< "$script")
  [[ -n $lua_us ]] || continue
  awk -v n="$name" -v e="$us" -v l="$lua_us" \
    'BEGIN { printf "%-22s %14.1f %14.1f %9.1fx\n", n, e, l, e / l }'
done <<< "$engine" | awk '
  { print; ratio = $4 + 0; if (ratio > 0) { logs += log(ratio); count++; if (ratio > worst) worst = ratio } }
  END { if (count > 0) printf "%-22s %41.1fx (largest %.1fx)\n", "geometric mean", exp(logs / count), worst }'

