#!/usr/bin/env bash
# The browser playground's test: builds the page with emscripten (the wasm preset) and the
# keytwine tool, then tests/web/playground_test.js loads the page in Debian's chromium, headless,
# from a server on 127.0.0.1 and checks it against the tool. Installs what is missing on a
# Debian machine (as root, or with sudo). The screenshot is build/wasm/playground.png.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for package in cmake ninja-build g++ emscripten node-acorn chromium nodejs; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

echo "== Browser playground in chromium"
cmake --workflow --preset wasm
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target keytwine

# npm ci starts from scratch each time; the copy of the lock file tells that it is not needed.
if ! cmp -s tests/web/package-lock.json tests/web/node_modules/.installed-lock 2>/dev/null; then
  (cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
  cp tests/web/package-lock.json tests/web/node_modules/.installed-lock
fi

node tests/web/playground_test.js build/wasm/playground build/release/tools/keytwine examples \
  build/wasm/playground.png
