# Installation: the library with its headers, CMake package and pkg-config file, and the
# Frame Browser with its desktop entry and icon.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KIV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kiv)
string(REPLACE ";" " " KIV_FFMPEG_MODULES "${KIV_FFMPEG_MODULES}")

install(TARGETS kiv EXPORT KivTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${KIV_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kiv)
install(EXPORT KivTargets NAMESPACE Kiv:: DESTINATION ${KIV_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KivConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KivConfig.cmake INSTALL_DESTINATION ${KIV_CMAKE_DIR})
# A new major version changes the library's interface (and its SONAME).
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KivConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KivConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/KivConfigVersion.cmake DESTINATION ${KIV_CMAKE_DIR})

# kiv.pc names the prefix it is installed under (cmake --install --prefix, or the package's),
# so its prefix is filled in at install time, straight into the destination: two installs
# into different prefixes may run at the same time.
set(KIV_PC_PREFIX "@KIV_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kiv.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kiv.pc.in @ONLY)
install(CODE "
  set(KIV_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(kiv_pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/kiv.pc\")
  message(STATUS \"Installing: \${kiv_pc}\")
  configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/kiv.pc.in\" \"\${kiv_pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${kiv_pc}\")")

if(TARGET framebrowser)
  # Finds libkiv beside it under any prefix, not only under the system's.
  set_target_properties(framebrowser PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS framebrowser RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/app/framebrowser.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/app/framebrowser.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
