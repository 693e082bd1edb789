# The Windows installer of the build's installation folder, made with NSIS on the build
# machine: `cmake --build build/win32 --target brankel_installer` makes
# build/win32/brankel-setup-<version>-win32.exe (win64 likewise; that one is what the
# tests install under wine64).
find_program(BRANKEL_MAKENSIS makensis)
if(NOT BRANKEL_MAKENSIS)
  message(STATUS "No installer target: makensis not found (Debian package nsis; tools/test-all.sh installs it)")
  return()
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(bits 32)
else()
  set(bits 64)
endif()
set(BRANKEL_INSTALLER ${CMAKE_BINARY_DIR}/brankel-setup-${PROJECT_VERSION}-win${bits}.exe)
set(file_list ${CMAKE_BINARY_DIR}/installer/uninstall_files.nsh)
add_custom_target(brankel_installer
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/installer
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${BRANKEL_INSTALL_DIR} -DOUTPUT=${file_list}
          -P ${CMAKE_CURRENT_LIST_DIR}/installer_files.cmake
  COMMAND ${BRANKEL_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DFILE_VERSION=${PROJECT_VERSION}.${BRANKEL_BUILD_NUMBER}
          -DBITS=${bits} -DSOURCE=${BRANKEL_INSTALL_DIR} -DFILE_LIST=${file_list} -DOUTFILE=${BRANKEL_INSTALLER}
          ${CMAKE_CURRENT_LIST_DIR}/brankel.nsi
  COMMENT "Making the installer ${BRANKEL_INSTALLER}"
  VERBATIM)
# Everything the installation folder holds.
foreach(target brankel brankel_wizard brankel_deskvale brankel_crashvale brankel_runtime brankel_language_files
        brankel_runtime_language_files)
  if(TARGET ${target})
    add_dependencies(brankel_installer ${target})
  endif()
endforeach()
