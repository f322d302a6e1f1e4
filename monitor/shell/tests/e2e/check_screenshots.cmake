# cmake -DDIR=<screenshots> -DIDENTIFY=<identify> -P check_screenshots.cmake
# Every screenshot the program scenarios left must read back as an RGB PNG.
file(GLOB shots "${DIR}/*.png")
if(NOT shots)
    message(FATAL_ERROR "no screenshots in ${DIR}")
endif()
foreach(shot ${shots})
    execute_process(COMMAND ${IDENTIFY} -regard-warnings -format "%m %w %h %[channels]" ${shot}
                    OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "^PNG [1-9][0-9]* [1-9][0-9]* srgb")
        message(FATAL_ERROR "${shot}: ${out}${err}")
    endif()
    message(STATUS "${shot}: ${out}")
endforeach()
