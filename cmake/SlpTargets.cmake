# Settings shared by every target of this project. Nothing here is set globally, so a parent project
# that adds this one as a subdirectory inherits none of it.

# Warnings are private to our own targets; SLP_WARNINGS_AS_ERRORS turns them into errors (CI does).
function(slp_target_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wcast-align)
        if(SLP_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${SLP_WARNINGS_AS_ERRORS}>:/WX>)
    endif()
endfunction()

# A library of ours: C++17, hidden symbols by default (classes are exported through the export macro of
# the library's Export.h), versioned soname, the macro that tells the export header which library is
# being built, and its name in the installed package (slp::EXPORT_NAME, also an alias in the build).
function(slp_add_library target building_macro)
    cmake_parse_arguments(ARG "" "OUTPUT_NAME;EXPORT_NAME" "SOURCES" ${ARGN})
    add_library(${target} ${ARG_SOURCES})
    add_library(slp::${ARG_EXPORT_NAME} ALIAS ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
    target_compile_features(${target} PUBLIC cxx_std_17)
    set_target_properties(${target} PROPERTIES
        CXX_EXTENSIONS OFF
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        VERSION ${PROJECT_VERSION}
        SOVERSION ${PROJECT_VERSION_MAJOR}
        POSITION_INDEPENDENT_CODE ON)
    # Installed libraries find their siblings beside themselves.
    if(NOT APPLE AND NOT WIN32)
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endif()
    if(ARG_OUTPUT_NAME)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
    target_compile_definitions(${target} PRIVATE ${building_macro})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
        target_compile_definitions(${target} PUBLIC SLP_STATIC)
    endif()
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    # Calls between the library's own exported members go direct (and may be inlined) instead of
    # through the symbol table; the load's hot path crosses them once per token. WebAssembly has no
    # symbol interposition, and its compiler rejects the flag as unused.
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT EMSCRIPTEN)
        target_compile_options(${target} PRIVATE -fno-semantic-interposition)
    endif()
    slp_target_warnings(${target})
endfunction()

# A program of ours (tools, tests, benchmarks).
function(slp_add_executable target)
    add_executable(${target} ${ARGN})
    target_compile_features(${target} PRIVATE cxx_std_17)
    set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
    slp_target_warnings(${target})
endfunction()
