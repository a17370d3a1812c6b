# One million one-character appends to a string (a growable buffer).
s = bytearray()
for _ in range(1000000):
    s += b"a"
print(len(s))
