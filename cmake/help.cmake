# The help file: HTML topics compiled by chmcmd into quillet.chm beside the
# program, where it looks for its help. chmcmd writes beside its project, so it
# runs on a copy of the sources in the build tree.
find_program(QUILLET_CHMCMD NAMES chmcmd-3.2.2 chmcmd REQUIRED)

file(GLOB QUILLET_HELP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/help/*)
set(QUILLET_HELP_WORK ${CMAKE_BINARY_DIR}/help)
set(QUILLET_CHM ${CMAKE_BINARY_DIR}/quillet.chm)

add_custom_command(OUTPUT ${QUILLET_CHM}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUILLET_HELP_WORK}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/help ${QUILLET_HELP_WORK}
    COMMAND ${CMAKE_COMMAND} -E chdir ${QUILLET_HELP_WORK} ${QUILLET_CHMCMD} --verbosity 0 quillet.hhp
    COMMAND ${CMAKE_COMMAND} -E copy ${QUILLET_HELP_WORK}/quillet.chm ${QUILLET_CHM}
    DEPENDS ${QUILLET_HELP_SOURCES}
    COMMENT "Compiling the help file quillet.chm"
    VERBATIM)
add_custom_target(quillet_help ALL DEPENDS ${QUILLET_CHM})

# The help tests open the file beside the test program.
if(TARGET quillet_tests)
    add_dependencies(quillet_tests quillet_help)
endif()
