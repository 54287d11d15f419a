# The orvane_app library: the worker thread and the acquisition loop, shared by the viewer and the
# `orvane` companion. Listed by name: the viewer's own files (viewer.cmake) stay out of it.
add_library(orvane_app
    ${CMAKE_CURRENT_LIST_DIR}/worker_thread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tower_monitor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/async_file_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/byte_recorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/csv_log.cpp
    ${CMAKE_CURRENT_LIST_DIR}/viewer_options.cpp
)
target_include_directories(orvane_app PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvane_app PUBLIC orvane_render orvane_sensor orvane_link orvane_platform
                                        orvane_version)
orvane_warnings(orvane_app)
