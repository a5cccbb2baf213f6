# The application object and its start-up, and the main window it runs.
list(APPEND KWEP_MAIN_SOURCES app/kwep_manager_app.cpp main_dlg.cpp)
