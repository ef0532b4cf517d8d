#!/usr/bin/env bash
# End-to-end tests of the Windows program: cross-builds it with MinGW-w64 and runs the test
# driver under wine64 with a virtual X server, in a fresh wine prefix.
#
#   scripts/test-windows.sh [build-folder]     (default: build/win-mingw)
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build/win-mingw}"

# Installs the packages that are missing; the package lists are refreshed only then.
ensure_packages() {
  local missing=()
  for package in wine64 xvfb xauth; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} > 0)); then
    echo "installing ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

ensure_packages

cmake --preset mingw -B "$build" >/dev/null
cmake --build "$build" -j2 --target KeytwineTableTest TestMarker KeytwineWinTests

wine_bin="$(command -v wine64 || command -v wine || true)"
[[ -z "$wine_bin" && -x /usr/lib/wine/wine64 ]] && wine_bin=/usr/lib/wine/wine64
if [[ -z "$wine_bin" ]]; then
  echo "wine64 not found" >&2
  exit 1
fi

prefix="$(mktemp -d /tmp/keytwine-wine.XXXXXX)"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# One X server for the whole run: the prefix is created on the first start (about 10 s), then
# the driver runs. Every wait inside the driver has its own timeout; this one bounds the whole.
status=0
timeout --kill-after=10 300 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  status=0
  "$1" "$2" || status=$?
  wineserver -k 2>/dev/null || true
  exit "$status"
' _ "$wine_bin" "$build/tests/platform/KeytwineWinTests.exe" || status=$?
exit "$status"
