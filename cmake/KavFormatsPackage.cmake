# `cmake --install` gives other projects the decoder header, the CMake package KavFormats
# (kav::formats, the header's include folder; kav::kavconv, the converter) and kav-formats.pc.
include(CMakePackageConfigHelpers)
set(kav_package_dir ${CMAKE_INSTALL_DATADIR}/cmake/KavFormats)

install(FILES ${PROJECT_SOURCE_DIR}/include/kav/kav_formats.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kav)
install(TARGETS kav_formats EXPORT KavFormatsTargets)
install(EXPORT KavFormatsTargets NAMESPACE kav:: DESTINATION ${kav_package_dir})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KavFormatsConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/KavFormatsConfig.cmake
                              INSTALL_DESTINATION ${kav_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KavFormatsConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KavFormatsConfig.cmake
              ${PROJECT_BINARY_DIR}/KavFormatsConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/KavAddAssets.cmake
        DESTINATION ${kav_package_dir})

configure_file(${CMAKE_CURRENT_LIST_DIR}/kav-formats.pc.in ${PROJECT_BINARY_DIR}/kav-formats.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kav-formats.pc DESTINATION ${CMAKE_INSTALL_DATADIR}/pkgconfig)
