#!/usr/bin/env bash
# Checks the editor support of .ns files: installs node and npm when they are missing (Debian),
# installs the test's locked npm packages, and runs the checks. UPDATE=1 rewrites the expected
# token files instead of comparing them (review the change with git diff).
set -euo pipefail
cd "$(dirname "$0")"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "== Installing node and npm"
  apt-get update -qq
  apt-get install -y -qq nodejs npm >/dev/null
fi

# npm ci starts from scratch each time; the copy of the lock file tells that it is not needed.
if ! cmp -s package-lock.json node_modules/.installed-lock 2>/dev/null; then
  echo "== Installing the npm packages"
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json node_modules/.installed-lock
fi

node run_tests.js
