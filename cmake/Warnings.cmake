# Compiler warnings as targets to link, not flags for the whole tree:
#   quillon_warnings       the product code (every library and program that ships);
#   quillon_warnings_mild  tests, benchmarks, the emulator and the fuzz targets, where an implicit
#                          narrowing of a test value is noise rather than a fault.
# Linked PRIVATE, so that the flags never leak to whoever links a library.
option(QUILLON_WERROR "Treat compiler warnings as errors" OFF)

add_library(quillon_warnings_mild INTERFACE)
add_library(quillon_warnings INTERFACE)
if(MSVC)
    target_compile_options(quillon_warnings_mild INTERFACE /W4)
    target_compile_options(quillon_warnings INTERFACE /W4)
    if(QUILLON_WERROR)
        target_compile_options(quillon_warnings_mild INTERFACE /WX)
        target_compile_options(quillon_warnings INTERFACE /WX)
    endif()
else()
    target_compile_options(quillon_warnings_mild INTERFACE -Wall -Wextra)
    target_compile_options(quillon_warnings INTERFACE -Wall -Wextra -Wshadow -Wconversion)
    if(QUILLON_WERROR)
        target_compile_options(quillon_warnings_mild INTERFACE -Werror)
        target_compile_options(quillon_warnings INTERFACE -Werror)
    endif()
endif()
