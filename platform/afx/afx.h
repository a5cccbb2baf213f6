// Our small stand-in for the MFC classes that a program derives from: command targets and message
// maps, windows, dialogs and the application object. Thin over Win32, Unicode entry points only.
#pragma once

#include "platform/afx/afx_msgmap.h"
#include "platform/afx/afx_wnd.h"
#include "platform/afx/afx_dialog.h"
#include "platform/afx/afx_app.h"
#include "platform/afx/afx_gdi.h"
#include "platform/afx/afx_file.h"
