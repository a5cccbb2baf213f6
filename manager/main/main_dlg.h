// The manager's main window: the skinned modal dialog (template 102) with the main menu (133) and the
// built-in skin. The panes, the device client and the language tables join it as they are built.
#pragma once

#include "manager/dialogs/cx_main_dlg.h"

constexpr UINT IDD_KWEP_MAIN = 102;

class CKwepManagerDlg : public CxMainDlg {
public:
    CKwepManagerDlg();
    ~CKwepManagerDlg() override;

    // The dialog's set-up, then the warning about an old system or old common controls.
    BOOL OnInitDialog() override;
};
