-- A million rounds of the small series functions: first, last, empty?
local b = {3, 1, 4, 1, 5}
local e = {}
local sum = 0
for _ = 1, 1000000 do
  sum = sum + b[1] + b[#b]
  if #e == 0 then sum = sum + 1 end
end
print(sum)
