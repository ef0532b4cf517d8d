-- The work of the executor's micro-benchmarks (engine_bench.cc) in Lua 5.4. Each case runs
-- repeatedly for about half a second; prints one line per case: name, microseconds per run and
-- what the case computed (the same value the script version prints).
--   lua5.4 bench.lua CASE RUNS runs one case exactly RUNS times, for instruction counts
--   (valgrind --tool=callgrind) that are not timing noise.
local cases = {}

cases.count_loop = function()
  local s = 0
  for i = 0, 59999 do s = s + i end
  return tostring(s)
end

local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
cases.fib = function() return tostring(fib(20)) end

cases.string_build = function()
  local s = ""
  for i = 0, 999 do s = s .. "<" .. i .. ">" end
  return string.find(s, "<999>$") and "1" or "0"
end

local function list_fill_lookup(n)
  local l, h = {}, {}
  for i = 0, n - 1 do l[i] = i; h["k" .. i] = i end
  local t = 0
  for i = 0, n - 1 do t = t + l[i] + h["k" .. i] end
  return tostring(t)
end
cases.list_fill_lookup = function() return list_fill_lookup(1000) end
cases.list_fill_lookup_10x = function() return list_fill_lookup(10000) end

cases.named_elements = function()
  local h = {}
  for i = 0, 1999 do h["k" .. i] = i end
  local t = 0
  for i = 0, 1999 do t = t + h["k" .. i] end
  return tostring(t)
end

local function add(a, b, c) return a + b + c end
cases.calls = function()
  local s = 0
  for i = 0, 4999 do s = add(s, i, 1) end
  return tostring(s)
end

cases.captures = function()
  local n, k, v = 0, nil, nil
  for i = 0, 999 do
    k, v = string.match("name" .. i .. ":" .. i, "^(.-):(.*)$")
    n = n + tonumber(v)
  end
  return n .. k
end

cases.pattern_loop = function()
  local n, k, v = 0, nil, nil
  for i = 0, 999 do
    k, v = string.match("key" .. i .. "=value" .. i, "^(.-)=(.*)$")
    if string.find("line " .. i, "^line %d+$") then n = n + 1 end
  end
  return n .. k .. v
end

local order = {
  "count_loop", "fib", "calls", "string_build", "list_fill_lookup", "list_fill_lookup_10x",
  "named_elements", "pattern_loop", "captures",
}
if arg[1] then
  local result
  for _ = 1, tonumber(arg[2] or 1) do result = cases[arg[1]]() end
  print(arg[1], result)
  return
end
for _, name in ipairs(order) do
  local run = cases[name]
  local result = run()
  local runs, start = 0, os.clock()
  repeat
    run()
    runs = runs + 1
  until os.clock() - start >= 0.5
  print(string.format("%s %.3f %s", name, (os.clock() - start) * 1e6 / runs, result))
end
