# Build, copy and insert into lists of 1,000 records, 200 times
total = 0
for _ in range(200):
    recs = []
    for i in range(1, 1001):
        recs.append([i, str(i), i * 2])
    c = list(recs)
    c.insert(0, [0, "0", 0])
    total += len(c)
    for r in c:
        total += r[2]
print(total)
