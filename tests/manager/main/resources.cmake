# The manager's resources: the generated icons read back by icoutils (manager/CMakeLists.txt draws them).
add_test(NAME manager_icons_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/check_icons.py
          ${PROJECT_SOURCE_DIR}/resources/manager/icons.json ${KWEP_MANAGER_RES_DIR})
kwep_set_test_limits(manager_icons_check 5)
