# Warnings are errors by default; ORVANE_WERROR=OFF is only for trying out a new compiler.
option(ORVANE_WERROR "Treat compiler warnings as errors" ON)

function(orvane_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${ORVANE_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wpedantic
                               $<$<BOOL:${ORVANE_WERROR}>:-Werror>)
    endif()
endfunction()
