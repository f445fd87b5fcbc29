# Install layout, CMake package (find_package(kestra) -> kestra::kestra) and
# pkg-config file. On Linux the stand-in platform ships too: its Win32-shaped
# headers go to include/kestra/win32 so that a host's <windows.h> finds them.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(KESTRA_WINDOWS)
    # The DLL, import library, .def and header are installed with the library.
    set(KESTRA_INSTALL_LIBDIR lib)
    set(KESTRA_INSTALL_BINDIR bin)
    set(KESTRA_INSTALL_INCLUDEDIR include)
else()
    set(KESTRA_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
    set(KESTRA_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(KESTRA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
    # Both libraries sit in one directory; the library finds the stand-in beside it.
    set_target_properties(kestra PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS kestra kestra_platform LIBRARY DESTINATION ${KESTRA_INSTALL_LIBDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/include/kestra/kestra.h
                  ${PROJECT_SOURCE_DIR}/platform/include/kestra/platform.h
            DESTINATION ${KESTRA_INSTALL_INCLUDEDIR}/kestra)
    file(GLOB KESTRA_WIN32_HEADERS ${PROJECT_SOURCE_DIR}/platform/include/*.h)
    install(FILES ${KESTRA_WIN32_HEADERS} DESTINATION ${KESTRA_INSTALL_INCLUDEDIR}/kestra/win32)
endif()

set(KESTRA_CMAKE_DIR ${KESTRA_INSTALL_LIBDIR}/cmake/kestra)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kestraConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/kestraConfig.cmake
    INSTALL_DESTINATION ${KESTRA_CMAKE_DIR}
    PATH_VARS KESTRA_INSTALL_LIBDIR KESTRA_INSTALL_BINDIR KESTRA_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/kestraConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/kestraConfig.cmake
              ${PROJECT_BINARY_DIR}/package/kestraConfigVersion.cmake
        DESTINATION ${KESTRA_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so the tree
# can be moved after installing.
file(RELATIVE_PATH KESTRA_PC_TO_PREFIX /prefix/${KESTRA_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KESTRA_PC_TO_PREFIX "${KESTRA_PC_TO_PREFIX}")
if(KESTRA_WINDOWS)
    set(KESTRA_PC_LIBS "-lkestra")
    set(KESTRA_PC_CFLAGS "-I\${includedir}")
else()
    set(KESTRA_PC_LIBS "-lkestra -lkestra_platform")
    set(KESTRA_PC_CFLAGS "-I\${includedir} -I\${includedir}/kestra/win32")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/kestra.pc.in ${PROJECT_BINARY_DIR}/package/kestra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/kestra.pc DESTINATION ${KESTRA_INSTALL_LIBDIR}/pkgconfig)
