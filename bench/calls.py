# A million calls of a 3-argument function that returns with return
def f(a, b, c):
    return a + b + c
x = 0
for _ in range(1000000):
    x = f(x, 2, -1)
print(x)
