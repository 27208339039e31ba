# Installs the build into a fresh prefix (or takes PREFIX, where packages were unpacked) and builds
# two consumers against that copy, one through find_package(vudaduv), one through pkg-config, then
# runs them and the installed tool. The fleet example installed with the documentation is built
# through pkg-config too and syncs three of the installed tool's virtual scales and one that is
# off.
cmake_minimum_required(VERSION 3.25)

# Runs a command; stops with its output when it fails. Leaves its standard output in `output`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    message(FATAL_ERROR "failed (${failed}): ${ARGN}\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
if(DEFINED PREFIX)
  set(prefix ${PREFIX})
else()
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()

run(${prefix}/bin/vudaduv --version)
if(NOT output STREQUAL "vudaduv ${VERSION}\n")
  message(FATAL_ERROR "the installed tool says '${output}', not 'vudaduv ${VERSION}'")
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/find_package -G ${GENERATOR}
  -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/find_package)
run(${WORK_DIR}/find_package/consumer)
message(STATUS "find_package consumer: ${output}")

# Only the installed pkg-config files, none of the system's.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
run(${PKG_CONFIG} --modversion vudaduv)
if(NOT output STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config gives version '${output}', not ${VERSION}")
endif()
run(${PKG_CONFIG} --cflags --libs vudaduv wqdatasend wqcommsend vudaduv-fleet)
separate_arguments(flags UNIX_COMMAND "${output}")
run(${C_COMPILER} ${CONSUMER_DIR}/consumer.c ${flags} -o ${WORK_DIR}/pkg_config_consumer)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/pkg_config_consumer)
message(STATUS "pkg-config consumer: ${output}")

set(example ${prefix}/share/doc/vudaduv/examples/fleet_sync.c)
run(${PKG_CONFIG} --cflags --libs vudaduv-fleet)
separate_arguments(flags UNIX_COMMAND "${output}")
run(${C_COMPILER} ${example} ${flags} -o ${WORK_DIR}/fleet_sync)
run(${CMAKE_CURRENT_LIST_DIR}/../examples/run_fleet_example.sh ${prefix}/bin/vudaduv
  ${WORK_DIR}/fleet_sync)
message(STATUS "the installed fleet example:\n${output}")
