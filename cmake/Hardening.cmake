# The toolchain's hardening, as Debian builds its packages: a stack protector, libc calls that
# check the sizes of their buffers, and relocations made read-only before the program runs.
# The sanitizers bring checks of their own and stay apart from these.
option(QUILLON_HARDENING "Stack protector, fortified libc calls, read-only relocations" ON)

if(QUILLON_HARDENING AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT QUILLON_SANITIZE)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
    # The fortified calls exist only where the compiler optimises; without optimisation glibc
    # warns and ignores them. A toolchain that fortifies by itself may use another level.
    set(optimised "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")
    add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE>" "$<${optimised}:-D_FORTIFY_SOURCE=2>")
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
