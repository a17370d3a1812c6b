# Writes the bytes of INPUT as a C initializer list (NUL-terminated) into
# OUTPUT, for embedding Zol data files in the executable.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "${bytes}0x00\n")
