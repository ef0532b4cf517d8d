#!/usr/bin/env bash
# End-to-end tests of the Windows release: cross-builds the 64-bit and 32-bit release zips with
# MinGW-w64, checks that their programs need no DLL beyond Windows' own, unpacks the 64-bit zip
# into an empty folder and runs the test driver against the unpacked Keytwine.exe and
# keytwine-cli.exe under wine64 with a virtual X server, in a fresh wine prefix. Installs what is
# missing on a Debian machine (as root, or with sudo). Every check prints one line; the suite
# ends with "N passed, N failed" and a non-zero exit status on any failure.
#
#   scripts/test-windows.sh [build-folder] [check]   (default build folder: build/win-mingw, the
#                                                     32-bit build beside it with "32" appended;
#                                                     "check": only the check cases)
# The check cases (tests/tools/cases) run through keytwine-cli.exe by the Linux driver of those
# cases, cli_tests of the release preset, which this builds too.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$repo/build/win-mingw}")"
build32="${build}32"
shift || true
cd "$repo"  # the presets are read from the current folder

# Installs the packages that are missing; the package lists are refreshed only then.
ensure_packages() {
  local missing=()
  for package in cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 xvfb xauth; do
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

passed=0 failed=0
# STATUS NAME DETAIL: prints "PASS NAME" when STATUS is 0, else "FAIL NAME: DETAIL", and counts.
report() {
  if (($1 == 0)); then
    echo "PASS $2"
    passed=$((passed + 1))
  else
    echo "FAIL $2: $3"
    failed=$((failed + 1))
  fi
}

# The zips, and the driver with what it starts beside the programs: the marker program and the
# extension library. The driver runs the programs of the unpacked 64-bit zip.
unpacked="$build/unpacked"
cmake --preset mingw -B "$build" -DKEYTWINE_TEST_RELEASE="$unpacked" >/dev/null
cmake --build "$build" -j2 --target package KeytwineWinTests
cmake --preset mingw32 -B "$build32" >/dev/null
cmake --build "$build32" -j2 --target package
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target cli_tests
zip64="$(ls -t "$build"/Keytwine-*-win64.zip | head -n 1)"
zip32="$(ls -t "$build32"/Keytwine-*-win32.zip | head -n 1)"
version="$(basename "$zip64" -win64.zip)" version="${version#Keytwine-}"
rm -rf "$unpacked" "$build32/unpacked"
mkdir -p "$unpacked" "$build32/unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip64")
(cd "$build32/unpacked" && cmake -E tar xf "$zip32")
programs64="$unpacked/$(basename "$zip64" .zip)"
programs32="$build32/unpacked/$(basename "$zip32" .zip)"

# A clean Windows has no MinGW runtime: the programs may import only the system's DLLs. They are
# stripped: no symbols are left.
check_programs() {  # FOLDER PE-FORMAT OBJDUMP
  local program headers dlls symbols
  for program in Keytwine.exe keytwine-cli.exe; do
    headers="$("$3" -p "$1/$program" 2>&1 || true)"
    if [[ $headers != *"file format $2"* ]]; then
      report 1 "$program is $2" "$(grep -m1 "file format" <<<"$headers" || echo "$headers")"
      continue
    fi
    dlls="$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'a-z' 'A-Z' |
      grep -Evx 'KERNEL32.DLL|USER32.DLL|GDI32.DLL|IMM32.DLL|SHELL32.DLL|MSVCRT.DLL' || true)"
    report "$([[ -z $dlls ]]; echo $?)" "$program ($2) imports only system DLLs" "$dlls"
    symbols="$("${3%objdump}nm" "$1/$program" 2>&1 | head -n 3 || true)"
    report "$([[ $symbols == *"no symbols"* ]]; echo $?)" "$program ($2) is stripped" "$symbols"
  done
}
check_programs "$programs64" pei-x86-64 x86_64-w64-mingw32-objdump
check_programs "$programs32" pei-i386 i686-w64-mingw32-objdump
for file in README.txt Keytwine.ns docs/README.md; do
  report "$([[ -f $programs64/$file ]]; echo $?)" "the zip holds $file" "missing"
done

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

# Debian's wine runs 32-bit programs only with the wine32 package (of the i386 architecture).
wine32=0
[[ -e /usr/lib/wine/wine || -d /usr/lib/i386-linux-gnu/wine ]] && wine32=1

# One X server for the whole run: the prefix is created on the first start (about 10 s), then
# the programs tell their versions and the driver runs. Every wait inside the driver has its own
# timeout; this one bounds the whole.
# keytwine-cli.exe reads script text in the system's ANSI code page, which wine takes from the
# locale of the process: the driver runs in a locale without an ANSI code page of its own (wine
# gives it UTF-8), then the check cases run once more in a Japanese one (code page 932). Each
# run skips the cases of the other code page; the totals of both end the output.
status=0
timeout --kill-after=10 240 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine="$1" wineserver="$2" driver="$3" programs64="$4" programs32="$5" wine32="$6"
  version="$7" passed="$8" failed="$9" cli_tests="${10}"
  shift 10
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w
  status=0 log="$(mktemp)"
  ((failed == 0)) || status=1
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
  # PROGRAM EXPECTED: --version prints EXPECTED and ends. Keytwine.exe prints it on the standard
  # output it was given; beside the example Keytwine.ns, a remapper started by mistake would not
  # end before the timeout.
  tells_version() {
    local output
    output="$(timeout 30 "$wine" "$1" --version 2>/dev/null | tr -d "\r")"
    if [[ $output == "$2" ]]; then
      echo "PASS $(basename "$(dirname "$1")")/$(basename "$1") --version"
      passed=$((passed + 1))
    else
      echo "FAIL $(basename "$(dirname "$1")")/$(basename "$1") --version: printed \"$output\""
      failed=$((failed + 1)) status=1
    fi
  }
  tells_version "$programs64/keytwine-cli.exe" "keytwine $version"
  tells_version "$programs64/Keytwine.exe" "Keytwine $version"
  if ((wine32)); then
    tells_version "$programs32/keytwine-cli.exe" "keytwine $version"
  else
    echo "SKIP the 32-bit programs under wine: this wine runs no 32-bit program (install wine32)"
  fi
  [[ " $* " == *" check "* ]] || run hi_IN.UTF-8
  # LOCALE CODE-PAGE: the check cases of that code page through keytwine-cli.exe.
  cli_cases() {
    if LC_ALL="$1" KEYTWINE_TOOL_CODEPAGE="$2" KEYTWINE_TOOL="\"$wine\" \"$programs64/keytwine-cli.exe\"" \
      "$cli_tests" --gtest_filter="Files/CheckCases.*" > "$log" 2>&1; then
      echo "PASS the check cases of code page $2 through keytwine-cli.exe"
      passed=$((passed + 1))
    else
      grep -v "^\[ " "$log"
      echo "FAIL the check cases of code page $2 through keytwine-cli.exe"
      failed=$((failed + 1)) status=1
    fi
  }
  cli_cases hi_IN.UTF-8 65001
  cli_cases ja_JP 932
  "$wineserver" -k 2>/dev/null || true
  rm -f "$log"
  echo "$passed passed, $failed failed"
  exit "$status"
' _ "$wine_bin" "$wineserver_bin" "$build/tests/platform/KeytwineWinTests.exe" "$programs64" \
  "$programs32" "$wine32" "$version" "$passed" "$failed" "$repo/build/release/tests/tools/cli_tests" \
  "$@" || status=$?
if ((status == 124 || status == 137)); then
  echo "the suite did not finish within 240 s" >&2
fi
exit "$status"
