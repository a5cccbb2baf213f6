// The object root, command targets and message maps of our MFC-like layer.
//
// A message map is a static table per class, chained to its base class's table. Each entry names a
// window message, a command (with a notification code and an id range) or a notification, and a
// small dispatcher instantiated from the handler's member pointer, so handlers keep their typed
// MFC-style signatures without any casts in the classes that declare them.
#pragma once

#include <windows.h>

#include <commctrl.h>

class CCmdTarget;
class CCmdUI;
class CWnd;

// Root of every class of the layer. The run-time class test is C++ RTTI.
class CObject {
public:
    virtual ~CObject() = default;

    template <class T>
    bool IsKindOf() const
    {
        return dynamic_cast<const T*>(this) != nullptr;
    }

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

#define DYNAMIC_DOWNCAST(theClass, object) dynamic_cast<theClass*>(object)

// Notification codes as OnCmdMsg sees them (MFC's encoding: WM_NOTIFY codes carry WM_NOTIFY in the
// high word).
constexpr int CN_COMMAND = 0;
constexpr int CN_UPDATE_COMMAND_UI = -1;

// What one handler call carries; the dispatchers pick what their signature needs.
struct AFX_MSGCALL {
    UINT message = 0;  // window message (0 for commands and notifications)
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    UINT nID = 0;            // command or control id
    int nCode = 0;           // notification code (low word of OnCmdMsg's nCode)
    void* pExtra = nullptr;  // AFX_NOTIFY for notifications
    LRESULT result = 0;
};

// pExtra of a WM_NOTIFY dispatch.
struct AFX_NOTIFY {
    LRESULT* pResult;
    NMHDR* pNMHDR;
};

// Filled instead of calling the handler when OnCmdMsg is asked only whether a handler exists.
struct AFX_MSGMAP_ENTRY;
struct AFX_CMDHANDLERINFO {
    CCmdTarget* pTarget;
    const AFX_MSGMAP_ENTRY* pEntry;
};

using AFX_PMSG = BOOL (*)(CCmdTarget* target, AFX_MSGCALL& call);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;            // WM_xxx, WM_COMMAND or WM_NOTIFY; 0 ends the table
    UINT nCode;               // notification code (WORD) for WM_COMMAND and WM_NOTIFY entries
    UINT nID;                 // first id
    UINT nLastID;             // last id (same as nID for single ids)
    const UINT* pRegistered;  // registered message: the variable holding its number
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Marks an entry for a registered message (its number lives in a variable).
constexpr UINT AFX_REGISTERED_MESSAGE = 0xC000;

// Dispatchers: one per handler signature. T is the class of the map, F the handler.
namespace afx_detail {

template <class T>
T* Target(CCmdTarget* target)
{
    return static_cast<T*>(target);
}

template <class T, auto F>
BOOL MsgWL(CCmdTarget* t, AFX_MSGCALL& c)  // LRESULT OnX(WPARAM, LPARAM)
{
    c.result = (Target<T>(t)->*F)(c.wParam, c.lParam);
    return TRUE;
}

template <class T, auto F>
BOOL MsgVoid(CCmdTarget* t, AFX_MSGCALL& c)  // void OnX()
{
    (Target<T>(t)->*F)();
    c.result = 0;
    return TRUE;
}

template <class T, auto F>
BOOL MsgCreate(CCmdTarget* t, AFX_MSGCALL& c)  // int OnCreate(LPCREATESTRUCT)
{
    c.result = (Target<T>(t)->*F)(reinterpret_cast<LPCREATESTRUCT>(c.lParam));
    return TRUE;
}

template <class T, auto F>
BOOL MsgTimer(CCmdTarget* t, AFX_MSGCALL& c)  // void OnTimer(UINT_PTR)
{
    (Target<T>(t)->*F)(static_cast<UINT_PTR>(c.wParam));
    c.result = 0;
    return TRUE;
}

template <class T, auto F>
BOOL MsgSize(CCmdTarget* t, AFX_MSGCALL& c)  // void OnSize(UINT, int, int)
{
    (Target<T>(t)->*F)(static_cast<UINT>(c.wParam), static_cast<short>(LOWORD(c.lParam)),
                       static_cast<short>(HIWORD(c.lParam)));
    c.result = 0;
    return TRUE;
}

template <class T, auto F>
BOOL Cmd(CCmdTarget* t, AFX_MSGCALL& c)  // void OnX()
{
    (Target<T>(t)->*F)();
    c.result = 0;
    return TRUE;
}

template <class T, auto F>
BOOL CmdRange(CCmdTarget* t, AFX_MSGCALL& c)  // void OnX(UINT id)
{
    (Target<T>(t)->*F)(c.nID);
    c.result = 0;
    return TRUE;
}

template <class T, auto F>
BOOL UpdateUI(CCmdTarget* t, AFX_MSGCALL& c)  // void OnUpdateX(CCmdUI*)
{
    (Target<T>(t)->*F)(static_cast<CCmdUI*>(c.pExtra));
    return TRUE;
}

template <class T, auto F>
BOOL Notify(CCmdTarget* t, AFX_MSGCALL& c)  // void OnX(NMHDR*, LRESULT*)
{
    auto* n = static_cast<AFX_NOTIFY*>(c.pExtra);
    (Target<T>(t)->*F)(n->pNMHDR, n->pResult);
    return TRUE;
}

template <class T, auto F>
BOOL NotifyRange(CCmdTarget* t, AFX_MSGCALL& c)  // void OnX(UINT id, NMHDR*, LRESULT*)
{
    auto* n = static_cast<AFX_NOTIFY*>(c.pExtra);
    (Target<T>(t)->*F)(c.nID, n->pNMHDR, n->pResult);
    return TRUE;
}

}  // namespace afx_detail

// Base of every class with a message map: the window, the dialog and the application.
class CCmdTarget : public CObject {
public:
    // Routes a command or notification (nCode: CN_COMMAND, a control notification code, or
    // MAKELONG(code, WM_NOTIFY)) through this object's map. With pHandlerInfo, only reports whether
    // a handler exists and which one.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // The first entry for a window message in this object's map chain, or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message) const;
};

// Put at the end of a class declaration; what follows it is protected.
#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)        \
    const AFX_MSGMAP* theClass::GetMessageMap() const \
    {                                                 \
        return GetThisMessageMap();                   \
    }                                                 \
    const AFX_MSGMAP* theClass::GetThisMessageMap()   \
    {                                                 \
        using ThisClass [[maybe_unused]] = theClass;  \
        using TheBaseClass = baseClass;               \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {
#define END_MESSAGE_MAP()                                                                    \
    {                                                                                        \
        0, 0, 0, 0, nullptr, nullptr                                                         \
    }                                                                                        \
    }                                                                                        \
    ;                                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, messageEntries}; \
    return &messageMap;                                                                      \
    }

// Window messages.
#define ON_MESSAGE(message, memberFxn) \
    {static_cast<UINT>(message), 0, 0, 0, nullptr, &afx_detail::MsgWL<ThisClass, &ThisClass::memberFxn>},
#define ON_REGISTERED_MESSAGE(messageVariable, memberFxn) \
    {AFX_REGISTERED_MESSAGE, 0, 0, 0, &messageVariable, &afx_detail::MsgWL<ThisClass, &ThisClass::memberFxn>},
#define ON_WM_CREATE() {WM_CREATE, 0, 0, 0, nullptr, &afx_detail::MsgCreate<ThisClass, &ThisClass::OnCreate>},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, 0, nullptr, &afx_detail::MsgVoid<ThisClass, &ThisClass::OnDestroy>},
#define ON_WM_NCDESTROY() {WM_NCDESTROY, 0, 0, 0, nullptr, &afx_detail::MsgVoid<ThisClass, &ThisClass::OnNcDestroy>},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, 0, nullptr, &afx_detail::MsgVoid<ThisClass, &ThisClass::OnClose>},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, 0, nullptr, &afx_detail::MsgTimer<ThisClass, &ThisClass::OnTimer>},
#define ON_WM_SIZE() {WM_SIZE, 0, 0, 0, nullptr, &afx_detail::MsgSize<ThisClass, &ThisClass::OnSize>},

// Commands (menus, accelerators, and control notifications through WM_COMMAND).
#define ON_COMMAND(id, memberFxn)   \
    {WM_COMMAND,                    \
     static_cast<WORD>(CN_COMMAND), \
     static_cast<UINT>(id),         \
     static_cast<UINT>(id),         \
     nullptr,                       \
     &afx_detail::Cmd<ThisClass, &ThisClass::memberFxn>},
#define ON_COMMAND_RANGE(id, idLast, memberFxn) \
    {WM_COMMAND,                                \
     static_cast<WORD>(CN_COMMAND),             \
     static_cast<UINT>(id),                     \
     static_cast<UINT>(idLast),                 \
     nullptr,                                   \
     &afx_detail::CmdRange<ThisClass, &ThisClass::memberFxn>},
#define ON_CONTROL(wNotifyCode, id, memberFxn) \
    {WM_COMMAND,                               \
     static_cast<WORD>(wNotifyCode),           \
     static_cast<UINT>(id),                    \
     static_cast<UINT>(id),                    \
     nullptr,                                  \
     &afx_detail::Cmd<ThisClass, &ThisClass::memberFxn>},
#define ON_CONTROL_RANGE(wNotifyCode, id, idLast, memberFxn) \
    {WM_COMMAND,                                             \
     static_cast<WORD>(wNotifyCode),                         \
     static_cast<UINT>(id),                                  \
     static_cast<UINT>(idLast),                              \
     nullptr,                                                \
     &afx_detail::CmdRange<ThisClass, &ThisClass::memberFxn>},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ON_CONTROL(CBN_SELCHANGE, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)

// Command-UI updates: the handler sets the state of the control or menu item through its CCmdUI.
#define ON_UPDATE_COMMAND_UI(id, memberFxn)   \
    {WM_COMMAND,                              \
     static_cast<UINT>(CN_UPDATE_COMMAND_UI), \
     static_cast<UINT>(id),                   \
     static_cast<UINT>(id),                   \
     nullptr,                                 \
     &afx_detail::UpdateUI<ThisClass, &ThisClass::memberFxn>},

// Notifications (WM_NOTIFY).
#define ON_NOTIFY(wNotifyCode, id, memberFxn) \
    {WM_NOTIFY,                               \
     static_cast<WORD>(wNotifyCode),          \
     static_cast<UINT>(id),                   \
     static_cast<UINT>(id),                   \
     nullptr,                                 \
     &afx_detail::Notify<ThisClass, &ThisClass::memberFxn>},
#define ON_NOTIFY_RANGE(wNotifyCode, id, idLast, memberFxn) \
    {WM_NOTIFY,                                             \
     static_cast<WORD>(wNotifyCode),                        \
     static_cast<UINT>(id),                                 \
     static_cast<UINT>(idLast),                             \
     nullptr,                                               \
     &afx_detail::NotifyRange<ThisClass, &ThisClass::memberFxn>},
