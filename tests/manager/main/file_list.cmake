# The file list pane: three lists on a host standing in for the main window, with the built-in skin and
# the program's own icons; a second program (file_list_probe) reads a cell and the progress bar through
# the list's messages while a worker drives the progress, and the panes are captured from the X display
# with xwd into tests/manager/artefacts and measured with Pillow (file_list_capture.py).
add_executable(file_list_probe file_list/file_list_probe.cpp)
target_compile_options(file_list_probe PRIVATE ${KWEP_WARNINGS})
target_link_options(file_list_probe PRIVATE -municode)
kwep_add_test(file_list_pane_tests COST 20
  SOURCES file_list/file_list_test.cpp file_list/file_list_test.rc
  LIBS kwep_main kwep_test_support)
add_dependencies(file_list_pane_tests file_list_probe kwep_skin_images kwep_manager_icons)
target_include_directories(file_list_pane_tests PRIVATE ${KWEP_SKIN_DIR} ${KWEP_MANAGER_RES_DIR})
set_source_files_properties(file_list/file_list_test.rc PROPERTIES OBJECT_DEPENDS
  "${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini;${KWEP_MANAGER_RES_DIR}/manager_icons.rc")
target_compile_definitions(file_list_pane_tests PRIVATE
  KWEP_FILE_LIST_PROBE="$<TARGET_FILE:file_list_probe>"
  KWEP_FILE_LIST_CAPTURE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/file_list/file_list_capture.py"
  KWEP_SKIN_INI="${KWEP_SKIN_DIR}/skin_resource.ini"
  KWEP_ARTEFACT_DIR="${PROJECT_BINARY_DIR}/tests/manager/artefacts")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set_tests_properties(file_list_pane_tests PROPERTIES RESOURCE_LOCK x_display)
endif()
