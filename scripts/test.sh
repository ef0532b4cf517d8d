#!/usr/bin/env bash
# Builds and runs every test: the release build, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the tests that start script threads under ThreadSanitizer (the script
# cases and the engine tests), the editor grammar's test, the fuzz targets replaying their stored
# corpora, and the Windows program cross-built with MinGW and run end to end under wine with a
# virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --windows
jobs=$(nproc)

echo "== Release build and tests"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

echo "== Sanitizer build and tests"
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

echo "== ThreadSanitizer: the tests that start script threads"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target script_cases
ctest --preset tsan -j "$jobs" -R '^(Files/ScriptCases|EngineTest)\.'

echo "== Editor support: the grammar against expected scopes"
bash editors/test/run.sh

if compgen -G "fuzz/*/CMakeLists.txt" >/dev/null; then
  echo "== Fuzz targets replaying their corpora"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  ctest --test-dir build/fuzz -j "$jobs" --output-on-failure
fi

bash scripts/test-playground.sh

echo "== Windows program under wine"
bash scripts/test-windows.sh
