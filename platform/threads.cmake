# Thread calls: Windows has them in KERNEL32; elsewhere threads.cpp provides them over POSIX threads.
if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_sources(orvane_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/threads.cpp)
    target_link_libraries(orvane_platform PUBLIC Threads::Threads)
endif()
