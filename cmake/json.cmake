# nlohmann-json (Debian's nlohmann-json3-dev, header-only): the tool's JSON reports. Linked as
# the INTERFACE target vudaduv_json.
#
# As with Asio, a cross-build for Windows must not search the build machine's /usr/include, so it
# gets a folder of its own that holds a link to the nlohmann headers alone.
find_path(VUDADUV_JSON_INCLUDE_DIR nlohmann/json.hpp
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT VUDADUV_JSON_INCLUDE_DIR)
  message(FATAL_ERROR "nlohmann-json not found: install it (Debian: apt-get install nlohmann-json3-dev)")
endif()

set(json_include_dir ${VUDADUV_JSON_INCLUDE_DIR})
if(CMAKE_CROSSCOMPILING)
  set(json_include_dir ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${json_include_dir})
  file(CREATE_LINK ${VUDADUV_JSON_INCLUDE_DIR}/nlohmann ${json_include_dir}/nlohmann SYMBOLIC)
endif()

add_library(vudaduv_json INTERFACE)
target_include_directories(vudaduv_json SYSTEM INTERFACE ${json_include_dir})
