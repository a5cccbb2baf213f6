# KwepManager2.exe: the application object (the program's one global), WinMain of platform/afx, and the
# resources: the main dialog's template, the menus, the built-in English file, the icons and the built-in
# skin.
add_executable(kwep_manager2 WIN32 app/kwep_manager_main.cpp app/kwep_manager.rc)
set_target_properties(kwep_manager2 PROPERTIES OUTPUT_NAME KwepManager2 RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_compile_options(kwep_manager2 PRIVATE ${KWEP_WARNINGS})
target_link_libraries(kwep_manager2 PRIVATE kwep_main kwep_afx_winmain)
add_dependencies(kwep_manager2 kwep_skin_images kwep_manager_icons)
# What the program's resource script includes, for whichever target compiles it (the tests do too).
set(KWEP_MANAGER_RC_INCLUDES "${PROJECT_SOURCE_DIR};${KWEP_SKIN_DIR};${KWEP_MANAGER_RES_DIR}" CACHE INTERNAL "")
set(KWEP_MANAGER_RC_DEPENDS
  "${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini;${PROJECT_SOURCE_DIR}/resources/manager/menus.rc;${PROJECT_SOURCE_DIR}/resources/manager/language.rc;${PROJECT_SOURCE_DIR}/resources/manager/english.ini;${KWEP_MANAGER_RES_DIR}/manager_icons.rc;${KWEP_MANAGER_ICON_FILES};${CMAKE_CURRENT_SOURCE_DIR}/app/kwep_manager.rc"
  CACHE INTERNAL "")
set_source_files_properties(app/kwep_manager.rc PROPERTIES
  INCLUDE_DIRECTORIES "${KWEP_MANAGER_RC_INCLUDES}" OBJECT_DEPENDS "${KWEP_MANAGER_RC_DEPENDS}")
