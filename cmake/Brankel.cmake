# Helpers shared by the project's targets.

# A library of our own code: warnings on, sources found from the src/ root.
function(brankel_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${BRANKEL_WARNINGS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# A libFuzzer target: brankel_fuzzer(<name> <source> LIBS <libs...>)
function(brankel_fuzzer name source)
  cmake_parse_arguments(FZ "" "" "LIBS" ${ARGN})
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${BRANKEL_WARNINGS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${FZ_LIBS})
endfunction()

# Sources of the current folder that include the generated "brankel_version.h" or the
# version block of the resource scripts. Only they get its folder: a flag on every
# compile would make a compiler cache miss every object of the build.
function(brankel_version_sources)
  set_property(SOURCE ${ARGN} APPEND PROPERTY INCLUDE_DIRECTORIES ${BRANKEL_VERSION_INCLUDE_DIR})
  # A resource script's includes are not scanned for changes: name the version header.
  set_property(SOURCE ${ARGN} APPEND PROPERTY OBJECT_DEPENDS ${BRANKEL_VERSION_INCLUDE_DIR}/brankel_version.h)
endfunction()
