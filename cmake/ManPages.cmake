# Manual pages and the changelog, compressed as Debian keeps them. Include where a page is
# installed; QUILLON_RELEASE_DATE is the date of the changelog's newest entry, so that the pages,
# the changelog and the AppStream release agree.
if(NOT GZIP_PROGRAM)
    find_program(GZIP_PROGRAM gzip)
endif()

# The changelog's trailer lines read " -- Name <address>  Tue, 08 Dec 2026 04:00:00 +0000".
set(changelog_source ${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog_source})
file(STRINGS ${changelog_source} changelog_trailers REGEX "^ -- ")
list(GET changelog_trailers 0 newest_trailer)
if(NOT newest_trailer MATCHES ", ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/debian/changelog.in: no date in \"${newest_trailer}\"")
endif()
set(release_day ${CMAKE_MATCH_1})
set(release_year ${CMAKE_MATCH_3})
set(months_of_year Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months_of_year ${CMAKE_MATCH_2} release_month)
if(release_month LESS 0)
    message(FATAL_ERROR "packaging/debian/changelog.in: no month \"${CMAKE_MATCH_2}\"")
endif()
math(EXPR release_month "${release_month} + 1")
string(REGEX REPLACE "^([0-9])$" "0\\1" release_day ${release_day})
string(REGEX REPLACE "^([0-9])$" "0\\1" release_month ${release_month})
set(QUILLON_RELEASE_DATE ${release_year}-${release_month}-${release_day})

# gzip_reproducibly(SOURCE OUTPUT): OUTPUT made from SOURCE at build time by gzip -9 without the
# file's name and time, so that the same sources give the same bytes. SOURCE stays.
function(gzip_reproducibly source output)
    if(NOT GZIP_PROGRAM)
        message(FATAL_ERROR "gzip is needed for ${output}")
    endif()
    get_filename_component(dir ${output} DIRECTORY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}-plain
        COMMAND ${GZIP_PROGRAM} -9 -n -f ${output}-plain
        COMMAND ${CMAKE_COMMAND} -E rename ${output}-plain.gz ${output}
        DEPENDS ${source}
        VERBATIM)
endfunction()

# quillon_man_page(SOURCE [INSTALL]): the roff page SOURCE ("name.1" or "name.1.in"; @VARIABLE@
# is replaced, as @PROJECT_VERSION@ and @QUILLON_RELEASE_DATE@) is put into man/ of the build
# tree, where the test packaging.man_pages checks every page; INSTALL also installs it,
# compressed, in the section its name ends with.
function(quillon_man_page source)
    cmake_parse_arguments(PARSE_ARGV 1 arg "INSTALL" "" "")
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(name ${source} NAME)
    string(REGEX REPLACE "\\.in$" "" name ${name})
    if(NOT name MATCHES "\\.([1-9])$")
        message(FATAL_ERROR "${source}: a manual page's name ends with its section, as name.1")
    endif()
    set(section ${CMAKE_MATCH_1})
    configure_file(${source} ${PROJECT_BINARY_DIR}/man/${name} @ONLY)
    if(arg_INSTALL)
        set(compressed ${PROJECT_BINARY_DIR}/man/gz/${name}.gz)
        gzip_reproducibly(${PROJECT_BINARY_DIR}/man/${name} ${compressed})
        add_custom_target(man_page_${name} ALL DEPENDS ${compressed})
        install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endif()
endfunction()
