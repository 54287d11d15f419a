# Cross-built tests: GoogleTest built from Debian's sources for the target (the host's libgtest is
# for the wrong system), and every test run by Wine in a prefix of this build's own.
#
# The prefix is made once by a ctest fixture, which also keeps one wineserver alive for the whole
# run: without it each test program would start and stop a wineserver of its own (about half a
# second each). The cleanup fixture stops it again.

set(ORVANE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
if(NOT EXISTS ${ORVANE_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${ORVANE_GTEST_SOURCE_DIR} (Debian: googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${ORVANE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(_lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${_lib})
        add_library(GTest::${_lib} ALIAS ${_lib})
    endif()
endforeach()

set(ORVANE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
# No Mono or Gecko: nothing here needs them, and their installers would ask for a display.
set(ORVANE_WINE_ENV WINEPREFIX=${ORVANE_WINE_PREFIX} WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree=\;mshtml=" WINEARCH=win32)
find_program(ORVANE_WINESERVER wineserver REQUIRED)
find_program(ORVANE_WINEBOOT wineboot REQUIRED)

add_test(NAME wine_prefix_setup
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wine-prefix.sh start ${ORVANE_WINEBOOT} ${ORVANE_WINESERVER})
add_test(NAME wine_prefix_cleanup
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wine-prefix.sh stop ${ORVANE_WINEBOOT} ${ORVANE_WINESERVER})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${ORVANE_WINE_ENV}"
                     TIMEOUT 300)
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine
                     ENVIRONMENT "${ORVANE_WINE_ENV}")

enable_testing()

# Called by orvane_add_tests for each test it adds. On Windows the D2XX calls come from the
# FTD2XX.dll beside the program, so tests that select the simulated sensor (ORVANE_DEVICE=sim...)
# get the simulated library there, as someone trying the viewer would. A folder that sets
# ORVANE_TESTS_PLACE_THEIR_OWN_D2XX decides itself which library its tests find.
function(orvane_emulated_test name)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${ORVANE_WINE_ENV}")
    if(TARGET orvane_ftd2xx_sim AND NOT ORVANE_TESTS_PLACE_THEIR_OWN_D2XX)
        add_custom_command(TARGET ${name} POST_BUILD
                           COMMAND ${CMAKE_COMMAND} -E copy_if_different
                                   $<TARGET_FILE:orvane_ftd2xx_sim> $<TARGET_FILE_DIR:${name}>)
        add_dependencies(${name} orvane_ftd2xx_sim)
    endif()
endfunction()
