# A million method calls on an object (o.f(x))
class O:
    def __init__(self):
        self.n = 0
    def f(self, x):
        self.n += x
o = O()
for _ in range(1000000):
    o.f(2)
print(o.n)
