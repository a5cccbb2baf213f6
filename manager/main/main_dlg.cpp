#include "manager/main/main_dlg.h"

#include "manager/framework/skin/cx_skin_file.h"
#include "manager/main/app/kwep_manager_app.h"

CKwepManagerDlg::CKwepManagerDlg() : CxMainDlg(IDD_KWEP_MAIN, nullptr)
{
    SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
    SetSkinSection(L"main");
    ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0);
}

CKwepManagerDlg::~CKwepManagerDlg() = default;

BOOL CKwepManagerDlg::OnInitDialog()
{
    const BOOL result = CxMainDlg::OnInitDialog();
    if (CKwepManagerApp* app = KwepGetApp())
        app->CheckCommonControlsVersion(m_hWnd);
    return result;
}
