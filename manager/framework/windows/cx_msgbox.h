// The framework's message box: the usual button sets and icons plus Continue/Abort, Yes to All,
// No to All, Help and a "Don't ask/tell me again" check box, built as a dialog template in memory and
// laid out from the measured text, with button texts in the user's language.
#pragma once

#include <windows.h>

// Style bits beyond the system's.
constexpr UINT CXMB_CONTINUEABORT = 0x00000008;  // button set: Continue, Abort
constexpr UINT CXMB_HELP = 0x00004000;           // adds Help
constexpr UINT CXMB_DONTASKAGAIN = 0x01000000;   // check box "Don't ask me again"
constexpr UINT CXMB_DONTTELLAGAIN = 0x02000000;  // check box "Don't tell me again" (unless the above)
constexpr UINT CXMB_YESTOALL = 0x04000000;       // Yes to All after Yes (Yes/No and Yes/No/Cancel)
constexpr UINT CXMB_NOTOALL = 0x08000000;        // No to All after No (Yes/No and Yes/No/Cancel)
constexpr UINT CXMB_ENGLISH = 0x10000000;        // the built-in English button texts
constexpr UINT CXMB_NOBEEP = 0x80000000;
// The bits the system's message box does not know.
constexpr UINT CXMB_EXTENSIONS =
    CXMB_DONTASKAGAIN | CXMB_DONTTELLAGAIN | CXMB_YESTOALL | CXMB_NOTOALL | CXMB_ENGLISH | CXMB_NOBEEP;

// Ids of the box's controls and extra results.
constexpr int CXID_YESTOALL = 12;
constexpr int CXID_NOTOALL = 13;
constexpr int CXID_HELP = 300;
constexpr int CXID_CHECKBOX = 5555;
constexpr int CXID_ICON = 1000;
constexpr int CXID_TEXT = 1001;

// Shows the box (owner: the desktop when null; caption: the module's string 0xE000, else "Error", when
// null or empty). Returns the id of the button that ended it, with the check box's style bit added when
// it was shown and ticked; IDCANCEL when the box could not be built.
int ExtMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD helpContextId);
