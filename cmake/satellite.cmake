# kv_add_satellite(TARGET RESOURCE_SCRIPT): builds a translated resource module (a satellite)
# from a resource script holding strings 1 to 3 of kvshellsearch.dll. The result is resources
# only: no code, no entry point, no imports, so loading it can never run anything. A script whose
# `#pragma code_page` is not its language's ANSI code page is refused before it is compiled.
function(kv_add_satellite target resource_script)
    get_filename_component(script ${resource_script} ABSOLUTE)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.codepage-checked)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_rc_codepage.py
                ${script} ${stamp}
        DEPENDS ${script} ${PROJECT_SOURCE_DIR}/tools/check_rc_codepage.py
        COMMENT "Checking the code page of ${resource_script}"
        VERBATIM)
    add_library(${target} SHARED ${resource_script})
    set_source_files_properties(${resource_script} PROPERTIES OBJECT_DEPENDS ${stamp})
    set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/kvshellsearch/resources)
    target_link_options(${target} PRIVATE -nostdlib -s -Wl,-e,0 -Wl,--no-insert-timestamp)
endfunction()
