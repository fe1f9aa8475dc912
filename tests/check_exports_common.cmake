# What both export checks share: the entry points of the export map, and their comparison with the names a
# library exports.

# Fails the check unless `actual` holds exactly the names of the export map `map_file` ("    Name;" lines), in any
# order; `what` names the compared names in the message.
function(brantel_expect_export_map_names map_file what actual)
  file(STRINGS ${map_file} map_lines REGEX "^ +[A-Za-z_][A-Za-z0-9_]*;$")
  set(expected "")
  foreach(line ${map_lines})
    string(STRIP "${line}" line)
    string(REPLACE ";" "" line "${line}")
    list(APPEND expected ${line})
  endforeach()
  list(SORT expected)
  list(SORT actual)
  if(NOT expected STREQUAL actual)
    message(FATAL_ERROR "${what} differ.\nexpected: ${expected}\nactual:   ${actual}")
  endif()
  message(STATUS "Exports: ${actual}")
endfunction()
