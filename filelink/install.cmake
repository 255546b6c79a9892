# How host programs find the installed library: the headers under
# include/filelink, a pkg-config file and a CMake package exporting
# filelink::filelink. Both are relocatable, so a tree installed with
# --prefix or unpacked from the package into another root still points at
# its own headers and library.
include(CMakePackageConfigHelpers)

set(filelink_headers ${CMAKE_CURRENT_SOURCE_DIR}/filelink.h ${PROJECT_SOURCE_DIR}/core/uart_callbacks.h)
set(filelink_includedir ${CMAKE_INSTALL_INCLUDEDIR}/filelink)
set(filelink_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/filelink)
get_target_property(filelink_version filelink VERSION)

install(TARGETS filelink EXPORT filelink-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${filelink_includedir})
install(FILES ${filelink_headers} DESTINATION ${filelink_includedir})

# pkg-config: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH filelink_pc_to_prefix
     ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" filelink_pc_to_prefix "${filelink_pc_to_prefix}")
configure_file(filelink.pc.in ${CMAKE_CURRENT_BINARY_DIR}/filelink.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filelink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake: find_package(filelink) gives the imported target filelink::filelink.
install(EXPORT filelink-targets NAMESPACE filelink:: DESTINATION ${filelink_cmakedir})
configure_package_config_file(filelink-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/filelink-config.cmake
  INSTALL_DESTINATION ${filelink_cmakedir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/filelink-config-version.cmake
  VERSION ${filelink_version} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filelink-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/filelink-config-version.cmake
        DESTINATION ${filelink_cmakedir})
