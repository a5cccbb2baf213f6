# What the panes share.
list(APPEND KWEP_MAIN_SOURCES panes/pane_images.cpp panes/pane_colours.cpp)
