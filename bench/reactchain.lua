-- A chain of 1,000 observed objects, each one's field following the one before.
local n = 1000
local chain = {}
for i = 1, n do chain[i] = {v = 0, reactions = {}} end
local function set(o, value)
  o.v = value
  for _, r in ipairs(o.reactions) do r() end
end
for i = 1, n - 1 do
  local a, b = chain[i], chain[i + 1]
  table.insert(a.reactions, function() set(b, a.v + 1) end)
end
local sum = 0
for k = 1, 20 do
  set(chain[1], k)
  sum = sum + chain[n].v
end
print(sum)
