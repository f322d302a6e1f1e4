# Writes a help2man include file with the --help of every subcommand of a
# program, so that its manual page documents the commands' own options too:
#   cmake -DPROGRAM=<file> -DNAME=<program name> -DOUTPUT=<file> -P command_help.cmake
# The subcommands are the ones the program lists itself, so a new one needs
# no change here.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed")
endif()
string(REPLACE "\n" ";" lines "${help}")
set(commands)
set(in_list FALSE)
foreach(line IN LISTS lines)
    if(line STREQUAL "Subcommands:")
        set(in_list TRUE)
    elseif(in_list AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
        list(APPEND commands ${CMAKE_MATCH_1})
    elseif(in_list AND NOT line MATCHES "^ ")
        set(in_list FALSE)
    endif()
endforeach()

set(text "[COMMANDS]\n")
foreach(command IN LISTS commands)
    execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE command_help RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} ${command} --help failed")
    endif()
    # The usage line names the program as it was started here.
    string(REGEX REPLACE "Usage: [^ \n]+" "Usage: ${NAME}" command_help "${command_help}")
    # roff: a backslash is written \e, a line may not start with . or '.
    string(REPLACE "\\" "\\e" command_help "${command_help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" command_help "${command_help}")
    string(STRIP "${command_help}" command_help)
    string(APPEND text ".SS \"${NAME} ${command}\"\n.nf\n${command_help}\n.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
