# KwepManager2.exe: the application object (the program's one global), WinMain of platform/afx, and the
# resources: the main dialog's template and menus and the built-in skin.
add_executable(kwep_manager2 WIN32 app/kwep_manager_main.cpp app/kwep_manager.rc)
set_target_properties(kwep_manager2 PROPERTIES OUTPUT_NAME KwepManager2 RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_compile_options(kwep_manager2 PRIVATE ${KWEP_WARNINGS})
target_link_libraries(kwep_manager2 PRIVATE kwep_main kwep_afx_winmain)
add_dependencies(kwep_manager2 kwep_skin_images)
set_source_files_properties(app/kwep_manager.rc PROPERTIES
  INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR};${KWEP_SKIN_DIR}"
  OBJECT_DEPENDS "${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini;${CMAKE_CURRENT_SOURCE_DIR}/app/placeholder_menu.rc")
