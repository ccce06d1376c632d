# Writes DIST/SHA256SUMS for the FILES in DIST (names separated by commas), in
# the form sha256sum -c reads.
string(REPLACE "," ";" FILES "${FILES}")
set(sums "")
foreach(name IN LISTS FILES)
  file(SHA256 "${DIST}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${DIST}/SHA256SUMS" "${sums}")
