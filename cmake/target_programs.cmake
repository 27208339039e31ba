# Whether this machine can run the programs of a cross build, found out by running one under
# the build's emulator. A 64-bit Linux kernel may be built without support for 32-bit programs,
# and Wine's 32-bit loader is one: there the 32-bit Windows programs cannot start at all, while
# the 64-bit ones run as usual.
#
# Where they cannot run, every test that would start one reports itself as skipped instead of
# failing, and CTest prints the reason when it starts; tests that run on the build machine alone
# (checks of the DLLs' export tables, imports and version resources) run as everywhere.

set(VUDADUV_SKIPPED_TEST_CODE 77)

# Sets VUDADUV_TARGET_PROGRAMS_RUN in the caller's scope, and VUDADUV_TARGET_PROGRAMS_FAILURE
# to the cause, on one line, when they do not.
function(vudaduv_check_target_programs_run)
  try_run(probe_run probe_compiled
    SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/target_probe.c
    COMPILE_OUTPUT_VARIABLE compile_output
    RUN_OUTPUT_VARIABLE run_output)
  if(NOT probe_compiled)
    message(FATAL_ERROR "the compiler cannot build a test program:\n${compile_output}")
  endif()
  if(probe_run STREQUAL "0" AND run_output MATCHES "target programs run")
    set(VUDADUV_TARGET_PROGRAMS_RUN TRUE PARENT_SCOPE)
    return()
  endif()
  string(STRIP "${run_output}" run_output)
  string(REGEX REPLACE "\n.*" "" first_line "${run_output}")
  if(probe_run STREQUAL "FAILED_TO_RUN")
    set(cause "cannot start")
  else()
    set(cause "exit status ${probe_run}")
  endif()
  if(first_line)
    string(APPEND cause ": ${first_line}")
  endif()
  set(VUDADUV_TARGET_PROGRAMS_RUN FALSE PARENT_SCOPE)
  set(VUDADUV_TARGET_PROGRAMS_FAILURE
    "the test program under ${CMAKE_CROSSCOMPILING_EMULATOR}: ${cause}" PARENT_SCOPE)
endfunction()

# Programs of the target system that cannot run here: the emulator of every program built from
# now on is replaced by one that only says "skipped".
function(vudaduv_skip_target_programs)
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh -c "exit ${VUDADUV_SKIPPED_TEST_CODE}" PARENT_SCOPE)
endfunction()

# Appends the names of the tests of DIRECTORY and of every directory below it to OUT, leaving out
# the current directory.
function(vudaduv_collect_tests directory out)
  set(found ${${out}})
  if(NOT directory STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    get_property(directory_tests DIRECTORY ${directory} PROPERTY TESTS)
    list(APPEND found ${directory_tests})
  endif()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    vudaduv_collect_tests(${subdirectory} found)
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Makes CTest count the skip code of every test of the build as "skipped", and print REASON
# when it starts. Called last in the directory whose tests CTest reads last: CTest can mark only
# the tests it has read, so the tests of the other directories are marked when CTest reads this
# one, those of this one right here.
function(vudaduv_report_skipped_tests reason)
  get_property(own_tests DIRECTORY PROPERTY TESTS)
  if(own_tests)
    set_tests_properties(${own_tests} PROPERTIES SKIP_RETURN_CODE ${VUDADUV_SKIPPED_TEST_CODE})
  endif()
  set(other_tests "")
  vudaduv_collect_tests(${PROJECT_SOURCE_DIR} other_tests)
  set(names "")
  foreach(test IN LISTS other_tests)
    string(APPEND names " [==[${test}]==]")
  endforeach()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/skipped_tests.cmake)
  file(WRITE ${script}
    "message([==[Skipped: the tests that start ${CMAKE_SYSTEM_PROCESSOR} programs, which do not "
    "run here (${reason})]==])\n"
    "set_tests_properties(${names} PROPERTIES SKIP_RETURN_CODE ${VUDADUV_SKIPPED_TEST_CODE})\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
