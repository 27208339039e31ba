# What "cmake --install" puts where: the libraries, the headers and the tool everywhere; on Linux
# also the CMake package (find_package(vudaduv) gives vudaduv::vudaduv, vudaduv::wqdatasend,
# vudaduv::wqcommsend and vudaduv::fleet), pkg-config files, the manual page and the docs;
# on Windows the README, the licence, the changelog and the docs beside the folders, as the zip
# holds them.
#
# Every rule belongs to one of three components, each a Debian package of its own:
#   libraries    the shared libraries                       libvudaduv1
#   development  headers, .so links, CMake and pkg-config   libvudaduv-dev
#   tool         the tool, its manual page, the examples    vudaduv
set(VUDADUV_DEBIAN_PACKAGE_libraries libvudaduv${PROJECT_VERSION_MAJOR})
set(VUDADUV_DEBIAN_PACKAGE_development libvudaduv-dev)
set(VUDADUV_DEBIAN_PACKAGE_tool vudaduv)
set(VUDADUV_DEBIAN_VERSION ${PROJECT_VERSION}-1)
set(VUDADUV_MAINTAINER "The vudaduv developers <vudaduv@example.org>" CACHE STRING
  "Maintainer of the Debian packages, \"name <address>\"")

set(VUDADUV_INSTALLED_LIBRARIES vudaduv wqdatasend wqcommsend)
set(VUDADUV_INSTALLED_HEADERS include/vudaduv.h include/wqdatasend.h include/wqcommsend.h)
# The fleet's C library beside them, vudaduv::fleet to CMake (built with the tools).
if(TARGET vudaduv_fleet_c)
  set_target_properties(vudaduv_fleet_c PROPERTIES EXPORT_NAME fleet)
  list(APPEND VUDADUV_INSTALLED_LIBRARIES vudaduv_fleet_c)
  list(APPEND VUDADUV_INSTALLED_HEADERS include/vudaduv_fleet_c.h)
endif()
install(TARGETS ${VUDADUV_INSTALLED_LIBRARIES}
  EXPORT vudaduvTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libraries
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libraries
    NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${VUDADUV_INSTALLED_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(TARGET vudaduv_cli)
  install(TARGETS vudaduv_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()

# The pages the README links to, beside it as they are in the sources.
file(GLOB VUDADUV_DOC_PAGES ${PROJECT_SOURCE_DIR}/docs/*.md)

if(WIN32)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION . COMPONENT libraries)
  install(FILES ${VUDADUV_DOC_PAGES} DESTINATION docs COMPONENT libraries)
  # The nightly job under Task Scheduler, as an example to copy and adjust.
  install(FILES examples/windows/vudaduv-sync.cmd DESTINATION examples COMPONENT libraries)
  return()
endif()

# Each package's copyright file and changelog, compressed as Debian wants them (gzip -9n: no
# name, no time stamp, so that a rebuild gives the same bytes).
find_program(VUDADUV_GZIP gzip REQUIRED)
function(vudaduv_install_compressed source destination component)
  get_filename_component(name ${source} NAME)
  execute_process(COMMAND ${VUDADUV_GZIP} -9nc ${source}
    OUTPUT_FILE ${source}.gz RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
  install(FILES ${source}.gz DESTINATION ${destination} COMPONENT ${component})
endfunction()

file(STRINGS LICENSE copyright_holder REGEX "^Copyright" LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" COPYRIGHT_HOLDER "${copyright_holder}")
file(READ LICENSE license_text)
string(REGEX REPLACE "^.*\nCopyright[^\n]*\n+" "" license_text "${license_text}")
string(REGEX REPLACE "\n+$" "" license_text "${license_text}")
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " LICENSE_TEXT " ${license_text}")
string(TIMESTAMP CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component libraries development tool)
  set(DEBIAN_PACKAGE ${VUDADUV_DEBIAN_PACKAGE_${component}})
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${DEBIAN_PACKAGE})
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/debian/${DEBIAN_PACKAGE})
  configure_file(cmake/debian/copyright.in ${generated}/copyright @ONLY)
  install(FILES ${generated}/copyright DESTINATION ${doc_dir} COMPONENT ${component})
  configure_file(cmake/debian/changelog.in ${generated}/changelog.Debian @ONLY)
  vudaduv_install_compressed(${generated}/changelog.Debian ${doc_dir} ${component})
endforeach()

install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
install(FILES ${VUDADUV_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT tool)
install(FILES examples/send_items.c examples/fleet_sync.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT tool)
# A nightly sync under systemd, as an example to copy and adjust.
install(FILES examples/systemd/vudaduv-sync.service examples/systemd/vudaduv-sync.timer
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/systemd COMPONENT tool)
if(TARGET vudaduv_cli)
  configure_file(docs/vudaduv.1.in ${CMAKE_CURRENT_BINARY_DIR}/vudaduv.1 @ONLY)
  vudaduv_install_compressed(${CMAKE_CURRENT_BINARY_DIR}/vudaduv.1 ${CMAKE_INSTALL_MANDIR}/man1
    tool)
  install(FILES tools/cli/completion/vudaduv.bash
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME vudaduv
    COMPONENT tool)
endif()

include(CMakePackageConfigHelpers)
set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vudaduv)
install(EXPORT vudaduvTargets NAMESPACE vudaduv:: DESTINATION ${package_dir}
  COMPONENT development)
configure_package_config_file(cmake/vudaduvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfig.cmake INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfigVersion.cmake DESTINATION ${package_dir}
  COMPONENT development)

# pkg-config files that find the prefix from their own place, so that an installed tree can be
# moved whole.
set(pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH PKGCONFIG_TO_PREFIX /${pkgconfig_dir} /)
set(pkgconfig_libraries vudaduv wqdatasend wqcommsend)
if(TARGET vudaduv_fleet_c)
  list(APPEND pkgconfig_libraries vudaduv_fleet)
endif()
foreach(library IN LISTS pkgconfig_libraries)
  set(PKGCONFIG_LIBRARY ${library})
  string(REPLACE "_" "-" PKGCONFIG_NAME ${library})
  if(library STREQUAL "vudaduv")
    set(PKGCONFIG_DESCRIPTION "${PROJECT_DESCRIPTION}")
  elseif(library STREQUAL "wqdatasend")
    set(PKGCONFIG_DESCRIPTION "TCP transport of the vudaduv library")
  elseif(library STREQUAL "vudaduv_fleet")
    set(PKGCONFIG_DESCRIPTION "Keeps many label scales in step with one list, from C")
  else()
    set(PKGCONFIG_DESCRIPTION "Serial transport of the vudaduv library")
  endif()
  configure_file(cmake/library.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${PKGCONFIG_NAME}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${PKGCONFIG_NAME}.pc DESTINATION ${pkgconfig_dir}
    COMPONENT development)
endforeach()
