# Stand-ins for the runtime of the installation, until our own player, stub and runtime
# libraries replace them: the player "Runvale.exe" with the imports a build trims, the
# stub "sysdata\Stubvale.dat" a build extends, one small file for every other runtime
# file a build ships, the UI resource library and the runtime's language files. They give
# the build and its tests real inputs in the installation folder.
#
# Every build makes them with the MinGW tools directly, whatever its own compiler, the
# way the test fixtures are made: the 32-bit tools for the 32-bit Windows build, whose
# player must match its word size, and the 64-bit ones for every other build (wine64
# runs those here).

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(bits 32)
else()
  set(bits 64)
endif()
find_program(BRANKEL_MINGW32_CC NAMES i686-w64-mingw32-gcc-posix i686-w64-mingw32-gcc)
find_program(BRANKEL_MINGW32_WINDRES NAMES i686-w64-mingw32-windres)
find_program(BRANKEL_MINGW64_CC NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc)
find_program(BRANKEL_MINGW64_WINDRES NAMES x86_64-w64-mingw32-windres)
foreach(tool BRANKEL_MINGW${bits}_CC BRANKEL_MINGW${bits}_WINDRES)
  if(NOT ${tool} OR NOT EXISTS "${${tool}}")
    message(STATUS "Stand-in runtime skipped: ${tool} not found (tools/test-all.sh installs the MinGW "
                   "compilers); the installation gets no player, stub or runtime files.")
    return()
  endif()
endforeach()
set(cc ${BRANKEL_MINGW${bits}_CC})
set(windres ${BRANKEL_MINGW${bits}_WINDRES})

set(here ${CMAKE_CURRENT_SOURCE_DIR})
set(work ${CMAKE_CURRENT_BINARY_DIR})
set(install ${BRANKEL_INSTALL_DIR})
# Statically linked and stripped, as shipped programs are.
set(c_flags -std=c11 -O2 ${BRANKEL_WARNINGS} -static -s)

# The libraries the player imports, as the module table lists them: the name of the
# stand-in's one function and its file name.
set(imported_modules
  Docvale:Docvale.dll Datavale:Datavale.dll Dialvale:Dialvale.dll Helpvale:Helpvale.dll
  vcomp140:vcomp140.dll Keyvale:Keyvale.dll Keyvale64:Keyvale64.dll Mailvale:Mailvale.dll
  unzip32:unzip32.dll zip32:zip32.dll Xfervale:Xfervale.dll Visvale:Visvale.dll
  libocrtess:libocrtess.dll Ocrvale:Ocrvale.dll libpaddleocr:libpaddleocr.dll PandrelIo:PandrelIo.sys)

set(outputs "")
set(import_libraries "")
set(module_list "")
foreach(pair ${imported_modules})
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 name)
  list(GET pair 1 file)
  add_custom_command(OUTPUT ${install}/${file} ${work}/lib${name}.a
    COMMAND ${CMAKE_COMMAND} -E make_directory ${install}
    COMMAND ${cc} ${c_flags} -shared -DSTANDIN_MODULE=${name} -o ${install}/${file} ${here}/module.c
            -Wl,--out-implib,${work}/lib${name}.a
    DEPENDS ${here}/module.c
    COMMENT "Building the stand-in ${file}"
    VERBATIM)
  list(APPEND outputs ${install}/${file})
  list(APPEND import_libraries ${work}/lib${name}.a)
  string(APPEND module_list " X(${name})")
endforeach()
file(CONFIGURE OUTPUT ${work}/standin_modules.h
  CONTENT "/* Written by src/runtime/CMakeLists.txt: the libraries the stand-in player imports. */\n#define STANDIN_IMPORTED_MODULES(X)${module_list}\n")

# One program or library and its resources: standin_program(OUTPUT path SOURCE file
# [RC file] [DEPENDS files...] [FLAGS flags...] [LIBRARIES libraries...]).
function(standin_program)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT;SOURCE;RC" "DEPENDS;FLAGS;LIBRARIES")
  get_filename_component(name ${arg_OUTPUT} NAME)
  set(objects "")
  if(arg_RC)
    get_filename_component(rc_name ${arg_RC} NAME_WE)
    set(resources ${work}/${rc_name}.res.o)
    set(objects ${resources})
    add_custom_command(OUTPUT ${resources}
      COMMAND ${windres} --include-dir=${here} --input=${here}/${arg_RC} --output=${resources} --output-format=coff
      DEPENDS ${here}/${arg_RC} ${here}/icon.rc
      COMMENT "Compiling the resources of ${name}"
      VERBATIM)
  endif()
  get_filename_component(folder ${arg_OUTPUT} DIRECTORY)
  add_custom_command(OUTPUT ${arg_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${cc} ${c_flags} ${arg_FLAGS} -o ${arg_OUTPUT} ${here}/${arg_SOURCE} ${objects} ${arg_LIBRARIES}
    DEPENDS ${here}/${arg_SOURCE} ${here}/own_section.h ${objects} ${arg_DEPENDS} ${arg_LIBRARIES}
    COMMENT "Building the stand-in ${name}"
    VERBATIM)
endfunction()

standin_program(OUTPUT ${install}/Runvale.exe SOURCE player.c RC player.rc
  DEPENDS ${work}/standin_modules.h FLAGS -mconsole -I${work} LIBRARIES ${import_libraries})
standin_program(OUTPUT ${install}/sysdata/Stubvale.dat SOURCE stub.c RC stub.rc FLAGS -mconsole)
# In "sysdata" with the other files of that folder: the installation's look-ups ignore
# letter case, so "SysData\vllib_ui_defresu.dll" finds it there.
standin_program(OUTPUT ${install}/sysdata/vllib_ui_defresu.dll SOURCE module.c RC ui_library.rc
  FLAGS -shared -DSTANDIN_MODULE=vllib_ui_defresu)
standin_program(OUTPUT ${work}/program.exe SOURCE program.c FLAGS -mconsole)
list(APPEND outputs ${install}/Runvale.exe ${install}/sysdata/Stubvale.dat ${install}/sysdata/vllib_ui_defresu.dll)

# The runtime files the player does not import: one tiny program or library under each
# program name.
set(program_copies chrome/Cbrokvale.exe firefox/Fbrokvale.exe Webxvale.exe Webvale.exe Connvale64.exe)
foreach(copy ${program_copies})
  get_filename_component(folder ${install}/${copy} DIRECTORY)
  add_custom_command(OUTPUT ${install}/${copy}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${work}/program.exe ${install}/${copy}
    DEPENDS ${work}/program.exe
    COMMENT "Copying the stand-in ${copy}"
    VERBATIM)
  list(APPEND outputs ${install}/${copy})
endforeach()
foreach(library Iebvale ModuleWebvale)
  standin_program(OUTPUT ${install}/${library}.dll SOURCE module.c FLAGS -shared -DSTANDIN_MODULE=${library})
  list(APPEND outputs ${install}/${library}.dll)
endforeach()

# Data files, as they lie in files/: the browser extensions and their manifests, the OCR
# language data and the OCR models.
foreach(data chrome/Brokvale.crx chrome/manifest.json firefox/Brokvale.xpi firefox/manifest-ff.json
        eng.traineddata modules/paddleocr/keys.txt modules/paddleocr/det/model.bin modules/paddleocr/rec/model.bin)
  configure_file(files/${data} ${install}/${data} COPYONLY)
endforeach()

add_custom_target(brankel_runtime_standins ALL DEPENDS ${outputs})

# The runtime's language files, signed as the installation's own are (see data/).
if(CMAKE_CROSSCOMPILING)
  set(BRANKEL_HOST_TOOL "${PROJECT_SOURCE_DIR}/build/linux/install/brankel" CACHE FILEPATH
      "A brankel that runs on the build machine, for signing language files")
  if(NOT EXISTS ${BRANKEL_HOST_TOOL})
    message(STATUS "Stand-in runtime language files skipped: no host brankel at ${BRANKEL_HOST_TOOL}")
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
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${install}/sysdata
    COMMAND ${CMAKE_COMMAND} -E copy ${here}/sysdata/${name} ${output}.unsigned
    COMMAND ${signer} lng sign ${output}.unsigned
    COMMAND ${CMAKE_COMMAND} -E rename ${output}.unsigned ${output}
    DEPENDS ${here}/sysdata/${name} ${signer_target}
    COMMENT "Signing ${name}"
    VERBATIM)
  list(APPEND signed_files ${output})
endforeach()
add_custom_target(brankel_runtime_language_files ALL DEPENDS ${signed_files})
add_dependencies(brankel_runtime_standins brankel_runtime_language_files)
