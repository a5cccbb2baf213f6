# The manager's resources: the generated icons read back by icoutils (manager/CMakeLists.txt draws them).
add_test(NAME manager_icons_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/check_icons.py
          ${PROJECT_SOURCE_DIR}/resources/manager/icons.json ${KWEP_MANAGER_RES_DIR})
kwep_set_test_limits(manager_icons_check 5)

# The menus and accelerators: the script against the menu key tables, and compiled into a resource-only
# module whose resources pefile reads back.
add_library(kwep_manager_resource_probe MODULE ${CMAKE_CURRENT_SOURCE_DIR}/resources/resource_probe.rc)
set_target_properties(kwep_manager_resource_probe PROPERTIES PREFIX "" LINKER_LANGUAGE CXX)
target_include_directories(kwep_manager_resource_probe PRIVATE ${PROJECT_SOURCE_DIR})
add_test(NAME manager_menus_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/check_menus.py
          ${PROJECT_SOURCE_DIR}/resources/manager/menus.rc $<TARGET_FILE:kwep_manager_resource_probe>)
kwep_set_test_limits(manager_menus_check 5)
