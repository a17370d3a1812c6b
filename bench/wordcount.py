# Count one million words drawn from a 1,000-word vocabulary in a dict
vocab = ["w%d" % i for i in range(1, 1001)]
counts = {}
x = 42
for _ in range(1000000):
    x = (x * 1029 + 12345) % 1048576
    w = vocab[x % 1000]
    counts[w] = counts.get(w, 0) + 1
print(len(counts), counts["w1"], counts["w1000"])
