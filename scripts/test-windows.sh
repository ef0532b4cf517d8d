#!/usr/bin/env bash
# End-to-end tests of the Windows program: cross-builds Keytwine.exe, keytwine-cli.exe and the
# test driver with MinGW-w64 and runs the driver under wine64 with a virtual X server, in a fresh
# wine prefix. Installs what is missing on a Debian machine (as root, or with sudo). The driver
# prints one line per check; the suite ends with "N passed, N failed" and a non-zero exit status
# on any failure.
#
#   scripts/test-windows.sh [build-folder] [check]   (default build folder: build/win-mingw;
#                                                     "check": only the check cases)
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$repo/build/win-mingw}")"
shift || true
cd "$repo"  # the presets are read from the current folder

# Installs the packages that are missing; the package lists are refreshed only then.
ensure_packages() {
  local missing=()
  for package in cmake ninja-build g++-mingw-w64-x86-64 wine wine64 xvfb xauth; do
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

# The first of the commands that exists (a name on PATH or a path).
first_command() {
  for candidate in "$@"; do
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
  return 1
}

ensure_packages

# Only the driver and what it starts: the program, the command-line tool, the marker program and
# the extension library.
cmake --preset mingw -B "$build" >/dev/null
cmake --build "$build" -j2 --target KeytwineWinTests

wine_bin="$(first_command wine64 wine /usr/lib/wine/wine64)" || {
  echo "wine64 not found" >&2
  exit 1
}
wineserver_bin="$(first_command wineserver /usr/lib/wine/wineserver64)" || {
  echo "wineserver not found" >&2
  exit 1
}

prefix="$(mktemp -d /tmp/keytwine-wine.XXXXXX)"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$wineserver_bin" -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# One X server for the whole run: the prefix is created on the first start (about 10 s), then
# the driver runs. Every wait inside the driver has its own timeout; this one bounds the whole.
# keytwine-cli.exe reads script text in the system's ANSI code page, which wine takes from the
# locale of the process: the driver runs in a locale without an ANSI code page of its own (wine
# gives it UTF-8), then the check cases run once more in a Japanese one (code page 932). Each
# run skips the cases of the other code page; the totals of both end the output.
status=0
timeout --kill-after=10 240 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine="$1" wineserver="$2" driver="$3"
  shift 3
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w
  status=0 passed=0 failed=0 log="$(mktemp)"
  run() {  # LOCALE DRIVER-ARGUMENTS...: prints all but the summary, adds up its counts
    LC_ALL="$1" "$wine" "$driver" "${@:2}" | tr -d "\r" | tee "$log" |
      grep --line-buffered -Ev "^[0-9]+ passed, [0-9]+ failed$"
    ((PIPESTATUS[0] == 0)) || status=1
    if [[ $(tail -n 1 "$log") =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
      passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2]))
    else
      status=1
    fi
  }
  run hi_IN.UTF-8 "$@"
  if (($# == 0)) || [[ " $* " == *" check "* ]]; then run ja_JP check; fi
  "$wineserver" -k 2>/dev/null || true
  rm -f "$log"
  echo "$passed passed, $failed failed"
  exit "$status"
' _ "$wine_bin" "$wineserver_bin" "$build/tests/platform/KeytwineWinTests.exe" "$@" || status=$?
if ((status == 124 || status == 137)); then
  echo "the suite did not finish within 240 s" >&2
fi
exit "$status"
