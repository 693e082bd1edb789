# The runtime in the build's installation folder: the 32-bit runtime in the program folder
# itself (what a build packs by default, for 32-bit Windows and up) and the 64-bit one in
# "x64\" (what `brankel build --machine x64` packs), each with the player, the stub, the
# runtime modules, the UI resource library and the files the build ships beside them.
#
# Each machine's runtime is its own build of this source tree with the MinGW toolchain and
# BRANKEL_RUNTIME_ONLY, kept in one folder for every preset of the checkout, so that it is
# compiled once whichever preset asks first.

set(BRANKEL_RUNTIME_BUILD_ROOT "${PROJECT_SOURCE_DIR}/build/runtime" CACHE PATH
    "Where the 32-bit and 64-bit runtime builds live, shared by the presets of the checkout")
set(install ${BRANKEL_INSTALL_DIR})
set(here ${CMAKE_CURRENT_SOURCE_DIR})

include(ExternalProject)
set(runtime_targets "")
set(runtime_folders "")
foreach(machine x86 x64)
  if(machine STREQUAL x86)
    set(toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake)
    set(compiler i686-w64-mingw32-g++-posix)
    set(folder ${install})
  else()
    set(toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake)
    set(compiler x86_64-w64-mingw32-g++-posix)
    set(folder ${install}/x64)
  endif()
  find_program(BRANKEL_RUNTIME_COMPILER_${machine} ${compiler})
  if(NOT BRANKEL_RUNTIME_COMPILER_${machine})
    message(STATUS "The ${machine} runtime is skipped: ${compiler} not found (tools/test-all.sh and "
                   "tools/main-job.sh install the MinGW compilers)")
    continue()
  endif()
  set(binary ${BRANKEL_RUNTIME_BUILD_ROOT}/${machine})
  ExternalProject_Add(brankel_runtime_${machine}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${binary}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${toolchain} -DCMAKE_BUILD_TYPE=Release -DBRANKEL_RUNTIME_ONLY=ON
               -DBRANKEL_TESTS=OFF -DBRANKEL_WERROR=${BRANKEL_WERROR} -DBRANKEL_BUILD_NUMBER=${BRANKEL_BUILD_NUMBER}
               -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  # The programs, laid out as in the installation, then the data files beside them.
  add_custom_command(TARGET brankel_runtime_${machine} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${binary}/runtime ${folder}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${here}/data/chrome ${folder}/chrome
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${here}/data/firefox ${folder}/firefox
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${here}/data/modules ${folder}/modules
    COMMAND ${CMAKE_COMMAND} -E copy ${here}/data/eng.traineddata ${folder}/eng.traineddata
    # The browser extension packages: the same extension for both browsers, zipped.
    COMMAND ${CMAKE_COMMAND} -E tar cf ${folder}/chrome/Brokvale.crx --format=zip --mtime=2026-01-01 manifest.json
            background.js
    COMMAND ${CMAKE_COMMAND} -E tar cf ${folder}/firefox/Brokvale.xpi --format=zip --mtime=2026-01-01 manifest.json
            background.js
    WORKING_DIRECTORY ${here}/data/extension
    VERBATIM)
  list(APPEND runtime_targets brankel_runtime_${machine})
  list(APPEND runtime_folders ${folder})
endforeach()
add_custom_target(brankel_runtime ALL)
if(runtime_targets)
  add_dependencies(brankel_runtime ${runtime_targets})
endif()

# The runtime's language files, signed as the installation's own are (see data/), in each
# runtime's "sysdata\".
if(CMAKE_CROSSCOMPILING)
  set(BRANKEL_HOST_TOOL "${PROJECT_SOURCE_DIR}/build/linux/install/brankel" CACHE FILEPATH
      "A brankel that runs on the build machine, for signing language files")
  if(NOT EXISTS ${BRANKEL_HOST_TOOL})
    message(STATUS "Runtime language files skipped: no host brankel at ${BRANKEL_HOST_TOOL}")
    return()
  endif()
  set(signer ${BRANKEL_HOST_TOOL})
  set(signer_target "")
else()
  set(signer $<TARGET_FILE:brankel>)
  set(signer_target brankel)
endif()
set(signed_files "")
foreach(name Player_en.lng Proxvale_en.lng Webvale_en.lng)
  set(output ${install}/sysdata/${name})
  set(copies "")
  foreach(folder ${runtime_folders})
    if(NOT "${folder}" STREQUAL "${install}")
      list(APPEND copies COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/sysdata COMMAND ${CMAKE_COMMAND} -E copy
           ${output} ${folder}/sysdata/${name})
    endif()
  endforeach()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${install}/sysdata
    COMMAND ${CMAKE_COMMAND} -E copy ${here}/sysdata/${name} ${output}.unsigned
    COMMAND ${signer} lng sign ${output}.unsigned
    COMMAND ${CMAKE_COMMAND} -E rename ${output}.unsigned ${output}
    ${copies}
    DEPENDS ${here}/sysdata/${name} ${signer_target}
    COMMENT "Signing ${name}"
    VERBATIM)
  list(APPEND signed_files ${output})
endforeach()
add_custom_target(brankel_runtime_language_files ALL DEPENDS ${signed_files})
add_dependencies(brankel_runtime brankel_runtime_language_files)
