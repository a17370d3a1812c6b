-- Split a 10 MB text into words with a pattern
local words = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"}
local seps = {" ", ", ", ". ", "\n"}
local parts, len, x = {}, 0, 42
while len < 100000 do
  x = (x * 1029 + 12345) % 1048576
  local w, s = words[x % 6 + 1], seps[x % 4 + 1]
  parts[#parts + 1] = w; parts[#parts + 1] = s
  len = len + #w + #s
end
local text = string.rep(table.concat(parts), 100)
local n, total = 0, 0
for w in text:gmatch("%l+") do n = n + 1; total = total + #w end
print(n, total)
