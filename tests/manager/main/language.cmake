# The language tables and menus. The tests' built-in language file is written at build time by
# make_language_packs.py, which also writes the fixture packs at test time; check_language_tables.py reads
# the same files with Python's configparser for the table comparison. The host program runs from a copy
# placed beside the fixture's LANGUAGES folder; a second build of it carries the manager's own menus and
# built-in English file (resources/manager).
set(language_dir ${CMAKE_CURRENT_SOURCE_DIR}/language)
set(language_out ${CMAKE_CURRENT_BINARY_DIR}/language)
add_custom_command(
  OUTPUT ${language_out}/english.ini
  COMMAND ${CMAKE_COMMAND} -E make_directory ${language_out}
  COMMAND /usr/bin/python3 ${language_dir}/make_language_packs.py english ${language_out}/english.ini
  DEPENDS ${language_dir}/make_language_packs.py
  COMMENT "Writing the language tests' built-in language file")
add_custom_target(language_test_ini DEPENDS ${language_out}/english.ini)
set_source_files_properties(${language_dir}/language_menus.rc PROPERTIES OBJECT_DEPENDS ${language_out}/english.ini)
set_source_files_properties(${language_dir}/language_host.rc PROPERTIES
  OBJECT_DEPENDS "${language_out}/english.ini;${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini")

add_executable(language_host WIN32 ${language_dir}/language_host.cpp ${language_dir}/language_host.rc)
target_compile_options(language_host PRIVATE ${KWEP_WARNINGS})
target_link_libraries(language_host PRIVATE kwep_main kwep_afx_winmain shell32)
target_include_directories(language_host PRIVATE ${language_out} ${language_dir} ${KWEP_SKIN_DIR})
add_dependencies(language_host language_test_ini kwep_skin_images)

# The same host with the manager's own menus and built-in English file.
add_executable(language_host_res WIN32 ${language_dir}/language_host.cpp ${language_dir}/language_host_res.rc)
target_compile_options(language_host_res PRIVATE ${KWEP_WARNINGS})
target_link_libraries(language_host_res PRIVATE kwep_main kwep_afx_winmain shell32)
target_include_directories(language_host_res PRIVATE ${PROJECT_SOURCE_DIR} ${language_dir} ${KWEP_SKIN_DIR})
add_dependencies(language_host_res kwep_skin_images)
set(manager_res ${PROJECT_SOURCE_DIR}/resources/manager)
set_source_files_properties(${language_dir}/language_host_res.rc PROPERTIES OBJECT_DEPENDS
  "${manager_res}/menus.rc;${manager_res}/language.rc;${manager_res}/english.ini;${KWEP_SKIN_DIR}/skin_images.rc;${KWEP_SKIN_DIR}/skin_resource.ini")

kwep_add_test(language_tests COST 30
  SOURCES ${language_dir}/language_test.cpp ${language_dir}/language_menus.rc
  LIBS kwep_main kwep_test_support)
target_include_directories(language_tests PRIVATE ${language_out})
add_dependencies(language_tests language_test_ini language_host language_host_res)
file(RELATIVE_PATH language_host_relative ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/language_host.exe)
file(RELATIVE_PATH language_host_res_relative ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/language_host_res.exe)
target_compile_definitions(language_tests PRIVATE
  KWEP_LANGUAGE_HOST_RELATIVE="${language_host_relative}"
  KWEP_LANGUAGE_HOST_RES_RELATIVE="${language_host_res_relative}"
  KWEP_MANAGER_ENGLISH_INI="${manager_res}/english.ini"
  KWEP_LANGUAGE_PACKS_SCRIPT="${language_dir}/make_language_packs.py"
  KWEP_LANGUAGE_CHECK_SCRIPT="${language_dir}/check_language_tables.py"
  KWEP_LANGUAGE_ENGLISH_INI="${language_out}/english.ini")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set_tests_properties(language_tests PROPERTIES RESOURCE_LOCK x_display)
endif()
