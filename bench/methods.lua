-- A million method calls on an object (o:f(x))
local o = {n = 0}
function o:f(x) self.n = self.n + x end
for _ = 1, 1000000 do o:f(2) end
print(o.n)
