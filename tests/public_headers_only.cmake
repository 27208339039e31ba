# The tool, the virtual scale, the model and the fleet reach the codec and the transports through
# their public headers only (vudaduv_codec.h, vudaduv_transport.h, include/): no source of theirs
# includes a private folder of another library.
#   cmake -DSOURCE_DIR=... -P public_headers_only.cmake
set(private_folders encode upload send textcode platform datasend commsend c_entry core)
list(JOIN private_folders "|" alternatives)
set(found "")
foreach(floor tools model fleet)
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${floor}/*.cpp ${SOURCE_DIR}/${floor}/*.h)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} lines REGEX "^#include \"(${alternatives})/")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
      string(APPEND found "\n  ${name}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "private headers included:${found}")
endif()
