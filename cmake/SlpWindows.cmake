# Settings for Windows builds, native or cross-built with cmake/toolchains/mingw-w64-x86_64.cmake.

# A Windows program finds its DLLs beside itself: put every program and DLL of this build in one folder,
# so the tests and the slp program run from the build tree (under Wine too) without a search path.
if(PROJECT_IS_TOP_LEVEL AND NOT DEFINED CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endif()

# Cross-building, the header-only packages the tool and its tests use (CLI11, nlohmann_json) come from the
# build host, whose CMake package files point into its /usr/include; adding that folder to a Windows
# compile would bring in the host's C library headers. Copy each package's config files and its own
# header folder into a prefix of this build, and find the package there.
function(slp_stage_host_header_package package header_folder)
    if(DEFINED ${package}_DIR)
        return()
    endif()
    find_file(slp_host_${package}_config NAMES ${package}Config.cmake
              PATHS /usr/share/cmake /usr/lib/cmake /usr/local/share/cmake /usr/local/lib/cmake
              PATH_SUFFIXES ${package} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT slp_host_${package}_config)
        return()
    endif()
    get_filename_component(config_dir "${slp_host_${package}_config}" DIRECTORY)
    get_filename_component(host_prefix "${config_dir}/../../.." ABSOLUTE)
    file(RELATIVE_PATH config_subdir "${host_prefix}" "${config_dir}")
    set(stage "${PROJECT_BINARY_DIR}/_host_headers")
    file(COPY "${config_dir}/" DESTINATION "${stage}/${config_subdir}")
    file(COPY "${host_prefix}/include/${header_folder}" DESTINATION "${stage}/include")
    set(${package}_DIR "${stage}/${config_subdir}" CACHE PATH "${package} package files, staged from the build host")
endfunction()

if(CMAKE_CROSSCOMPILING)
    slp_stage_host_header_package(CLI11 CLI)
    slp_stage_host_header_package(nlohmann_json nlohmann)
endif()
