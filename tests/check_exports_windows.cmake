# The DLL's export table must hold exactly the names of the export map, undecorated (no @N, no leading
# underscore), and its import table must name only DLLs that every Windows has: the compiler's runtime
# (libstdc++, libgcc, winpthreads) is linked in, so a host needs nothing beside BrantelIPCapture.dll.
include(${CMAKE_CURRENT_LIST_DIR}/check_exports_common.cmake)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE dump_result)
if(NOT dump_result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()

string(REPLACE "\n" ";" dump_lines "${dump}")
set(actual "")
set(imports "")
set(in_names OFF)
foreach(line ${dump_lines})
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names ON)
  elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
    list(APPEND actual ${CMAKE_MATCH_1})
  elseif(in_names)
    set(in_names OFF)
  endif()
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    list(APPEND imports ${CMAKE_MATCH_1})
  endif()
endforeach()

brantel_expect_export_map_names(${EXPECTED} "Exported names" "${actual}")

# Windows' own DLLs (and the C runtime's API sets); anything else would have to ship with the module.
set(system_dll_pattern
    "^(kernel32|ntdll|advapi32|user32|ws2_32|mswsock|iphlpapi|winhttp|wininet|version|bcrypt|crypt32|secur32|shell32|ole32|userenv|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\\.dll$")
set(foreign "")
foreach(dll ${imports})
  string(TOLOWER "${dll}" dll_lower)
  if(NOT dll_lower MATCHES "${system_dll_pattern}")
    list(APPEND foreign ${dll})
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "The DLL imports non-system DLLs: ${foreign}\nall imports: ${imports}")
endif()
if(NOT imports)
  message(FATAL_ERROR "No import table found in ${LIBRARY}; objdump's output format changed?")
endif()
message(STATUS "Imports: ${imports}")
