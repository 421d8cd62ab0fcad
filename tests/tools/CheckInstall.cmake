# Installs the tool slots into a scratch prefix and checks that every slot lands in the one
# program folder, as programs.
set(prefix ${SCRATCH}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component tool_slots --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(folder ${prefix}/${INSTALL_DIR})
string(REPLACE "," ";" slots "${SLOTS}")
if(NOT slots)
    message(FATAL_ERROR "no tool slots given")
endif()
foreach(program ${slots})
    if(NOT EXISTS ${folder}/${program} OR IS_SYMLINK ${folder}/${program})
        message(FATAL_ERROR "${program} is not installed in ${folder}")
    endif()
endforeach()
file(REMOVE_RECURSE ${prefix})
