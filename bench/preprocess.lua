-- The same 10,000 lines as preprocess.zol, split into tokens and rewritten:
-- #if and #either keep the chosen bracketed part, #do runs and disappears,
-- `dbl v` becomes `v * 2`.
local lines = {}
for i = 1, 2500 do
  lines[#lines + 1] = "#if " .. (i % 2) .. " = 0 [x: x + " .. i .. "]"
  lines[#lines + 1] = "#either " .. i .. " > 1250 [y: " .. i .. "] [y: 0]"
  lines[#lines + 1] = "z: dbl " .. i
  lines[#lines + 1] = "#do [n: " .. i .. "]"
end
local text = table.concat(lines, "\n")
local toks = {}
for t in text:gsub("%[", " [ "):gsub("%]", " ] "):gmatch("%S+") do toks[#toks + 1] = t end
local out, i, n = {}, 1, 0
local function block(j) -- the tokens of the bracketed part at j, and the index after it
  local part, k = {}, j + 1
  while toks[k] ~= "]" do part[#part + 1] = toks[k]; k = k + 1 end
  return part, k + 1
end
local function append(part) for _, t in ipairs(part) do out[#out + 1] = t end end
while i <= #toks do
  local t = toks[i]
  if t == "#if" then
    local a, b = tonumber(toks[i + 1]), tonumber(toks[i + 3])
    local part, k = block(i + 4)
    if a == b then append(part) end
    i = k
  elseif t == "#either" then
    local a, b = tonumber(toks[i + 1]), tonumber(toks[i + 3])
    local yes, k = block(i + 4)
    local no, k2 = block(k)
    append(a > b and yes or no)
    i = k2
  elseif t == "#do" then
    local part, k = block(i + 1)
    n = tonumber(part[2])
    i = k
  elseif t == "dbl" then
    append({toks[i + 1], "*", "2"})
    i = i + 2
  else
    out[#out + 1] = t
    i = i + 1
  end
end
print(#out)
