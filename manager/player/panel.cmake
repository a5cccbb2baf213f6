# The player panel (its dialog template lies in resources/manager/player_panel.rc).
list(APPEND KWEP_PLAYER_SOURCES player_panel.cpp)
