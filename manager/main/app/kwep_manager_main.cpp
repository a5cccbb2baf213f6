// The program's application object; WinMain (platform/afx) runs it.
#include "manager/main/app/kwep_manager_app.h"

CKwepManagerApp theApp;
