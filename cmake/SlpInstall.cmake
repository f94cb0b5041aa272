# Install rules: headers under one include folder (keeping foundation/, tokenizer/, model/ and slp/), the
# libraries, the slp program, a CMake package (slp::slp and the component targets) with its version
# file, and a pkg-config file. Every path is relative to the install prefix.
include(CMakePackageConfigHelpers)

set(SLP_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/slp" CACHE STRING
    "Where the CMake package files of slp are installed, relative to the prefix")
set(SLP_INSTALL_LIBRARIES slp_foundation slp_tokenizer slp_model slp_loader)
set(SLP_INSTALL_HEADER_FOLDERS foundation tokenizer model slp)
# The exporters and the checker join the same package when they are built (slp::writers, slp::checker).
foreach(layer writers checker)
    if(TARGET slp_${layer})
        list(APPEND SLP_INSTALL_LIBRARIES slp_${layer})
        list(APPEND SLP_INSTALL_HEADER_FOLDERS ${layer})
    endif()
endforeach()

install(TARGETS ${SLP_INSTALL_LIBRARIES}
    EXPORT slpTargets
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

foreach(folder IN LISTS SLP_INSTALL_HEADER_FOLDERS)
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/${folder}" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
            FILES_MATCHING PATTERN "*.h")
endforeach()

if(TARGET slp_cli)
    install(TARGETS slp_cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

install(EXPORT slpTargets NAMESPACE slp:: DESTINATION "${SLP_INSTALL_CMAKEDIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/slpConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/slpConfig.cmake"
    INSTALL_DESTINATION "${SLP_INSTALL_CMAKEDIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/slpConfigVersion.cmake"
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/slpConfig.cmake" "${PROJECT_BINARY_DIR}/slpConfigVersion.cmake"
        DESTINATION "${SLP_INSTALL_CMAKEDIR}")

# pkg-config: the prefix is found from the .pc file's own folder, so the tree can be moved.
# Every installed library, each before the libraries it uses.
set(SLP_PC_LIBS "")
set(_slp_pc_libraries ${SLP_INSTALL_LIBRARIES})
list(REVERSE _slp_pc_libraries)
foreach(library ${_slp_pc_libraries})
    get_target_property(name ${library} OUTPUT_NAME)
    string(APPEND SLP_PC_LIBS " -l${name}")
endforeach()
string(APPEND SLP_PC_LIBS " -pthread")
# A static tokenizer leaves zlib to the program that links it.
if(SLP_WITH_GZIP AND NOT BUILD_SHARED_LIBS)
    string(APPEND SLP_PC_LIBS " -lz")
endif()
string(STRIP "${SLP_PC_LIBS}" SLP_PC_LIBS)
set(SLP_PC_CFLAGS "")
if(NOT BUILD_SHARED_LIBS)
    set(SLP_PC_CFLAGS " -DSLP_STATIC")
endif()
file(RELATIVE_PATH SLP_PC_PREFIX_FROM_PCDIR "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" SLP_PC_PREFIX_FROM_PCDIR "${SLP_PC_PREFIX_FROM_PCDIR}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/slp.pc.in" "${PROJECT_BINARY_DIR}/slp.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/slp.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
