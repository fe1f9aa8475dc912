# Compares the dynamic symbols the library defines with the names of the export map.
include(${CMAKE_CURRENT_LIST_DIR}/check_exports_common.cmake)

execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(actual "")
foreach(line ${nm_lines})
  if(line MATCHES "^[0-9a-f]+ [A-Za-z] (.+)$")
    set(name ${CMAKE_MATCH_1})
    # Version nodes are not symbols of ours.
    if(NOT name MATCHES "^(VERS_|GLIBC)")
      list(APPEND actual ${name})
    endif()
  endif()
endforeach()
brantel_expect_export_map_names(${EXPECTED} "Exported symbols" "${actual}")
