# One switch per sanitizer family; the presets pick them.
set(ORVANE_SANITIZE "" CACHE STRING "Sanitizers: empty, 'address;undefined' or 'thread'")

if(ORVANE_SANITIZE)
    list(JOIN ORVANE_SANITIZE "," _orvane_san)
    add_compile_options(-fsanitize=${_orvane_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_orvane_san})
endif()

# Coverage instrumentation for libFuzzer in every library the fuzz targets link.
if(ORVANE_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
