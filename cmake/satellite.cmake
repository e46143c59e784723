# kv_add_satellite(TARGET RESOURCE_SCRIPT): builds a translated resource module (a satellite)
# from a resource script holding strings 1 to 3 of kvshellsearch.dll. The result is resources
# only: no code, no entry point, no imports, so loading it can never run anything. A script whose
# `#pragma code_page` is not its language's ANSI code page, or that lacks a string of the module's
# table, is refused before it is compiled.
function(kv_add_satellite target resource_script)
    get_filename_component(script ${resource_script} ABSOLUTE)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.codepage-checked)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_translation_complete.py
                ${script}
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_rc_codepage.py
                ${script} ${stamp}
        DEPENDS ${script} ${PROJECT_SOURCE_DIR}/tools/check_rc_codepage.py
                ${PROJECT_SOURCE_DIR}/tools/check_translation_complete.py
                ${PROJECT_SOURCE_DIR}/tools/rc_strings.py
                ${PROJECT_SOURCE_DIR}/src/kvshellsearch/resources/kvshellsearch.rc
        COMMENT "Checking the code page and the completeness of ${resource_script}"
        VERBATIM)
    add_library(${target} SHARED ${resource_script})
    set_source_files_properties(${resource_script} PROPERTIES OBJECT_DEPENDS ${stamp})
    set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/kvshellsearch/resources)
    target_link_options(${target} PRIVATE -nostdlib -s -Wl,-e,0 -Wl,--no-insert-timestamp)
endfunction()

# kv_translation_languages(OUT): the language tags of the translations, one per
# translations/kvshellsearch-LANG.rc ("de", "fr", ...): the build, the packages, the tests and the
# release all take them from here, so a new script is all a new language needs.
function(kv_translation_languages out)
    file(GLOB scripts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/translations/kvshellsearch-*.rc)
    set(languages "")
    foreach(script ${scripts})
        get_filename_component(name ${script} NAME_WE)
        string(REGEX REPLACE "^kvshellsearch-" "" language ${name})
        list(APPEND languages ${language})
    endforeach()
    list(SORT languages)
    set(${out} ${languages} PARENT_SCOPE)
endfunction()

# kv_resource_language(SCRIPT LANGID_OUT CODEPAGE_OUT): the language identifier of a resource
# script's LANGUAGE statement and the code page of its `#pragma code_page` (1252 without one),
# read through the compiler's preprocessor, which knows winnt.h's LANG_ and SUBLANG_ values.
function(kv_resource_language script langid_out codepage_out)
    execute_process(COMMAND ${CMAKE_C_COMPILER} -E -P -xc -DRC_INVOKED
            -I${PROJECT_SOURCE_DIR}/src/kvshellsearch/resources
            -I${PROJECT_BINARY_DIR}/src/kvshellsearch/generated ${script}
        OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
    if(NOT text MATCHES "LANGUAGE[ \t]+(0[xX][0-9a-fA-F]+|[0-9]+)[ \t]*,[ \t]*(0[xX][0-9a-fA-F]+|[0-9]+)")
        message(FATAL_ERROR "${script}: no LANGUAGE statement")
    endif()
    math(EXPR langid "(${CMAKE_MATCH_2} << 10) | ${CMAKE_MATCH_1}")
    set(codepage 1252)
    if(text MATCHES "#pragma code_page\\(([0-9]+)\\)")
        set(codepage ${CMAKE_MATCH_1})
    endif()
    set(${langid_out} ${langid} PARENT_SCOPE)
    set(${codepage_out} ${codepage} PARENT_SCOPE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
endfunction()
