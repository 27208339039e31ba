# find_package for what the build cannot do without, failing with the Debian packages to install
# rather than CMake's generic advice:
#   vudaduv_require_package(<name> DEBIAN <package>... [FIND <find_package arguments>...])
#   vudaduv_require_package(nlohmann_json DEBIAN nlohmann-json3-dev FIND 3.10)
function(vudaduv_require_package name)
  cmake_parse_arguments(PARSE_ARGV 1 REQUIRE "" "" "DEBIAN;FIND")
  find_package(${name} ${REQUIRE_FIND} QUIET)
  if(NOT ${name}_FOUND)
    vudaduv_missing_package(${name} ${REQUIRE_DEBIAN})
  endif()
endfunction()

# Stops the configure step, naming what is missing and the Debian packages that bring it.
function(vudaduv_missing_package what)
  list(JOIN ARGN " " packages)
  message(FATAL_ERROR "${what} not found: install the Debian package(s) ${packages} "
    "(apt-get install ${packages}; scripts/setup --tests installs everything the build and "
    "the tests need)")
endfunction()
