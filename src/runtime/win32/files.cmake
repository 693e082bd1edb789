# The runtime's other files: the resources of the stub and the player, the UI resource
# library, the programs and libraries the player starts or loads for web commands.
target_sources(brankel_stub PRIVATE stub.rc)
brankel_version_sources(stub.rc ui_library.rc player.rc)
# The resource scripts include their neighbours and name the startup picture beside them.
target_include_directories(brankel_stub PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(brankel_player PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

add_library(brankel_ui_library SHARED ui_library.cpp ui_library.def ui_library.rc)
target_compile_options(brankel_ui_library PRIVATE ${BRANKEL_WARNINGS})
target_include_directories(brankel_ui_library PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(brankel_ui_library PRIVATE brankel_platform)
set_target_properties(brankel_ui_library PROPERTIES PREFIX "" OUTPUT_NAME vllib_ui_defresu
                                                    RUNTIME_OUTPUT_DIRECTORY ${BRANKEL_RUNTIME_OUTPUT}/sysdata)

# Program file name (installation-relative, without ".exe") : target name.
foreach(pair chrome/Cbrokvale:cbrokvale firefox/Fbrokvale:fbrokvale Webxvale:webxvale Webvale:webvale
        Connvale64:connvale64)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 path)
  list(GET pair 1 target)
  get_filename_component(name ${path} NAME)
  get_filename_component(folder ${path} DIRECTORY)
  add_executable(brankel_${target} runtime_program.cpp)
  target_compile_options(brankel_${target} PRIVATE ${BRANKEL_WARNINGS})
  target_compile_definitions(brankel_${target} PRIVATE RUNTIME_PROGRAM_NAME="${name}")
  set_target_properties(brankel_${target} PROPERTIES OUTPUT_NAME ${name}
                                                     RUNTIME_OUTPUT_DIRECTORY ${BRANKEL_RUNTIME_OUTPUT}/${folder})
endforeach()
foreach(name Iebvale ModuleWebvale)
  add_library(brankel_${name} SHARED runtime_library.cpp)
  target_compile_options(brankel_${name} PRIVATE ${BRANKEL_WARNINGS})
  target_compile_definitions(brankel_${name} PRIVATE RUNTIME_LIBRARY_NAME="${name}.dll")
  set_target_properties(brankel_${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
                                                   RUNTIME_OUTPUT_DIRECTORY ${BRANKEL_RUNTIME_OUTPUT})
endforeach()
