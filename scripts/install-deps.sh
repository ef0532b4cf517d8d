#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine (as root, or with sudo).
# Packages already installed are left alone; apt-get update runs only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-dev libgtest-dev libgmock-dev libbenchmark-dev)
if [[ "${1:-}" == "--windows" ]]; then
  # Both release zips (64-bit and 32-bit) and the wine suite. Wine runs the 32-bit programs only
  # with wine32:i386, which needs the i386 architecture (dpkg --add-architecture i386).
  packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} > 0)); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
