# Checks that a library exports exactly the names it should, and that it
# needs no library it must only load at run time.
# Run with -DNM=<nm> -DOBJDUMP=<objdump> -DLIBRARY=<file> -DEXPECTED=<a;b;...>
#   [-DNOT_NEEDED=<file name>]
cmake_policy(SET CMP0057 NEW)
# Symbols the linker itself adds to every shared object.
set(linker_symbols _init _fini _edata _end __bss_start)

execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported)
foreach(line ${lines})
  string(REGEX MATCH "^[^ ]+" symbol "${line}")
  if(symbol AND NOT symbol IN_LIST linker_symbols)
    list(APPEND exported ${symbol})
  endif()
endforeach()
list(SORT exported)
set(expected ${EXPECTED})
list(SORT expected)
list(LENGTH exported count)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports (${count})\n  ${exported}\nexpected\n  ${expected}")
endif()
message(STATUS "${LIBRARY} exports (${count}): ${exported}")

if(NOT_NEEDED)
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
  foreach(entry ${needed})
    if(entry MATCHES "${NOT_NEEDED}")
      message(FATAL_ERROR "${LIBRARY} is linked against ${NOT_NEEDED}: ${entry}")
    endif()
  endforeach()
  message(STATUS "${LIBRARY} needs: ${needed}")
endif()
