# Warnings are errors in every preset (and so in CI); a plain build, a packager's with another
# compiler version, only warns, so that a new false positive does not stop it.
option(ORVANE_WERROR "Treat compiler warnings as errors" OFF)

function(orvane_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${ORVANE_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wpedantic
                               $<$<BOOL:${ORVANE_WERROR}>:-Werror>)
    endif()
endfunction()
