# Checks one DLL with objdump -p: its export table names exactly EXPECTED (plain names, no
# decoration), and it imports from no DLL outside ALLOWED (the system's and our own). Both lists
# come comma-separated.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" EXPECTED "${EXPECTED}")
string(REPLACE "," ";" ALLOWED "${ALLOWED}")

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump could not read ${DLL}")
endif()
# Square brackets mean something in CMake lists: trade them for parentheses before parsing.
string(REPLACE "[" "(" dump "${dump}")
string(REPLACE "]" ")" dump "${dump}")

string(REGEX MATCH "\\(Ordinal/Name Pointer\\) Table[^\n]*\n(([ \t]+\\([ 0-9]+\\) [^\n]+\n)*)"
       table "${dump}")
string(REGEX MATCHALL "\\) [^\n]+" entries "${CMAKE_MATCH_1}")
set(exported "")
foreach(entry IN LISTS entries)
  string(SUBSTRING "${entry}" 2 -1 name)
  list(APPEND exported "${name}")
endforeach()
list(SORT exported)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${DLL} exports [${exported}], expected [${expected}]")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(SUBSTRING "${import}" 10 -1 name)
  string(TOUPPER "${name}" name)
  if(NOT name IN_LIST ALLOWED)
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a system DLL")
  endif()
endforeach()
message(STATUS "${DLL}: exports [${exported}], imports only system DLLs")
