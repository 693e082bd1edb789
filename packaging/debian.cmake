# The Debian package of the Linux tool: the build's installation folder whole under
# /usr/lib/brankel/ (the tool finds its language files, configuration and runtimes beside
# itself), and /usr/bin/brankel pointing into it.
# `cmake --build --preset linux --target brankel_deb` makes build/linux/brankel_<version>_<arch>.deb.

# Packing builds what the installation folder holds, not every test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(DIRECTORY ${BRANKEL_INSTALL_DIR}/ DESTINATION lib/brankel USE_SOURCE_PERMISSIONS
        PATTERN brankel EXCLUDE)
# The tool itself as a target, so that packing strips its debug information.
install(TARGETS brankel RUNTIME DESTINATION lib/brankel)
set(CPACK_STRIP_FILES ON)
# Relative, so that the link holds in a scratch root as well as in /.
set(link ${CMAKE_BINARY_DIR}/debian/brankel)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
file(CREATE_LINK ../lib/brankel/brankel ${link} SYMBOLIC)
install(FILES ${link} DESTINATION bin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brankel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Packages a macro script into one stand-alone Windows program")
set(CPACK_PACKAGE_DESCRIPTION "brankel finds every macro file a script calls and every file its commands name, and \
builds one Windows EXE that carries them with the player. It carries the 32-bit and 64-bit runtimes.")
set(CPACK_PACKAGE_CONTACT "Brankel developers <brankel@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The libraries the tool links, as dpkg-shlibdeps finds them, so that apt-get installs
# what a fresh machine lacks.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

add_custom_target(brankel_deb
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Packing the installation into a Debian package"
  VERBATIM)
add_dependencies(brankel_deb brankel brankel_language_files brankel_runtime)
