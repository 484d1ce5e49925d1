# Installation: the public headers, libZqs5162.so with the platform, the
# driver module and the hosted target it boots, a CMake package
# (find_package(qio5162) -> qio5162::Zqs5162) and pkg-config files.
include(CMakePackageConfigHelpers)

set(QIO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qio5162)

install(TARGETS Zqs5162 EXPORT qio5162Targets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/qio5162/Zqs5162.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qio5162)

# The hosted target that DeviceOpen boots on demand, and that applications
# driving the simulated board link (target.h), installs itself into the same
# export set with its header; without it only the header goes along.
if(TARGET qio5162target)
  set(QIO_HAVE_TARGET TRUE)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/include/qio5162/target.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qio5162)
endif()

install(EXPORT qio5162Targets NAMESPACE qio5162:: FILE qio5162Targets.cmake DESTINATION ${QIO_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/qio5162Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/qio5162Config.cmake INSTALL_DESTINATION ${QIO_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qio5162ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qio5162Config.cmake ${CMAKE_CURRENT_BINARY_DIR}/qio5162ConfigVersion.cmake
        DESTINATION ${QIO_CMAKE_PACKAGE_DIR})

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/qio5162.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qio5162.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qio5162.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(QIO_HAVE_TARGET)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/qio5162-target.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qio5162-target.pc
                 @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qio5162-target.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
