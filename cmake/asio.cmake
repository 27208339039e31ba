# Standalone Asio (Debian's libasio-dev, header-only): the event loop of the TCP transport and of
# the virtual scale's fleet. Linked as the INTERFACE target vudaduv_asio.
#
# The headers live in the build machine's /usr/include. A cross-build for Windows must not search
# that folder (its C library headers would shadow MinGW's), so it gets a folder of its own that
# holds links to the Asio headers alone.
find_path(VUDADUV_ASIO_INCLUDE_DIR asio.hpp
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT VUDADUV_ASIO_INCLUDE_DIR)
  vudaduv_missing_package("Standalone Asio (asio.hpp)" libasio-dev)
endif()

set(asio_include_dir ${VUDADUV_ASIO_INCLUDE_DIR})
if(CMAKE_CROSSCOMPILING)
  set(asio_include_dir ${CMAKE_BINARY_DIR}/asio-include)
  file(MAKE_DIRECTORY ${asio_include_dir})
  file(CREATE_LINK ${VUDADUV_ASIO_INCLUDE_DIR}/asio.hpp ${asio_include_dir}/asio.hpp SYMBOLIC)
  file(CREATE_LINK ${VUDADUV_ASIO_INCLUDE_DIR}/asio ${asio_include_dir}/asio SYMBOLIC)
endif()

find_package(Threads REQUIRED)
add_library(vudaduv_asio INTERFACE)
target_include_directories(vudaduv_asio SYSTEM INTERFACE ${asio_include_dir})
# How the project's event loops are made, one header beside Asio for every floor that runs one.
target_include_directories(vudaduv_asio INTERFACE ${PROJECT_SOURCE_DIR}/transport/asio_loop)
target_compile_definitions(vudaduv_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(vudaduv_asio INTERFACE Threads::Threads)
if(WIN32)
  # Windows 7 and later: I/O completion ports with the calls Asio takes from Vista on.
  target_compile_definitions(vudaduv_asio INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(vudaduv_asio INTERFACE ws2_32 mswsock)
  # Asio takes POSIX threads when <pthread.h> came before its configuration (MinGW's standard
  # library brings it in through <memory>) and Windows threads otherwise. Two files of one
  # program that decided differently start a thread of one kind and join it as the other: the
  # loop's timer thread then outlives its loop and writes into freed memory. Its configuration
  # is read first in every file, so every file takes Windows threads.
  target_compile_options(vudaduv_asio INTERFACE
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include asio/detail/config.hpp>")
endif()
