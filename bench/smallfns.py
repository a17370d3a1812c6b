# A million rounds of the small series functions: first, last, empty?
b = [3, 1, 4, 1, 5]
e = []
s = 0
for _ in range(1000000):
    s = s + b[0] + b[-1]
    if len(e) == 0:
        s = s + 1
print(s)
