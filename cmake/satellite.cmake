# kv_add_satellite(TARGET RESOURCE_SCRIPT): builds a translated resource module (a satellite)
# from a resource script holding strings 1 to 3 of kvshellsearch.dll. The result is resources
# only: no code, no entry point, no imports, so loading it can never run anything.
function(kv_add_satellite target resource_script)
    add_library(${target} SHARED ${resource_script})
    set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/kvshellsearch/resources)
    target_link_options(${target} PRIVATE -nostdlib -s -Wl,-e,0)
endfunction()
