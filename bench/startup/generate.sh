#!/usr/bin/env bash
# Writes a 200-entry configuration, startup.ns, and its Lua 5.4 twin, startup.lua, into DIR
# (default: the current folder). The configuration is written out call by call, as users write
# theirs: 150 swap entries (some with modifiers, orientations and holds) and 50 exec entries.
# The twin builds the same table with the same calls and prints it exactly as `keytwine check`
# does, so that the two whole processes do the same work and their outputs can be compared.
#   bench/startup/generate.sh [DIR]
set -euo pipefail
dir=${1:-.}
mkdir -p "$dir"

calls() {
  echo 'setholdduration(600);'
  echo 'useimetoggle(1);'
  echo 'debugmode(0);'
  for ((i = 0; i < 150; i++)); do
    printf 'swap(%d, %d, %d, 0x%x, 0x%x, 0x%x, 0x%x);\n' $((i % 3)) $((i % 7)) $((i % 5 == 0)) \
      $((0x30 + i % 0x60)) $((i + 1)) $((0x41 + i % 26)) $(((i % 4) * 0x10))
  done
  for ((i = 0; i < 50; i++)); do
    printf 'exec(0, %d, 0, 0x%x, 0x%x, "\\\\Program Files\\\\Tool%d\\\\tool%d.exe", "-n %d");\n' \
      $((i % 2)) $((0x70 + i % 24)) $((0x3b + i)) "$i" "$i" "$i"
  done
}

{
  echo '// 200 entries for the start-up benchmark (bench/startup/generate.sh wrote this file).'
  calls
} > "$dir/startup.ns"

{
  cat <<'LUA'
-- The Lua twin of startup.ns (bench/startup/generate.sh wrote this file): builds the same table
-- and prints it as `keytwine check` prints its table.
local settings = {useImeToggle = 1, holdDuration = 500, debugMode = 0}
local entries = {}
function setholdduration(ms) settings.holdDuration = ms end
function useimetoggle(on) settings.useImeToggle = on end
function debugmode(on) settings.debugMode = on end
local function byte(n) return n & 0xff end
function swap(orientation, modifier, hold, vk, scan, k1, k2, k3, k4)
  entries[#entries + 1] = {type = "swap", orientation = orientation, modifier = modifier,
    hold = hold, vk = byte(vk), scan = byte(scan),
    keys = {byte(k1), byte(k2 or 0), byte(k3 or 0), byte(k4 or 0)}}
end
function exec(orientation, modifier, hold, vk, scan, path, parameters)
  entries[#entries + 1] = {type = "exec", orientation = orientation, modifier = modifier,
    hold = hold, vk = byte(vk), scan = byte(scan), path = path, parameters = parameters or ""}
end
LUA
  calls
  cat <<'LUA'
-- Printed with a table of the 256 byte codes in hex and one concatenation per line, which is
-- Lua's quickest way to this text.
local hex = {}
for b = 0, 255 do hex[b] = string.format("0x%x", b) end
local out = {"useImeToggle=", settings.useImeToggle, "\nholdDuration=", settings.holdDuration,
  "\ndebugMode=", settings.debugMode, "\n"}
for i, e in ipairs(entries) do
  local line = (i - 1) .. " " .. e.type .. " orientation=" .. e.orientation .. " modifier=" ..
    e.modifier .. " hold=" .. e.hold .. " vk=" .. hex[e.vk] .. " scan=" .. hex[e.scan]
  if e.type == "exec" then
    out[#out + 1] = line .. ' path="' .. e.path .. '" parameters="' .. e.parameters .. '"\n'
  else
    local k = e.keys
    out[#out + 1] = line .. " keys=" .. hex[k[1]] .. "," .. hex[k[2]] .. "," .. hex[k[3]] .. "," ..
      hex[k[4]] .. "\n"
  end
end
io.write(table.concat(out))
LUA
} | sed 's/;$//' > "$dir/startup.lua"
