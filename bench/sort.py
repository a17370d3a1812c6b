# Sort one million integers from a linear congruential generator
x = 42
t = []
for _ in range(1000000):
    x = (x * 1029 + 12345) % 1048576
    t.append(x)
t.sort()
print(t[0], t[499999], t[999999])
