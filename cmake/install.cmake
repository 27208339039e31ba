# What "cmake --install" puts where: the three libraries, the headers and the tool everywhere;
# on Linux also the CMake package (find_package(vudaduv) gives vudaduv::vudaduv,
# vudaduv::wqdatasend and vudaduv::wqcommsend), pkg-config files, the manual page and the docs;
# on Windows the README and the licence beside the folders, as the zip holds them.
install(TARGETS vudaduv wqdatasend wqcommsend
  EXPORT vudaduvTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/vudaduv.h include/wqdatasend.h include/wqcommsend.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET vudaduv_cli)
  install(TARGETS vudaduv_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(WIN32)
  install(FILES README.md LICENSE DESTINATION .)
  return()
endif()

install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
# A nightly sync under systemd, as an example to copy and adjust.
install(FILES examples/systemd/vudaduv-sync.service examples/systemd/vudaduv-sync.timer
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/systemd)
if(TARGET vudaduv_cli)
  configure_file(docs/vudaduv.1.in ${CMAKE_CURRENT_BINARY_DIR}/vudaduv.1 @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vudaduv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

include(CMakePackageConfigHelpers)
set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vudaduv)
install(EXPORT vudaduvTargets NAMESPACE vudaduv:: DESTINATION ${package_dir})
configure_package_config_file(cmake/vudaduvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfig.cmake INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/vudaduvConfigVersion.cmake DESTINATION ${package_dir})

# pkg-config files that find the prefix from their own place, so that an installed tree can be
# moved whole.
set(pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH PKGCONFIG_TO_PREFIX /${pkgconfig_dir} /)
foreach(library vudaduv wqdatasend wqcommsend)
  set(PKGCONFIG_NAME ${library})
  if(library STREQUAL "vudaduv")
    set(PKGCONFIG_DESCRIPTION "${PROJECT_DESCRIPTION}")
  elseif(library STREQUAL "wqdatasend")
    set(PKGCONFIG_DESCRIPTION "TCP transport of the vudaduv library")
  else()
    set(PKGCONFIG_DESCRIPTION "Serial transport of the vudaduv library")
  endif()
  configure_file(cmake/library.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${library}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${library}.pc DESTINATION ${pkgconfig_dir})
endforeach()
