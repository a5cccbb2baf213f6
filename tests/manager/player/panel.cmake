# The player panel on a host that stands in for the main window, with the built-in skin: real clicks and
# keys (xdotool), and the panel captured from the X display with xwd into tests/manager/artefacts.
kwep_add_test(player_panel_tests
  SOURCES player_panel_test.cpp player_panel_test.rc
  LIBS kwep_playback kwep_test_support)
add_dependencies(player_panel_tests kwep_skin_images)
target_include_directories(player_panel_tests PRIVATE ${KWEP_SKIN_DIR})
set_source_files_properties(player_panel_test.rc PROPERTIES OBJECT_DEPENDS
  "${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini;${PROJECT_SOURCE_DIR}/resources/manager/player_panel.rc")
target_compile_definitions(player_panel_tests PRIVATE
  KWEP_CAPTURE_SCRIPT="${PROJECT_SOURCE_DIR}/tests/manager/main/file_list/file_list_capture.py"
  KWEP_ARTEFACT_DIR="${PROJECT_BINARY_DIR}/tests/manager/artefacts")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set_tests_properties(player_panel_tests PROPERTIES RESOURCE_LOCK x_display)
endif()
