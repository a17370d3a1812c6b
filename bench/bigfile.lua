-- A 100 MB text written to a file and read back as text and as bytes: lines
-- end in CR LF on disk and in LF in memory, as the Zol program's do.
local line = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz.\n"
local s = string.rep(line, 1000000)
local f = assert(io.open("build/bench-bigfile.txt", "wb"))
f:write((s:gsub("\n", "\r\n")))
f:close()
f = assert(io.open("build/bench-bigfile.txt", "rb"))
local b = f:read("a")
f:close()
local t = b:gsub("\r\n", "\n")
os.remove("build/bench-bigfile.txt")
print(#t, #b, t == s)
