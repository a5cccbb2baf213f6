# The translation tables and menus: the language files' INI reading, the key tables, the manager.
list(APPEND KWEP_MAIN_SOURCES language/ini_text.cpp language/language_keys.cpp language/language_manager.cpp)
