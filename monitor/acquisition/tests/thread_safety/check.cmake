# The compiler rejects an unguarded access to the live state: the probe
# compiles with the lock taken, and fails with the thread-safety diagnostic
# without it.
#   cmake -DCXX=... -DSOURCE=... -DINCLUDES=dir;dir -P check.cmake
set(flags -std=c++20 -fsyntax-only -Wthread-safety -Werror)
foreach(dir IN LISTS INCLUDES)
    list(APPEND flags -I${dir})
endforeach()

execute_process(COMMAND ${CXX} ${flags} -DKX305_TAKE_LOCK ${SOURCE}
                RESULT_VARIABLE locked_result OUTPUT_VARIABLE locked_output ERROR_VARIABLE locked_output)
if(NOT locked_result EQUAL 0)
    message(FATAL_ERROR "the access under the lock does not compile:\n${locked_output}")
endif()

execute_process(COMMAND ${CXX} ${flags} ${SOURCE}
                RESULT_VARIABLE unlocked_result OUTPUT_VARIABLE unlocked_output ERROR_VARIABLE unlocked_output)
if(unlocked_result EQUAL 0)
    message(FATAL_ERROR "the access without the lock compiles: the field is not GUARDED_BY the live-state lock")
endif()
if(NOT unlocked_output MATCHES "writing variable 'port' requires holding mutex 'context.plumbing.lock'")
    message(FATAL_ERROR "the access without the lock fails for another reason:\n${unlocked_output}")
endif()
message(STATUS "unguarded access rejected:\n${unlocked_output}")
