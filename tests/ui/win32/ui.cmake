# The skinned toolkit's Windows tests: UI resource libraries that answer wrongly, and the
# gallery program that shows every skinned control (for people and the window harness).
set(ui_fixture_dir ${CMAKE_BINARY_DIR}/fixtures/ui)
foreach(case "wrong_version:256:1" "fill_fails:257:0")
  string(REPLACE ":" ";" case ${case})
  list(GET case 0 name)
  list(GET case 1 version)
  list(GET case 2 fills)
  add_library(brankel_fixture_skin_${name} SHARED ${CMAKE_CURRENT_LIST_DIR}/fixture_skin_library.cpp
                                                  ${CMAKE_CURRENT_LIST_DIR}/fixture_skin_library.def)
  target_compile_definitions(brankel_fixture_skin_${name} PRIVATE FIXTURE_VERSION=${version} FIXTURE_FILLS=${fills})
  target_include_directories(brankel_fixture_skin_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(brankel_fixture_skin_${name} PRIVATE ${BRANKEL_WARNINGS})
  set_target_properties(brankel_fixture_skin_${name} PROPERTIES PREFIX "" OUTPUT_NAME skin_${name}
                                                                RUNTIME_OUTPUT_DIRECTORY ${ui_fixture_dir})
  add_dependencies(brankel_tests brankel_fixture_skin_${name})
endforeach()
target_sources(brankel_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/dialog_wine_test.cpp ${CMAKE_CURRENT_LIST_DIR}/grid_wine_test.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/skin_wine_test.cpp)
target_link_libraries(brankel_tests PRIVATE brankel_ui_win32)
target_compile_definitions(brankel_tests PRIVATE BRANKEL_UI_FIXTURE_DIR="${host_prefix}${ui_fixture_dir}")

add_executable(brankel_skin_gallery WIN32 ${CMAKE_CURRENT_LIST_DIR}/skin_gallery.cpp)
target_compile_options(brankel_skin_gallery PRIVATE -municode ${BRANKEL_WARNINGS})
target_link_options(brankel_skin_gallery PRIVATE -municode)
target_link_libraries(brankel_skin_gallery PRIVATE brankel_ui_win32 brankel_app brankel_platform shell32)
set_target_properties(brankel_skin_gallery PROPERTIES OUTPUT_NAME skin_gallery
                                                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/ui-pictures)
add_dependencies(brankel_tests brankel_skin_gallery)
target_compile_definitions(brankel_skin_gallery PRIVATE BRANKEL_INSTALL_DIR="${host_prefix}${BRANKEL_INSTALL_DIR}")
target_include_directories(brankel_skin_gallery PRIVATE ${PROJECT_SOURCE_DIR}/tests)
