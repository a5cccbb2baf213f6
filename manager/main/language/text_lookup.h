// Where the application's translated-string service finds its texts: the main window's language
// tables, registered with the application for the window's life. Lookups come from any thread.
#pragma once

#include "manager/framework/windows/cx_string.h"

class CTextLookup {
public:
    // The text of the id in the active tables (or the program's string table); FALSE with an empty text
    // when neither has it. Safe on any thread while the lookup is registered.
    virtual BOOL LookupTranslation(CxString& text, UINT id) = 0;

protected:
    ~CTextLookup() = default;
};
