-- One million rounds of first, last and empty? (as functions) on arrays
local function first(s) return s[1] end
local function last(s) return s[#s] end
local function empty(s) return #s == 0 end
local b, e, n = {1, 2, 3, 4, 5}, {}, 0
for _ = 1, 1000000 do
  n = n + first(b) + last(b)
  if empty(e) then n = n + 1 end
end
print(n)
