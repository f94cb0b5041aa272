# Installs the project into a temporary prefix and builds and runs the example host against it, once
# through the CMake package and once through pkg-config. With STATIC set, it first builds and installs
# a static build of the sources (tests and tools off) instead of installing the current build tree.
#
# Variables: SOURCE_DIR, BUILD_DIR, WORK_DIR, CXX_COMPILER, CXX_FLAGS, LINKER_FLAGS, GENERATOR, STATIC,
# WITH_GZIP (the tested build's SLP_WITH_GZIP, for the builds of the sources), and for a cross-build
# TOOLCHAIN_FILE, EMULATOR (which runs the host program) and EXE_SUFFIX.
cmake_minimum_required(VERSION 3.21)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${result}): ${command}\n${output}")
    endif()
    string(REPLACE "\r\n" "\n" output "${output}") # text output of Windows programs
    set(RUN_OUTPUT "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(flags -G "${GENERATOR}" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
          "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
          "-DCMAKE_SHARED_LINKER_FLAGS=${LINKER_FLAGS}")
if(TOOLCHAIN_FILE)
    # A cross-build finds the target's packages and libraries only under its roots: add the prefix.
    list(APPEND flags "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}" "-DCMAKE_FIND_ROOT_PATH=${prefix}")
endif()

if(STATIC)
    run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" ${flags} -DBUILD_SHARED_LIBS=OFF
        -DSLP_BUILD_TESTS=OFF -DSLP_BUILD_TOOLS=OFF -DSLP_BUILD_BENCH=OFF "-DSLP_WITH_GZIP=${WITH_GZIP}")
    run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
    run("${CMAKE_COMMAND}" --install "${WORK_DIR}/build" --prefix "${prefix}")
else()
    run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
endif()

set(ways package pkgconfig)
if(NOT STATIC)
    list(APPEND ways subproject)
endif()
foreach(way IN LISTS ways)
    set(host_build "${WORK_DIR}/host-${way}")
    if(way STREQUAL "subproject")
        run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/examples/host" -B "${host_build}" ${flags}
            "-DHOST_SLP_SOURCE_DIR=${SOURCE_DIR}" "-DSLP_WITH_GZIP=${WITH_GZIP}")
        # As a subproject the loader builds neither its tests nor its program.
        if(EXISTS "${host_build}/slp/tests" OR EXISTS "${host_build}/slp/tools")
            message(FATAL_ERROR "the subproject build configured its tests or tools")
        endif()
    elseif(way STREQUAL "pkgconfig")
        file(GLOB pc_file "${prefix}/lib*/pkgconfig/slp.pc" "${prefix}/lib/*/pkgconfig/slp.pc")
        get_filename_component(pc_dir "${pc_file}" DIRECTORY)
        set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
        run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/examples/host" -B "${host_build}" ${flags} -DHOST_WITH_PKGCONFIG=ON)
    else()
        run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/examples/host" -B "${host_build}" ${flags}
            "-DCMAKE_PREFIX_PATH=${prefix}")
    endif()
    run("${CMAKE_COMMAND}" --build "${host_build}")
    # Under Wine the host finds the loader's DLLs (installed, or built as a subproject) through WINEPATH.
    if(EMULATOR)
        file(GLOB_RECURSE dlls "${prefix}/*.dll" "${host_build}/*.dll")
        set(dll_dirs "")
        foreach(dll IN LISTS dlls)
            get_filename_component(dll_dir "${dll}" DIRECTORY)
            list(APPEND dll_dirs "${dll_dir}")
        endforeach()
        list(REMOVE_DUPLICATES dll_dirs)
        string(REPLACE ";" "\\;" wine_path "${dll_dirs}")
        set(ENV{WINEPATH} "${wine_path}")
    endif()
    run(${EMULATOR} "${host_build}/slp_host${EXE_SUFFIX}" "${SOURCE_DIR}/examples/desk_lamp.slp")
    if(NOT RUN_OUTPUT MATCHES "shade: 80 triangles\nbulb: 120 triangles")
        message(FATAL_ERROR "unexpected output of the host built with ${way}:\n${RUN_OUTPUT}")
    endif()
    message(STATUS "host built with ${way}: ok")
endforeach()

# The installed loader exports the parser alone.
if(NOT STATIC)
    file(GLOB loader "${prefix}/lib*/libslploader.so" "${prefix}/lib/*/libslploader.so")
    find_program(NM nm)
    if(loader AND NM)
        run("${NM}" -D -C --defined-only "${loader}")
        string(REGEX REPLACE "[^\n]* [A-Za-z] CSLPParser::[^\n]*\n" "" others "${RUN_OUTPUT}")
        if(NOT others STREQUAL "")
            message(FATAL_ERROR "the installed loader exports more than CSLPParser:\n${others}")
        endif()
    endif()
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
