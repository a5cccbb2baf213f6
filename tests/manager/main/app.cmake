# The application object in the test process (texts from any thread, the message box, translated dialog
# items, commands, msimg32, the common controls' check, the player mutex), and KwepManager2.exe checked
# from outside: the player mutex held by this process, two managers started together, the registry key.
kwep_add_test(kwep_app_tests
  SOURCES app/app_test.cpp app/app_test.rc
  LIBS kwep_main kwep_test_support)
# The test program holds the program's own resources.
add_dependencies(kwep_app_tests kwep_skin_images kwep_manager_icons)
set_source_files_properties(app/app_test.rc PROPERTIES
  INCLUDE_DIRECTORIES "${KWEP_MANAGER_RC_INCLUDES}" OBJECT_DEPENDS "${KWEP_MANAGER_RC_DEPENDS}")

kwep_add_test(kwep_program_tests
  SOURCES app/program_test.cpp
  LIBS kwep_test_support
  COST 10)
add_dependencies(kwep_program_tests kwep_manager2)
target_compile_definitions(kwep_program_tests PRIVATE KWEP_MANAGER_EXE="$<TARGET_FILE:kwep_manager2>")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  set_tests_properties(kwep_app_tests kwep_program_tests PROPERTIES RESOURCE_LOCK x_display)
endif()
