# Writes OUT, a header that names the commit the bundle is built from, for
# its report: git's name of HEAD in SOURCE, "with changes not committed"
# when tracked files differ from it, or why no commit can be named. Written
# only when that changes, so that an unchanged commit builds nothing again.
execute_process(COMMAND git -C "${SOURCE}" rev-parse HEAD
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed ERROR_QUIET)
if(failed)
  set(commit "unknown: the bundle was not built from a git checkout")
else()
  execute_process(COMMAND git -C "${SOURCE}" status --porcelain --untracked-files=no
    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT changes STREQUAL "")
    string(APPEND commit " with changes not committed")
  endif()
endif()
set(text "#define MODLAUNCHER_BUNDLE_COMMIT \"${commit}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
