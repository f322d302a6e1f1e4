# Checks that a shared library exports exactly the 16 KX305 functions.
# cmake -DLIBRARY=<path> -DNM=<nm> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" symbols "${symbols}")
list(FILTER symbols EXCLUDE REGEX "^$")
list(SORT symbols)
set(expected KX305ClearLog KX305Close KX305DoneWait KX305FreeLog KX305GetInfo KX305GetLog
    KX305GetLogPeriod KX305GetResults KX305GetTime KX305Open KX305PeekLog KX305ResetRainCounter
    KX305SetLogPeriod KX305SetSerialNumber KX305SetTime KX305UserBreak)
list(SORT expected)
if(NOT symbols STREQUAL expected)
    message(FATAL_ERROR "exported: ${symbols}\nexpected: ${expected}")
endif()
message(STATUS "16 passed, 0 failed: exactly the KX305 functions are exported")
