# Every header is included by its path from the project's root ("device/engine.h"). Rather than
# the root itself, a library exports a folder of its own in the build tree that holds a link to
# its own sources only: a layer that does not link a library cannot include its headers.
#   quillon_export_headers(<target> <path from the root, a folder or a single header>)
function(quillon_export_headers target path)
    set(stage ${PROJECT_BINARY_DIR}/include/${target})
    get_filename_component(parent ${stage}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${stage}/${path} RESULT failed SYMBOLIC)
    if(failed)
        # A system that refuses links (Windows without the right to make them) still builds,
        # without the fence: the library exports the root.
        message(STATUS "${target}: no link in ${stage} (${failed}), exporting the source root")
        set(stage ${PROJECT_SOURCE_DIR})
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${stage})
    else()
        target_include_directories(${target} PUBLIC ${stage})
    endif()
endfunction()
