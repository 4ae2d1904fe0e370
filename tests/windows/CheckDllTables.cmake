# Reads a DLL's export and import tables with the MinGW objdump and fails
# unless the DLL exports exactly EXPORTS (comma-separated names) and imports
# every IMPORTS entry (comma-separated "dll:function"; DLL names compared
# without regard to case, a C++ function also found by its mangled name).
#   cmake -DOBJDUMP=... -DDLL=... -DEXPORTS=a,b [-DIMPORTS=x.dll:f,...] -P CheckDllTables.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${DLL}")
endif()

# Brackets would group list elements in CMake; the tables use them.
string(REPLACE "[" "<" listing "${listing}")
string(REPLACE "]" ">" listing "${listing}")
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")

set(exports "")
set(imports "")
set(inExportNames FALSE)
set(importDll "")
foreach(line IN LISTS lines)
  if(line MATCHES "^<Ordinal/Name Pointer> Table")
    set(inExportNames TRUE)
  elseif(inExportNames AND line MATCHES "^\t< *[0-9]+> (.+)$")
    list(APPEND exports ${CMAKE_MATCH_1})
  elseif(inExportNames)
    set(inExportNames FALSE)
  endif()

  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" importDll)
  elseif(line MATCHES "^ *$")
    set(importDll "")
  elseif(importDll AND line MATCHES "^\t[0-9a-fA-F]+\t +[0-9]+ +([^ ]+)$")
    list(APPEND imports "${importDll}:${CMAKE_MATCH_1}")
  endif()
endforeach()

list(SORT exports)
string(REPLACE "," ";" expectedExports "${EXPORTS}")
list(SORT expectedExports)
if(NOT exports STREQUAL expectedExports)
  message(FATAL_ERROR "${DLL} exports [${exports}], expected exactly [${expectedExports}]")
endif()
message(STATUS "${DLL} exports exactly: ${exports}")

if(DEFINED IMPORTS)
  string(REPLACE "," ";" expectedImports "${IMPORTS}")
  foreach(entry IN LISTS expectedImports)
    string(REGEX MATCH "^([^:]+):(.+)$" parsed "${entry}")
    set(dllName "${CMAKE_MATCH_1}")
    string(TOLOWER "${dllName}" dll)
    set(function "${CMAKE_MATCH_2}")
    string(LENGTH "${function}" length)
    set(found FALSE)
    foreach(import IN LISTS imports)
      # Free C++ functions appear as _Z<length><name><parameter types>.
      if(import STREQUAL "${dll}:${function}" OR import MATCHES "^${dll}:_Z${length}${function}")
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${DLL} does not import ${function} from ${dllName}")
    endif()
  endforeach()
  message(STATUS "${DLL} imports: ${IMPORTS}")
endif()
