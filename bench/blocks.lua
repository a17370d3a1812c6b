-- Build, copy and insert into arrays of 1,000 records, 200 times
local total = 0
for _ = 1, 200 do
  local recs = {}
  for i = 1, 1000 do recs[#recs + 1] = {i, tostring(i), i * 2} end
  local c = table.move(recs, 1, #recs, 1, {})
  table.insert(c, 1, {0, "0", 0})
  total = total + #c
  for _, r in ipairs(c) do total = total + r[3] end
end
print(total)
