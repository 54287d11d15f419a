# What a user installs: man pages, AppStream metadata and Debian's documents with the programs,
# and CPack's Debian package (Linux) or zip and NSIS installer (Windows). scripts/package builds
# them into build/packages/.

set(ORVANE_PACKAGE_NAME orvane-viewer)

# orvane_version_resource(TARGET DESCRIPTION): a VERSIONINFO resource for a Windows program.
function(orvane_version_resource target description)
    if(WIN32 AND TARGET ${target})
        set(ORVANE_RC_NAME ${target})
        set(ORVANE_RC_DESCRIPTION ${description})
        set(_rc ${CMAKE_BINARY_DIR}/generated/${target}-version.rc)
        configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${_rc} @ONLY)
        target_sources(${target} PRIVATE ${_rc})
    endif()
endfunction()
if(WIN32)
    enable_language(RC)
endif()
orvane_version_resource(orvane-viewer "Orvane Viewer: shows live how far a tower leans")
orvane_version_resource(orvane "Orvane Viewer's command-line companion")

if(NOT WIN32)
    # Man pages made from the programs' own --help and --version, so they cannot drift.
    find_program(ORVANE_HELP2MAN help2man)
    find_program(ORVANE_GZIP gzip)
    if(ORVANE_HELP2MAN AND ORVANE_GZIP AND TARGET orvane-viewer AND TARGET orvane)
        set(_man_dir ${CMAKE_BINARY_DIR}/man)
        set(_pages)
        foreach(_program orvane-viewer orvane)
            if(_program STREQUAL orvane-viewer)
                set(_what "show live how far a tower leans")
            else()
                set(_what "log, decode, render and simulate for Orvane Viewer")
            endif()
            add_custom_command(
                OUTPUT ${_man_dir}/${_program}.1.gz
                COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
                COMMAND ${CMAKE_COMMAND} -E env DISPLAY= WAYLAND_DISPLAY= ${ORVANE_HELP2MAN}
                        --no-info --section=1 --name=${_what} --output=${_man_dir}/${_program}.1
                        $<TARGET_FILE:${_program}>
                COMMAND ${ORVANE_GZIP} -9nf ${_man_dir}/${_program}.1
                DEPENDS ${_program}
                COMMENT "Man page for ${_program}")
            list(APPEND _pages ${_man_dir}/${_program}.1.gz)
        endforeach()
        add_custom_target(orvane_man_pages ALL DEPENDS ${_pages})
        install(FILES ${_pages} DESTINATION share/man/man1 COMPONENT programs)
    endif()

    install(FILES ${PROJECT_SOURCE_DIR}/resources/org.orvane.Viewer.metainfo.xml
            DESTINATION share/metainfo COMPONENT programs)
    # Debian's documents: the licence in its machine-readable form and the changelog.
    set(_doc share/doc/${ORVANE_PACKAGE_NAME})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${_doc}
            COMPONENT programs)
    if(ORVANE_GZIP)
        add_custom_command(
            OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
            COMMAND ${ORVANE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog >
                    ${CMAKE_BINARY_DIR}/changelog.gz
            DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
        add_custom_target(orvane_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
        install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${_doc} COMPONENT programs)
    endif()
else()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md DESTINATION .
            COMPONENT programs)
endif()

set(CPACK_PACKAGE_NAME ${ORVANE_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Orvane Viewer developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live viewer for a tower's tilt sensor")
set(CPACK_PACKAGE_CONTACT "Orvane Viewer developers <developers@orvane.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Orvane Viewer")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${ORVANE_PACKAGES_DIR})

# Debian
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orvane.org/")
# Lines kept short: Debian's tools show them as they are.
set(CPACK_PACKAGE_DESCRIPTION "Orvane Viewer reads the three-axis accelerometer on a tower through an
FTDI USB-serial bridge (libftdi1 or the kernel's ftdi_sio tty), low-pass
filters the direction of gravity and shows live the lean about two
horizontal axes and the total tilt in degrees, with a top view of a
hemisphere on which a marker shows the lean.

The package also has orvane, a command-line companion that logs the lean
as CSV without a window, decodes and replays recordings and serves a
simulated sensor on a pseudo-terminal, and a udev rule that gives the
logged-in user the FTDI bridges.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Windows: a zip and an NSIS installer of the same files.
set(CPACK_SYSTEM_NAME win32)
set(CPACK_NSIS_PACKAGE_NAME "Orvane Viewer")
set(CPACK_NSIS_DISPLAY_NAME "Orvane Viewer ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MENU_LINKS "bin/orvane-viewer.exe" "Orvane Viewer")
set(CPACK_NSIS_WELCOME_TITLE "Orvane Viewer ${PROJECT_VERSION}")
set(CPACK_NSIS_FINISH_TITLE "Orvane Viewer is installed")
set(CPACK_NSIS_MUI_FINISHPAGE_RUN "bin\\\\orvane-viewer.exe")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS
    "DetailPrint 'The viewer reaches the sensor through FTD2XX.dll, which the D2XX driver package of FTDI provides.'")
set(CPACK_PACKAGE_FILE_NAME "${ORVANE_PACKAGE_NAME}-${PROJECT_VERSION}-win32")
if(NOT WIN32)
    unset(CPACK_PACKAGE_FILE_NAME)
    unset(CPACK_SYSTEM_NAME)
endif()
set(CPACK_COMPONENTS_ALL programs simulated)
set(CPACK_COMPONENT_PROGRAMS_DISPLAY_NAME "Orvane Viewer")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "The viewer and the orvane companion. They reach the sensor through FTD2XX.dll, from FTDI's D2XX driver package.")
set(CPACK_COMPONENT_PROGRAMS_REQUIRED ON)
set(CPACK_COMPONENT_SIMULATED_DISPLAY_NAME "Simulated sensor")
set(CPACK_COMPONENT_SIMULATED_DESCRIPTION
    "A stand-in FTD2XX.dll serving the simulated sensor, in a folder of its own (beside the viewer it would win over FTDI's).")
set(CPACK_COMPONENT_SIMULATED_DISABLED ON)
if(NOT WIN32)
    # One Debian package of everything.
    set(CPACK_DEB_COMPONENT_INSTALL OFF)
    unset(CPACK_COMPONENTS_ALL)
endif()
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
