# Installation: the shared library `quarrow`, its two headers, the CMake
# package (find_package(Quarrow) -> Quarrow::quarrow) and quarrow.pc. The
# command-line tools install themselves from tools/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(NOT TARGET quarrow)
  return()
endif()

set(QUARROW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarrow)

install(TARGETS quarrow EXPORT QuarrowTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
)
install(FILES
  ${PROJECT_SOURCE_DIR}/include/quarrow/quarrow.hpp
  ${PROJECT_SOURCE_DIR}/include/quarrow/quarrow.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quarrow
)
install(EXPORT QuarrowTargets NAMESPACE Quarrow:: DESTINATION ${QUARROW_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuarrowConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuarrowConfig.cmake
  INSTALL_DESTINATION ${QUARROW_CMAKE_DIR}
)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuarrowConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion
)
install(FILES
  ${PROJECT_BINARY_DIR}/QuarrowConfig.cmake
  ${PROJECT_BINARY_DIR}/QuarrowConfigVersion.cmake
  DESTINATION ${QUARROW_CMAKE_DIR}
)

# quarrow.pc finds its prefix from its own place, so `cmake --install
# --prefix DIR` gives a working file wherever DIR is.
file(RELATIVE_PATH QUARROW_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" QUARROW_PC_TO_PREFIX "${QUARROW_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/quarrow.pc.in ${PROJECT_BINARY_DIR}/quarrow.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarrow.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
