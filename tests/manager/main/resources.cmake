# The manager's resources (resources/manager), checked from outside: the icons by icoutils, the menus,
# accelerators and the built-in English file by Python (configparser), and all of them compiled into a
# resource-only module whose resources pefile reads back.
add_library(kwep_manager_resource_probe MODULE ${CMAKE_CURRENT_SOURCE_DIR}/resources/resource_probe.rc)
set_target_properties(kwep_manager_resource_probe PROPERTIES PREFIX "" LINKER_LANGUAGE CXX)
target_include_directories(kwep_manager_resource_probe PRIVATE ${PROJECT_SOURCE_DIR} ${KWEP_MANAGER_RES_DIR})
add_dependencies(kwep_manager_resource_probe kwep_manager_icons)
set(manager_res ${PROJECT_SOURCE_DIR}/resources/manager)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/resources/resource_probe.rc PROPERTIES OBJECT_DEPENDS
  "${manager_res}/menus.rc;${manager_res}/language.rc;${manager_res}/english.ini;${KWEP_MANAGER_RES_DIR}/manager_icons.rc;${KWEP_MANAGER_ICON_FILES}")

add_test(NAME manager_icons_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/check_icons.py ${manager_res}/icons.json
          ${KWEP_MANAGER_RES_DIR} $<TARGET_FILE:kwep_manager_resource_probe>)
kwep_set_test_limits(manager_icons_check 5)

add_test(NAME manager_menus_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/check_menus.py ${manager_res}/menus.rc
          $<TARGET_FILE:kwep_manager_resource_probe>)
kwep_set_test_limits(manager_menus_check 5)

add_test(NAME manager_english_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/check_language.py ${manager_res}/english.ini
          ${manager_res}/menus.rc $<TARGET_FILE:kwep_manager_resource_probe>)
kwep_set_test_limits(manager_english_check 5)
