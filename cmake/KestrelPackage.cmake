# Installation and the CMake package: find_package(Kestrel CONFIG REQUIRED) gives
# Kestrel::KestrelStandard, Kestrel::KestrelCUDA and Kestrel::KestrelScene; the optional
# component KestrelIO (find_package(Kestrel CONFIG REQUIRED COMPONENTS KestrelIO)) gives
# Kestrel::KestrelIO.
include(CMakePackageConfigHelpers)

set(KESTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrel)

# Installed libraries find each other in their own folder and the tools find them in ../lib,
# wherever the prefix is: a host needs no LD_LIBRARY_PATH for a private prefix.
foreach(library KestrelStandard KestrelCUDA KestrelScene KestrelIO)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endforeach()
foreach(app kestrel-viewer kestrel-render)
  if(TARGET ${app})
    set_target_properties(${app} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
endforeach()

install(TARGETS KestrelStandard KestrelCUDA KestrelScene
  EXPORT KestrelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Kestrel)

file(GLOB KESTREL_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/*.h)
install(FILES ${KESTREL_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Kestrel)

install(EXPORT KestrelTargets
  NAMESPACE Kestrel::
  DESTINATION ${KESTREL_CMAKE_DIR})

if(TARGET KestrelIO)
  install(TARGETS KestrelIO
    EXPORT KestrelIOTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Kestrel)
  install(FILES ${PROJECT_SOURCE_DIR}/io/ScanLoader.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Kestrel)
  install(EXPORT KestrelIOTargets
    NAMESPACE Kestrel::
    DESTINATION ${KESTREL_CMAKE_DIR})
endif()

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrelConfig.cmake
  INSTALL_DESTINATION ${KESTREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/KestrelConfig.cmake
  ${PROJECT_BINARY_DIR}/KestrelConfigVersion.cmake
  DESTINATION ${KESTREL_CMAKE_DIR})

foreach(app kestrel-viewer kestrel-render)
  if(TARGET ${app})
    install(TARGETS ${app} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
