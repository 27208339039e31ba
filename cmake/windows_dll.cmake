# Windows DLL naming and exports: the DLL is NAME.dll, its exports are listed in a
# module-definition file made from DEF_TEMPLATE, and on 32-bit Windows the __stdcall decoration
# (@0, @4, @8, ...) is removed from the exported names, so callers find them by their plain
# names. The import library keeps the decorated names that a C compiler asks for. Each DLL carries
# the project's version as a version resource.
function(vudaduv_windows_dll target name def_template)
  if(NOT WIN32)
    return()
  endif()
  set(DLL_NAME ${name})
  set(def_file ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    foreach(bytes 0 4 8 12 16 20 24 28)
      set(STDCALL_${bytes} "@${bytes}")
    endforeach()
    target_link_options(${target} PRIVATE "-Wl,--kill-at")
    # The linker's import library would carry the plain names too; dlltool's keeps the
    # decorated ones that callers compiled with __stdcall look for.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} --kill-at --def ${def_file} --dllname ${name}.dll
              --output-lib $<TARGET_LINKER_FILE:${target}>
      VERBATIM)
  else()
    foreach(bytes 0 4 8 12 16 20 24 28)
      set(STDCALL_${bytes} "")
    endforeach()
  endif()
  configure_file(${def_template} ${def_file})
  if(name STREQUAL "VUDADUV")
    set(DLL_DESCRIPTION "vudaduv: data lines to label scales and back")
  elseif(name STREQUAL "VUDADUV_FLEET")
    set(DLL_DESCRIPTION "vudaduv: many scales in step with one list")
  else()
    set(DLL_DESCRIPTION "vudaduv: the ${name} transport")
  endif()
  set(version_resource ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${version_resource} @ONLY)
  target_sources(${target} PRIVATE ${def_file} ${version_resource})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} PREFIX "" IMPORT_PREFIX "lib")
endfunction()
