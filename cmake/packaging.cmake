# Packages of what "cmake --install" installs: on Linux three .deb files, one per install component
# (installed under /usr), a .zip of everything per Windows architecture. They land in the build's
# packages/ folder.
set(CPACK_PACKAGE_NAME vudaduv)
set(CPACK_PACKAGE_VENDOR "The vudaduv developers")
set(CPACK_PACKAGE_CONTACT "${VUDADUV_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_FILE_NAME vudaduv-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Each package's description below begins with a synopsis of its own; CPack would put the
# project's in front of it unless the summary is left at CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_COMPONENTS_ALL libraries development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VUDADUV_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The C and C++ runtimes the programs need, as dpkg-shlibdeps finds them; the tool's own
# libraries are found in the build, and are depended on by name below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(exact_version "= ${VUDADUV_DEBIAN_VERSION}")

set(CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME ${VUDADUV_DEBIAN_PACKAGE_libraries})
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_LIBRARIES_DESCRIPTION "library to download data to label-printing scales
libvudaduv turns an application's data lines (items, text messages, label
texts, key tables, the clock) into a label-printing scale's command lines,
sends them over TCP or a serial line and rewrites the scale's replies into
upload lines that can be edited and sent again.
.
This package holds the shared libraries: libvudaduv and its two transport
libraries, libwqdatasend (TCP) and libwqcommsend (serial), and
libvudaduv_fleet, which keeps many scales in step with one list.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${VUDADUV_DEBIAN_PACKAGE_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${VUDADUV_DEBIAN_PACKAGE_libraries} (${exact_version})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "library to download data to label-printing scales - development files
libvudaduv turns an application's data lines into a label-printing scale's
command lines, sends them over TCP or a serial line and reads the replies back.
.
This package holds the C headers, the links to the shared libraries, the
CMake package (find_package(vudaduv)) and the pkg-config files.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${VUDADUV_DEBIAN_PACKAGE_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${VUDADUV_DEBIAN_PACKAGE_libraries} (${exact_version})")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "download data to label-printing scales and read it back
The vudaduv command-line tool sends data files to label-printing scales on
the network or on a serial line, checks data lines before they are sent,
encodes and decodes command lines, and runs virtual scales for trials.
.
The package also holds the library's C example.")

include(CPack)
