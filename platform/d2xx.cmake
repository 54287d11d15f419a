# The eight D2XX calls.
if(NOT WIN32)
    # Outside Windows we implement them ourselves over the device ORVANE_DEVICE selects: libftdi1
    # (always built in, so that a machine without an FTDI bridge still compiles that path), a
    # serial tty or the simulated sensor.
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LIBFTDI1 REQUIRED IMPORTED_TARGET libftdi1)
    target_sources(orvane_platform PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/d2xx_posix.cpp
        ${CMAKE_CURRENT_LIST_DIR}/device_selection.cpp
        ${CMAKE_CURRENT_LIST_DIR}/device_access.cpp
        ${CMAKE_CURRENT_LIST_DIR}/device_ftdi.cpp
        ${CMAKE_CURRENT_LIST_DIR}/device_tty.cpp
        ${CMAKE_CURRENT_LIST_DIR}/device_sim.cpp)
    target_link_libraries(orvane_platform PUBLIC orvane_sim PRIVATE PkgConfig::LIBFTDI1)
endif()
if(WIN32)
    # On Windows they come from FTDI's FTD2XX.dll, loaded at run time: the program starts (and
    # says it has no device) on a machine without FTDI's driver.
    target_sources(orvane_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/d2xx_win32.cpp)
endif()
