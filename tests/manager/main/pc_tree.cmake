# The PC folder tree: a host standing in for the main window with the built-in skin and the program's own
# icons; the folders made by the Linux shell (pc_tree/make_tree_fixture.sh) and checked with find -L and
# winepath; a second program (pc_tree_probe) reading the tree's items from outside; a program with the tree
# (pc_tree_host) started around values planted and read with Wine's reg tool; the tree captured from the
# X display with xwd into tests/manager/artefacts and measured with Pillow (file_list/file_list_capture.py).
add_executable(pc_tree_probe pc_tree/pc_tree_probe.cpp)
target_compile_options(pc_tree_probe PRIVATE ${KWEP_WARNINGS})
target_link_options(pc_tree_probe PRIVATE -municode)
add_executable(pc_tree_host pc_tree/pc_tree_host.cpp)
target_compile_options(pc_tree_host PRIVATE ${KWEP_WARNINGS})
target_link_options(pc_tree_host PRIVATE -municode)
target_link_libraries(pc_tree_host PRIVATE kwep_main)
kwep_add_test(pc_tree_tests COST 20
  SOURCES pc_tree/pc_tree_test.cpp pc_tree/pc_tree_test.rc
  LIBS kwep_main kwep_test_support shlwapi)
add_dependencies(pc_tree_tests pc_tree_probe pc_tree_host kwep_skin_images kwep_manager_icons)
target_include_directories(pc_tree_tests PRIVATE ${KWEP_SKIN_DIR} ${KWEP_MANAGER_RES_DIR})
set_source_files_properties(pc_tree/pc_tree_test.rc PROPERTIES OBJECT_DEPENDS
  "${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini;${KWEP_MANAGER_RES_DIR}/manager_icons.rc")
target_compile_definitions(pc_tree_tests PRIVATE
  KWEP_PC_TREE_PROBE="$<TARGET_FILE:pc_tree_probe>"
  KWEP_PC_TREE_HOST="$<TARGET_FILE:pc_tree_host>"
  KWEP_PC_TREE_FIXTURE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/pc_tree/make_tree_fixture.sh"
  KWEP_CAPTURE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/file_list/file_list_capture.py"
  KWEP_ARTEFACT_DIR="${PROJECT_BINARY_DIR}/tests/manager/artefacts")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set_tests_properties(pc_tree_tests PROPERTIES RESOURCE_LOCK x_display)
endif()
