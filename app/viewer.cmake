# orvane-viewer: the entry point and the view dialog over the window system of platform/ui.cmake,
# with the dialog template from resources/.
if(TARGET orvane_app AND TARGET orvane_win32)
    # The entry point, dialog procedure and view dialog; also linked by the dialog's tests.
    add_library(orvane_viewer_dialog OBJECT
        ${CMAKE_CURRENT_LIST_DIR}/win_main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/dialog_base.cpp
        ${CMAKE_CURRENT_LIST_DIR}/view_dialog.cpp
    )
    target_link_libraries(orvane_viewer_dialog PUBLIC orvane_app orvane_render orvane_win32)
    orvane_warnings(orvane_viewer_dialog)

    # Linking the object library brings its objects and its libraries.
    add_executable(orvane-viewer)
    target_link_libraries(orvane-viewer PRIVATE orvane_viewer_dialog)
    if(NOT WIN32)
        # main(): the command line, the window system, then WinMain as Windows would call it.
        target_sources(orvane-viewer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/viewer_main_posix.cpp)
    endif()
    if(WIN32)
        set_target_properties(orvane-viewer PROPERTIES WIN32_EXECUTABLE ON)
    endif()
    orvane_dialog_resources(orvane-viewer ${PROJECT_SOURCE_DIR}/resources/dlg_use.rc)
    orvane_warnings(orvane-viewer)
    install(TARGETS orvane-viewer RUNTIME DESTINATION bin COMPONENT programs)
endif()

# Desktop integration: a menu entry with its icon, and the udev rule that lets the plugdev group
# open FTDI devices. udev reads rules from /usr/lib/udev/rules.d and /etc/udev/rules.d only, so
# an install under /usr/local needs ORVANE_UDEV_RULES_DIR=/etc/udev/rules.d.
if(NOT WIN32)
    set(ORVANE_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
        "Where cmake --install puts the udev rule (relative to the prefix, or absolute)")
    install(FILES ${PROJECT_SOURCE_DIR}/resources/orvane-viewer.desktop
            DESTINATION share/applications COMPONENT programs)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/orvane-viewer.svg
            DESTINATION share/icons/hicolor/scalable/apps COMPONENT programs)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/60-orvane-ftdi.rules
            DESTINATION ${ORVANE_UDEV_RULES_DIR} COMPONENT programs)
endif()
