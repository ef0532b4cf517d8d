#!/usr/bin/env bash
# Builds keytwine (release) and replays the bundled example trace through the example table.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target keytwine
./build/release/tools/keytwine replay examples/Keytwine.table examples/demo.trace
