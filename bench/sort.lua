-- Sort one million integers from a linear congruential generator
-- x' = (1029 x + 12345) mod 2^20
local x, t = 42, {}
for i = 1, 1000000 do x = (x * 1029 + 12345) % 1048576; t[i] = x end
table.sort(t)
print(t[1], t[500000], t[1000000])
