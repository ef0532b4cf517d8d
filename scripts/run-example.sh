#!/usr/bin/env bash
# Builds keytwine (release), then runs the example configuration and replays the example trace
# through the key decisions it sets up.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target keytwine
./build/release/tools/keytwine sim --echo examples/Keytwine.ns examples/demo.trace
