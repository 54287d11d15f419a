# The window system the dialog code calls (platform/win32_ui.h): the real USER32, GDI32 and
# COMCTL32 on Windows, a subset of them over Qt 6 Widgets elsewhere. A library of its own so that
# only the viewer links Qt.
#
# orvane_dialog_resources(TARGET RCFILE) gives TARGET the dialog templates of a resource script:
# compiled by the resource compiler on Windows, turned into a registered table by rc2cpp
# elsewhere, so both systems build their dialogs from the same script.
if(WIN32)
    enable_language(RC)
    add_library(orvane_win32 INTERFACE)
    target_link_libraries(orvane_win32 INTERFACE orvane_platform user32 gdi32 comctl32)

    function(orvane_dialog_resources target rcfile)
        target_sources(${target} PRIVATE ${rcfile})
    endfunction()
else()
    find_package(Qt6 REQUIRED COMPONENTS Widgets)

    add_library(orvane_win32 STATIC ${CMAKE_CURRENT_LIST_DIR}/win32_ui_qt.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/win32_ui_template.cpp)
    target_link_libraries(orvane_win32 PUBLIC orvane_platform PRIVATE Qt6::Widgets)
    orvane_warnings(orvane_win32)

    # Runs on the build machine while building.
    add_executable(orvane_rc2cpp ${PROJECT_SOURCE_DIR}/resources/rc2cpp.cpp)
    orvane_warnings(orvane_rc2cpp)

    function(orvane_dialog_resources target rcfile)
        get_filename_component(_rc ${rcfile} ABSOLUTE)
        get_filename_component(_name ${rcfile} NAME_WE)
        get_filename_component(_dir ${_rc} DIRECTORY)
        file(GLOB _headers ${_dir}/*.h)
        set(_out ${CMAKE_CURRENT_BINARY_DIR}/${target}_${_name}_rc.cpp)
        add_custom_command(OUTPUT ${_out}
                           COMMAND orvane_rc2cpp ${_rc} ${_out}
                           DEPENDS orvane_rc2cpp ${_rc} ${_headers}
                           COMMENT "Dialog templates from ${rcfile}"
                           VERBATIM)
        target_sources(${target} PRIVATE ${_out})
        target_link_libraries(${target} PRIVATE orvane_win32)
    endfunction()
endif()
