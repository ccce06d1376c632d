# Writes DIST/SHA256SUMS (or DIST/OUT) for the FILES in DIST (names separated
# by commas), in the form sha256sum -c reads.
string(REPLACE "," ";" FILES "${FILES}")
set(sums "")
foreach(name IN LISTS FILES)
  file(SHA256 "${DIST}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
if(NOT DEFINED OUT)
  set(OUT SHA256SUMS)
endif()
file(WRITE "${DIST}/${OUT}" "${sums}")
