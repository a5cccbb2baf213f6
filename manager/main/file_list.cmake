# The file list pane, shown three times by the main window.
list(APPEND KWEP_MAIN_SOURCES panes/file_list_pane.cpp)
