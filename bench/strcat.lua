-- One million one-character appends to a string. Lua strings are immutable:
-- its growable string is a table of pieces joined at the end.
local t = {}
for _ = 1, 1000000 do t[#t + 1] = "a" end
local s = table.concat(t)
print(#s)
