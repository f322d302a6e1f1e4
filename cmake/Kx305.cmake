# Common settings and helpers of the KX-305 build.

# Options every target of ours links: warnings, the code page of the texts,
# static runtime on Windows.  Third-party code (GoogleTest) does not get them.
add_library(kx305_options INTERFACE)
target_compile_options(kx305_options INTERFACE -Wall -Wextra)
if(KX305_WERROR)
    target_compile_options(kx305_options INTERFACE -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Sources are UTF-8; every user-visible text reaches the binaries in
    # code page 1250.  (clang only knows UTF-8: the fuzz build keeps UTF-8
    # texts, which changes nothing that it checks.)
    target_compile_options(kx305_options INTERFACE -finput-charset=UTF-8 -fexec-charset=CP1250)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # What the live-state lock guards is declared in the code
    # (acquisition/thread_annotations.h); clang checks every access.
    target_compile_options(kx305_options INTERFACE -Wthread-safety)
endif()
if(WIN32)
    target_compile_definitions(kx305_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    target_link_options(kx305_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

if(NOT WIN32)
    if(KX305_SANITIZE STREQUAL "address")
        add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
        add_link_options(-fsanitize=address,undefined)
    elseif(KX305_SANITIZE STREQUAL "thread")
        add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
        add_link_options(-fsanitize=thread)
    endif()
endif()

if(KX305_FUZZ)
    # Coverage instrumentation for everything the fuzz targets link.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

find_package(Threads REQUIRED)

if(BUILD_TESTING AND NOT KX305_FUZZ)
    if(CMAKE_CROSSCOMPILING)
        # Debian ships GoogleTest as source; build it for the target.
        set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
        foreach(t gtest gtest_main gmock gmock_main)
            if(TARGET ${t})
                target_link_options(${t} PUBLIC -static)
            endif()
        endforeach()
        if(NOT TARGET GTest::gtest_main)
            add_library(GTest::gtest ALIAS gtest)
            add_library(GTest::gtest_main ALIAS gtest_main)
        endif()
    else()
        find_package(GTest REQUIRED)
    endif()
endif()

# GoogleTest's header, compiled once per build tree and taken by every test
# program (kx305_add_test): it is most of what the compiler reads for a test
# file.  The compiler quietly parses the header instead where the options of
# a test differ from these.
if(BUILD_TESTING AND NOT KX305_FUZZ)
    add_executable(kx305_test_pch ${CMAKE_CURRENT_LIST_DIR}/test_pch.cpp)
    target_link_libraries(kx305_test_pch PRIVATE kx305_options GTest::gtest_main Threads::Threads)
    target_compile_options(kx305_test_pch PRIVATE -O0)
    target_precompile_headers(kx305_test_pch PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:<gtest/gtest.h$<ANGLE-R>>")
endif()

# kx305_place_runtime_dlls(target)
#   Windows finds a DLL beside the program that loads it: after the link,
#   the DLLs of the project that `target` imports, directly or through the
#   libraries it links (kx305.dll through the acquisition core), are copied
#   beside it.  Nothing elsewhere.
function(kx305_place_runtime_dlls target)
    if(NOT WIN32)
        return()
    endif()
    set(dlls "$<TARGET_RUNTIME_DLLS:${target}>")
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND "$<IF:$<BOOL:${dlls}>,${CMAKE_COMMAND};-E;copy_if_different;${dlls};$<TARGET_FILE_DIR:${target}>,${CMAKE_COMMAND};-E;true>"
        COMMAND_EXPAND_LISTS VERBATIM)
endfunction()

# kx305_add_test(name SOURCES ... [LIBS ...] [THREADS] [SIMULATOR] [LABELS ...])
#   A GoogleTest executable registered as one ctest test.  THREADS marks the
#   tests that also run under ThreadSanitizer.  SIMULATOR marks tests that
#   start kx305sim; on Windows they run under Wine through
#   scripts/wine-sim-run, which starts the native simulators first.
function(kx305_add_test name)
    cmake_parse_arguments(T "THREADS;SIMULATOR;NO_WINDOWS" "" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT BUILD_TESTING)
        return()
    endif()
    if(KX305_FUZZ OR (KX305_THREAD_TESTS_ONLY AND NOT T_THREADS))
        return()
    endif()
    if(WIN32 AND T_NO_WINDOWS)
        return()
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} kx305_options GTest::gtest_main Threads::Threads)
    # The tests' own code is compiled without optimisation: it halves the
    # time the compiler spends on it, and what they test, the libraries they
    # link, keeps the build type's optimisation.
    target_compile_options(${name} PRIVATE -O0)
    if(TARGET kx305_test_pch)
        target_precompile_headers(${name} REUSE_FROM kx305_test_pch)
    endif()
    set(labels ${T_LABELS})
    if(T_THREADS)
        list(APPEND labels threads)
    endif()
    kx305_place_runtime_dlls(${name})
    if(WIN32 AND T_SIMULATOR)
        add_test(NAME ${name}
                 COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-sim-run
                         ${KX305_NATIVE_BUILD_DIR}/sim/kx305sim $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 600)
endfunction()

# The fuzz stage, the one built with clang, also checks that every C and C++
# file follows .clang-format.
if(KX305_FUZZ AND BUILD_TESTING)
    add_test(NAME format_check COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-format.sh)
    set_tests_properties(format_check PROPERTIES LABELS format)
endif()

# kx305_add_fuzzer(name SOURCES ... [LIBS ...])
#   A libFuzzer target (fuzz build only), run by ctest for KX305_FUZZ_SECONDS.
function(kx305_add_fuzzer name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT KX305_FUZZ)
        return()
    endif()
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS} kx305_options)
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${name}
             COMMAND ${name} -max_total_time=${KX305_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1 ${corpus})
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 900)
endfunction()

# kx305_own_wine_prefix(test)
#   The Windows test gets a Wine prefix of its own (a copy of the build
#   tree's, see scripts/wine-run) and a display of its own, so that it may run
#   beside the others: the program's settings key, its single-instance name
#   and the screen its screenshots come from belong to one prefix and one
#   display.
function(kx305_own_wine_prefix test)
    if(NOT WIN32 OR NOT TEST ${test})
        return()
    endif()
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
        "KX305_WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefixes/${test}"
        "KX305_WINEPREFIX_TEMPLATE=${CMAKE_BINARY_DIR}/wine-prefix"
        "KX305_WINE_DISPLAY=1"
        "DISPLAY=")
endfunction()
