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

cases.list_fill_lookup = function()
  local l, h = {}, {}
  for i = 0, 999 do l[i] = i; h["k" .. i] = i end
  local t = 0
  for i = 0, 999 do t = t + l[i] + h["k" .. i] end
  return tostring(t)
end

cases.pattern_loop = function()
  local n, k, v = 0, nil, nil
  for i = 0, 999 do
    k, v = string.match("key" .. i .. "=value" .. i, "^(.-)=(.*)$")
    if string.find("line " .. i, "^line %d+$") then n = n + 1 end
  end
  return n .. k .. v
end

local order = {"count_loop", "fib", "string_build", "list_fill_lookup", "pattern_loop"}
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
