# `cmake --install`: the public headers, both libraries, a CMake package (find_package(Norvane),
# target Norvane::norvane for the shared library, Norvane::norvane_static for the static one)
# and a pkg-config file (norvane; `pkg-config --static` for the static library's needs).
include(CMakePackageConfigHelpers)
set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Norvane)

install(TARGETS norvane norvane_shared EXPORT NorvaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/norvane ${NORVANE_GENERATED}/include/norvane
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT NorvaneTargets NAMESPACE Norvane:: DESTINATION ${cmake_dir})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/NorvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/NorvaneConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/NorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/NorvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/NorvaneConfigVersion.cmake DESTINATION ${cmake_dir})

configure_file(${PROJECT_SOURCE_DIR}/cmake/norvane.pc.in ${PROJECT_BINARY_DIR}/norvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/norvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Python package, ready for `pip install BUILD_DIR/python`: the sources, the generated
# classes and a copy of the shared library next to them.
set(py ${PROJECT_BINARY_DIR}/python)
file(GLOB py_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/python/norvane/*)
add_custom_target(python_package ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${py}/norvane
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/python/pyproject.toml ${py}/
  COMMAND ${CMAKE_COMMAND} -E copy ${py_sources} ${py}/norvane/
  COMMAND ${CMAKE_COMMAND} -E copy ${NORVANE_GENERATED}/python/norvane/_generated.py
          ${NORVANE_GENERATED}/python/norvane/_generated.pyi ${py}/norvane/
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:norvane_shared> ${py}/norvane/$<TARGET_SONAME_FILE_NAME:norvane_shared>
  DEPENDS norvane_shared norvane_api ${py_sources} ${PROJECT_SOURCE_DIR}/python/pyproject.toml
  COMMENT "Assembling the Python package" VERBATIM)
