-- A while loop summing 0..9,999,999
local i, sum = 0, 0
while i < 10000000 do sum = sum + i; i = i + 1 end
print(sum)
