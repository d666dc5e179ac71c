# Registering tests that run under Wine.
#
# Every Windows test program runs through build/wine-run.sh, which gives it the build tree's private
# Wine prefix, a virtual display when none is set, and a time limit. quillon_add_wine_test adds one
# CTest entry per platform level; a level other than "default" makes Wine report that Windows
# version to the program (9x line: win98, NT 5: winxp, NT 6 and later: win10). The x64 flavour
# runs at the default level and winxp only: 64-bit Windows has no 9x line, and its NT 6 line is
# what the default level reports.
set(QUILLON_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/tests/harness/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# quillon_add_wine_test(NAME <name> TARGET <target> [LEVELS level...] [TIMEOUT seconds] [ARGS ...])
function(quillon_add_wine_test)
    cmake_parse_arguments(T "" "NAME;TARGET;TIMEOUT" "LEVELS;ARGS" ${ARGN})
    if(NOT T_LEVELS)
        set(T_LEVELS default)
    endif()
    if(QUILLON_FLAVOUR STREQUAL "x64")
        list(FILTER T_LEVELS INCLUDE REGEX "^(default|winxp)$")
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    foreach(level IN LISTS T_LEVELS)
        if(level STREQUAL "default")
            set(test_name ${T_NAME})
        else()
            set(test_name ${T_NAME}.${level})
        endif()
        add_test(NAME ${test_name}
                 COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --level ${level} $<TARGET_FILE:${T_TARGET}> ${T_ARGS})
        set_tests_properties(${test_name} PROPERTIES TIMEOUT ${T_TIMEOUT} RESOURCE_LOCK wineprefix)
    endforeach()
endfunction()
