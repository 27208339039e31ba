# Checks one DLL with objdump -p: its export table names exactly EXPECTED (plain names, no
# decoration), and it imports from no DLL outside ALLOWED (the system's and our own). Both lists
# come comma-separated. Then its version resource: the file and product version, both as numbers
# and as text, are VERSION.
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

# A 16-bit little-endian number at byte OFFSET of the hex dump, as a decimal number.
function(read_word hex offset out)
  math(EXPR at "${offset} * 2")
  string(SUBSTRING "${hex}" ${at} 4 bytes)
  string(SUBSTRING "${bytes}" 0 2 low)
  string(SUBSTRING "${bytes}" 2 2 high)
  math(EXPR value "0x${high}${low}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# The numbers of VS_FIXEDFILEINFO, which follow its signature 0xFEEF04BD: a version is two
# 32-bit numbers, each the high word first in meaning and last in memory.
function(read_version hex offset out)
  math(EXPR major_at "${offset} + 2")
  math(EXPR patch_at "${offset} + 6")
  math(EXPR build_at "${offset} + 4")
  read_word("${hex}" ${major_at} major)
  read_word("${hex}" ${offset} minor)
  read_word("${hex}" ${patch_at} patch)
  read_word("${hex}" ${build_at} build)
  set(${out} "${major}.${minor}.${patch}.${build}" PARENT_SCOPE)
endfunction()

file(READ ${DLL} hex HEX)
string(FIND "${hex}" "bd04effe" signature)
math(EXPR odd "${signature} % 2")
if(signature EQUAL -1 OR odd)
  message(FATAL_ERROR "${DLL} has no version resource")
endif()
math(EXPR file_version_at "${signature} / 2 + 8")
math(EXPR product_version_at "${signature} / 2 + 16")
read_version("${hex}" ${file_version_at} file_version)
read_version("${hex}" ${product_version_at} product_version)
if(NOT file_version STREQUAL "${VERSION}.0" OR NOT product_version STREQUAL "${VERSION}.0")
  message(FATAL_ERROR
    "${DLL} has file version ${file_version} and product version ${product_version}, not ${VERSION}")
endif()
# The same as text in the string table: each key, its NUL (and padding to four bytes), then the
# value and its NUL, all in UTF-16LE.
function(utf16 text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} ${hex} PARENT_SCOPE)
endfunction()
utf16(${VERSION} version_text)
foreach(key FileVersion ProductVersion)
  utf16(${key} key_text)
  if(NOT hex MATCHES "${key_text}0000(0000)?${version_text}0000")
    message(FATAL_ERROR "${DLL} has no ${key} '${VERSION}' in its version resource")
  endif()
endforeach()

message(STATUS "${DLL}: exports [${exported}], imports only system DLLs, version ${VERSION}")
