# The media player's window: hosts the media player control (its interfaces from the control's
# generated header) and turns its events into the main window's player display.
list(APPEND KWEP_PLAYER_SOURCES media_player_host.cpp)
list(APPEND KWEP_PLAYER_LIBS kwep_atl mediaplayer_idl ole32 oleaut32 uuid)
