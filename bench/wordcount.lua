-- Count one million words drawn from a 1,000-word vocabulary in a table
local vocab = {}
for i = 1, 1000 do vocab[i] = "w" .. i end
local counts, n, x = {}, 0, 42
for _ = 1, 1000000 do
  x = (x * 1029 + 12345) % 1048576
  local w = vocab[x % 1000 + 1]
  counts[w] = (counts[w] or 0) + 1
end
for _ in pairs(counts) do n = n + 1 end
print(n, counts["w1"], counts["w1000"])
