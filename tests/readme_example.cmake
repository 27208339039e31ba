# Fails when a listing of a page differs from the file it shows: the page README (README.md or a
# page under docs/) must hold the file EXAMPLE verbatim in a fenced block of language FENCE (c
# unless given).
if(NOT DEFINED FENCE)
  set(FENCE c)
endif()
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "```${FENCE}\n${example}```" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the ${FENCE} listing in ${README} differs from ${EXAMPLE}")
endif()
