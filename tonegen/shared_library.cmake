# libzelkgen-tonegen.so.2: the tone generator as a shared library for the program and for other
# programs, with its headers under include/zelkgen/tonegen/, a pkg-config file
# (zelkgen-tonegen.pc) and a CMake package (find_package(ZelkgenToneGen), target
# Zelkgen::ToneGen). Only what tonegen_api.h marks is exported; platform/, which it links
# statically, stays inside. The test seams (testing/) are compiled in but neither exported nor
# installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The library's interface version; the packaging names its package after it.
set(ZELKGEN_TONEGEN_SOVERSION 2)
set(ZELKGEN_TONEGEN_SOVERSION ${ZELKGEN_TONEGEN_SOVERSION} PARENT_SCOPE)
set(tonegen_public_headers component.h note_names.h stored_form.h tg_types.h tone_gen.h
  tone_settings.h tonegen_api.h)
set(tonegen_map ${CMAKE_CURRENT_SOURCE_DIR}/libzelkgen-tonegen.map)

add_library(zelkgen_tonegen SHARED ${tonegen_sources})
add_library(Zelkgen::ToneGen ALIAS zelkgen_tonegen)
set_target_properties(zelkgen_tonegen PROPERTIES
  OUTPUT_NAME zelkgen-tonegen
  EXPORT_NAME ToneGen
  VERSION ${PROJECT_VERSION}
  SOVERSION ${ZELKGEN_TONEGEN_SOVERSION}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS ${tonegen_map})
# The version script hides the C++ library's template copies, which its headers mark visible,
# and --exclude-libs the static platform library; every symbol must be resolved at link time.
target_link_options(zelkgen_tonegen PRIVATE "LINKER:--version-script=${tonegen_map}"
  "LINKER:--exclude-libs,ALL" "LINKER:--as-needed")
# A sanitizer's run-time may come with the program only (clang's does).
if(NOT ZELKGEN_SANITIZE)
  target_link_options(zelkgen_tonegen PRIVATE "LINKER:--no-undefined")
endif()
target_link_libraries(zelkgen_tonegen PRIVATE platform)
target_include_directories(zelkgen_tonegen PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# The headers use C++17 (string_view, constexpr arrays).
target_compile_features(zelkgen_tonegen INTERFACE cxx_std_17)

# Components, one Debian package each (packaging/CMakeLists.txt): the library, and what building
# against it needs.
install(TARGETS zelkgen_tonegen EXPORT ZelkgenToneGenTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
    NAMELINK_COMPONENT development)
install(FILES ${tonegen_public_headers}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelkgen/tonegen COMPONENT development)

set(tonegen_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ZelkgenToneGen)
install(EXPORT ZelkgenToneGenTargets NAMESPACE Zelkgen:: DESTINATION ${tonegen_cmake_dir}
  COMPONENT development)
configure_package_config_file(ZelkgenToneGenConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZelkgenToneGenConfig.cmake INSTALL_DESTINATION ${tonegen_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZelkgenToneGenConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZelkgenToneGenConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/ZelkgenToneGenConfigVersion.cmake
  DESTINATION ${tonegen_cmake_dir} COMPONENT development)

# pkg-config: paths from the install prefix, as the distribution installs them.
configure_file(zelkgen-tonegen.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zelkgen-tonegen.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelkgen-tonegen.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
