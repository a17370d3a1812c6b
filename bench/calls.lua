-- A million calls of a 3-argument function that returns with return
local function f(a, b, c) return a + b + c end
local x = 0
for _ = 1, 1000000 do x = f(x, 2, -1) end
print(x)
