#include "manager/main/main_dlg.h"

#include "manager/framework/skin/cx_skin_file.h"

CKwepManagerDlg::CKwepManagerDlg() : CxMainDlg(IDD_KWEP_MAIN, nullptr)
{
    SetIcon(LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_KWEP_MAIN_ICON)));
    SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
    SetSkinSection(L"main");
    ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0);
}

CKwepManagerDlg::~CKwepManagerDlg() = default;
