# Checks that a shared library exports exactly the expected functions.
# cmake -DNM=<nm> -DLIBRARY=<file> -DEXPECTED=<name;name;...> -P check_exports.cmake
execute_process(
  COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
  # "address type name"; version definitions (type A) are not functions.
  if(line MATCHES "^[0-9a-fA-F]* +([^A ]) +([^ @]+)")
    list(APPEND names "${CMAKE_MATCH_2}")
  endif()
endforeach()
list(SORT names)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
