# What `cmake --install` puts in place: the shared library (with its SONAME), the public header,
# the command-line tool with the instance-tool stand-ins its demo copies into a sample machine,
# a CMake package (find_package(qz7instm) -> qz7instm::qz7instm) and a pkg-config file.
# The folder archives and the test kit stay in the build tree: the tool has them linked in.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(qz7instm PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

set(QZ7_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qz7instm)

install(TARGETS qz7instm EXPORT qz7instmTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qz7instm.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# `qz7inst demo` finds the instance tools beside its own program, as in the build tree.
install(TARGETS qz7inst qz7ncrt qz7icrt qz7iupdt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT qz7instmTargets NAMESPACE qz7instm:: DESTINATION ${QZ7_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qz7instmConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qz7instmConfig.cmake INSTALL_DESTINATION ${QZ7_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qz7instmConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qz7instmConfig.cmake
  ${PROJECT_BINARY_DIR}/qz7instmConfigVersion.cmake DESTINATION ${QZ7_PACKAGE_DIR})

# qz7instm.pc names its directories relative to ${prefix} where they lie under it. The prefix
# itself is filled in when installing, so that `cmake --install --prefix DIR` gets a file that
# points at DIR rather than at the prefix the build was configured with.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(QZ7_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(QZ7_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
string(REPLACE "\${prefix}" "\${exec_prefix}" QZ7_PC_LIBDIR "${QZ7_PC_LIBDIR}")
set(QZ7_PC_PREFIX "@QZ7_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qz7instm.pc.in ${PROJECT_BINARY_DIR}/qz7instm.pc.stage @ONLY)
install(CODE "set(QZ7_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
configure_file(\"${PROJECT_BINARY_DIR}/qz7instm.pc.stage\" \"${PROJECT_BINARY_DIR}/qz7instm.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/qz7instm.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
