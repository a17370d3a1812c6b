# One million rounds of first, last and empty? (as functions) on lists
def first(s): return s[0]
def last(s): return s[-1]
def empty(s): return len(s) == 0
b, e, n = [1, 2, 3, 4, 5], [], 0
for _ in range(1000000):
    n = n + first(b) + last(b)
    if empty(e): n = n + 1
print(n)
