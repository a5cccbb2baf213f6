// The framework's application base: registry key and profile, the single-instance guard, the
// application's persisted properties, and the translated texts every framework window asks for.
#pragma once

#include "manager/framework/windows/cx_persist.h"
#include "platform/afx/afx.h"

class CxWinApp : public CWinApp, public virtual CxPersistProps {
public:
    CxWinApp();
    ~CxWinApp() override;

    // The application's GUID, which names its single-instance guard.
    virtual const GUID* GetAppGuid() = 0;
    // Scope of the guard: 0 machine, 1 desktop, 2 logon session, 3 user.
    virtual int GetInstanceScope() = 0;
    // Sets the registry key and the profile name; the first start-up step.
    virtual void InitRegistry() = 0;
    // The translated text of a user-interface string id; nonzero when found.
    virtual BOOL GetString(CxString& text, UINT id) = 0;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // "software", the registry key, the profile name (an empty component for a missing one).
    HRESULT GetPersistKeyPath(CxKeyPath& path) override;
    // Adds "ToolTips" (the tooltip switch, low flag 0x08000000).
    HRESULT GetPersistProps(CxPersistEntries& list) override;

    // The instance name: program file name (lower case, no folder or extension), "-", the GUID, and for
    // scopes 1-3 "-" and the desktop, logon session or user. Null (and a failure) when it cannot be built.
    static HRESULT MakeExclusionName(const GUID* guid, int scope, CxString* name);
    // TRUE when no other instance runs; otherwise brings the other instance's window to the front.
    BOOL CheckSingleInstance(const GUID* guid, int scope);
    // The registered message the running instance's main window answers with the message's own id; 0
    // before InitInstance registered it.
    static UINT GetInstanceMessage();
    static BOOL CALLBACK FindInstanceWindowProc(HWND hWnd, LPARAM lParam);

    // The application's flags (the tooltip switch lives here).
    DWORD GetFlagsLow() const { return m_flagsLow; }
    void ModifyAppFlags(DWORD setLow, DWORD clearLow) { m_flagsLow = (m_flagsLow | setLow) & ~clearLow; }

private:
    HANDLE m_instanceMutex = nullptr;
};

// The application object as the framework's base, or null.
CxWinApp* CxGetApp();
