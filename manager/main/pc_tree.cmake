# The PC folder tree at the left of the main window.
list(APPEND KWEP_MAIN_SOURCES panes/pc_tree.cpp)
