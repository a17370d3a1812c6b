# Writes the SHA-256 of each file of FILES (separated by "|"), one a line, into OUTPUT: what a
# boot image was written from, so images of other builds are compared only
# when they came from the same text.
string(REPLACE "|" ";" FILES "${FILES}")
set(out "")
foreach(f ${FILES})
  file(SHA256 ${f} h)
  get_filename_component(name ${f} NAME)
  string(APPEND out "${h} ${name}\n")
endforeach()
file(WRITE ${OUTPUT} "${out}")
