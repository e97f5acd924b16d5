# Install rules: the programs (kestrav, kestrav-batch), libkestrav.so with its SONAME, the CUDA module beside the library,
# the header under include/kestrav/, a CMake package (Kestrav::kestrav) and kestrav.pc; and the
# Debian packages `kestrav` and `kestrav-cuda` made from them by CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(kestrav_shared PROPERTIES EXPORT_NAME kestrav VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(kestrav_shared INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# The installed program finds the module from its own folder through this relative path.
file(RELATIVE_PATH KESTRAV_BIN_TO_LIB "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
target_compile_definitions(kestrav_backends PRIVATE KESTRAV_BIN_TO_LIB="${KESTRAV_BIN_TO_LIB}")

install(TARGETS kestrav kestrav-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kestrav)
install(TARGETS kestrav_shared EXPORT KestravTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT kestrav NAMELINK_COMPONENT kestrav)
install(FILES ${PROJECT_SOURCE_DIR}/engine/kestrav.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrav COMPONENT kestrav)
if(KESTRAV_HAVE_CUDA)
  # cuFFT and cuBLAS come from the CUDA toolkit on the target machine.
  set_target_properties(kestrav_cuda_module PROPERTIES
    INSTALL_RPATH "${CUDAToolkit_LIBRARY_DIR}")
  install(TARGETS kestrav_cuda_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT kestrav-cuda)
endif()

set(KESTRAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrav)
install(EXPORT KestravTargets NAMESPACE Kestrav:: FILE KestravTargets.cmake
  DESTINATION ${KESTRAV_CMAKE_DIR} COMPONENT kestrav)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/KestravConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestravConfig.cmake INSTALL_DESTINATION ${KESTRAV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestravConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestravConfig.cmake
  ${PROJECT_BINARY_DIR}/KestravConfigVersion.cmake
  DESTINATION ${KESTRAV_CMAKE_DIR} COMPONENT kestrav)
# Relocatable: the prefix is found from where kestrav.pc lies.
file(RELATIVE_PATH KESTRAV_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
  "${CMAKE_INSTALL_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/kestrav.pc.in ${PROJECT_BINARY_DIR}/kestrav.pc
  @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrav.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT kestrav)

# cpack -G DEB: one package per component.
set(CPACK_PACKAGE_NAME kestrav)
set(CPACK_PACKAGE_VENDOR "Kestrav")
set(CPACK_PACKAGE_CONTACT "Kestrav developers <kestrav@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "delay and frequency offset between two recordings of one radio signal")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_KESTRAV_PACKAGE_NAME kestrav)
set(CPACK_DEBIAN_KESTRAV_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_KESTRAV-CUDA_PACKAGE_NAME kestrav-cuda)
set(CPACK_DEBIAN_KESTRAV-CUDA_PACKAGE_DEPENDS "kestrav (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_KESTRAV-CUDA_DESCRIPTION
  "the CUDA backend of kestrav, loaded where a driver and a GPU are present; needs cuFFT and cuBLAS from the CUDA toolkit")
set(CPACK_COMPONENTS_ALL kestrav)
if(KESTRAV_HAVE_CUDA)
  list(APPEND CPACK_COMPONENTS_ALL kestrav-cuda)
endif()
include(CPack)
