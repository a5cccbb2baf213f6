# The media player's window with the real media player control (registered in every test prefix), an
# owner that stands in for the main dialog, and WAV and MP3 files written by the test.
kwep_add_test(media_player_host_tests SOURCES media_player_host_test.cpp LIBS kwep_playback)
add_dependencies(media_player_host_tests KwepMediaPlayer)
