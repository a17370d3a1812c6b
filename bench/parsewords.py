# Split a 10 MB text into words with a regular expression
import re
words = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta"]
seps = [" ", ", ", ". ", "\n"]
parts, length, x = [], 0, 42
while length < 100000:
    x = (x * 1029 + 12345) % 1048576
    w, s = words[x % 6], seps[x % 4]
    parts += [w, s]
    length += len(w) + len(s)
text = "".join(parts) * 100
n = total = 0
for w in re.findall("[a-z]+", text):
    n += 1
    total += len(w)
print(n, total)
