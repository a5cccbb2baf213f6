// Our small stand-in for the MFC classes that a program derives from: command targets and message
// maps, windows, dialogs and the application object. Thin over Win32, Unicode entry points only.
#pragma once

#include "afx_msgmap.h"
#include "afx_wnd.h"
#include "afx_dialog.h"
#include "afx_app.h"
