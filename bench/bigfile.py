# A 100 MB text written to a file and read back as text and as bytes (lines
# end in CR LF on disk, LF in memory).
line = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz.\n"
s = line * 1000000
with open("build/bench-bigfile.txt", "w", newline="\r\n") as f:
    f.write(s)
with open("build/bench-bigfile.txt", "rb") as f:
    b = f.read()
with open("build/bench-bigfile.txt", "r", newline=None) as f:
    t = f.read()
import os
os.remove("build/bench-bigfile.txt")
print(len(t), len(b), "true" if t == s else "false")
