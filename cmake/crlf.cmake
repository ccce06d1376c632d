# Copies the text file IN to OUT with CR LF line ends and, when VERSION is
# given, the project's version in place of @PROJECT_VERSION@.
file(READ "${IN}" text)
if(DEFINED VERSION)
  string(REPLACE "@PROJECT_VERSION@" "${VERSION}" text "${text}")
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
