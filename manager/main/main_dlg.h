// The manager's main window: the skinned modal dialog (template 102) with the main menu (133) and the
// built-in skin. The panes, the device client and the language tables join it as they are built.
#pragma once

#include "manager/dialogs/cx_main_dlg.h"

constexpr UINT IDD_KWEP_MAIN = 102;
constexpr UINT IDR_KWEP_MAIN_MENU = 133;
constexpr UINT IDR_KWEP_MAIN_ICON = 128;

class CKwepManagerDlg : public CxMainDlg {
public:
    CKwepManagerDlg();
    ~CKwepManagerDlg() override;
};
