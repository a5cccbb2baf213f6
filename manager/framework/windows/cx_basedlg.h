// The base of every framework dialog: component maps, persisted placement, accelerators, window icon,
// translated tooltips, dragging by the client area, end-by-click, idle command-UI update, a minimum
// size and an anchored layout of child controls.
#pragma once

#include "manager/framework/windows/cx_persist.h"

// One anchored control: its id and eight {move factor, size factor} pairs, indexed 0 left edge grew,
// 1 left shrank, 2 top grew, 3 top shrank, 4 right shrank, 5 right grew, 6 bottom shrank, 7 bottom grew.
struct CxAnchor {
    int id;
    int factors[8][2];
};
static_assert(sizeof(CxAnchor) == 17 * sizeof(int), "the caller's table holds 17 ints per control");

// Edge flags of the anchored layout.
constexpr UINT CX_EDGE_LEFT = 1;
constexpr UINT CX_EDGE_TOP = 2;
constexpr UINT CX_EDGE_RIGHT = 4;
constexpr UINT CX_EDGE_BOTTOM = 8;
constexpr UINT CX_EDGES_RESTORED = 0x2F;
constexpr UINT CX_EDGES_MAXIMIZED = 0x1F;

// A control id and the string id of its translated text ("prompt\ntip": the tooltip is the part after
// the first line break, or the whole text).
struct CxControlText {
    UINT controlId;
    UINT stringId;
};

class CxBaseDlg : public CxWindowProcT<CDialog>, public CxPersistWnd, public CxEndDialogLink {
public:
    CxBaseDlg();
    CxBaseDlg(UINT nIDTemplate, CWnd* pParentWnd);
    CxBaseDlg(LPCWSTR lpszTemplateName, CWnd* pParentWnd);
    ~CxBaseDlg() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    // Sets the tooltips of the controls that exist from the application's translated strings.
    virtual void TranslateControls(const CxControlText* table, int count);
    // The idle update: controls without a handler are disabled unless low flag 0x00200000 is set.
    virtual void UpdateCommandUI();
    // The anchored layout against a new window rectangle (which the minimum-size clamp may narrow).
    // 0x8000000A when no anchor is registered.
    virtual HRESULT RepositionControls(UINT edges, RECT& base, RECT& newRect);

    // Registers the anchors of the controls that exist and lays them out once.
    HRESULT SetAnchors(const CxAnchor* table, int count, BOOL drawGrip, BOOL gripHitTest);

    // The application's key path and "d_%08x" of the template id.
    HRESULT GetPersistKeyPath(CxKeyPath& path) override;
    // "Placement", then the records are built.
    HRESULT GetPersistProps(CxPersistEntries& list) override;

    void SetIcon(HICON icon) { m_hIcon = icon; }
    // The table becomes the dialog's; it is destroyed with the window.
    void SetAccelerators(HACCEL accel) { m_hAccel = accel; }
    HACCEL GetAccelerators() const { return m_hAccel; }
    CToolTipCtrl& GetToolTip() { return m_toolTip; }
    int GetAnchorCount() const { return m_anchors.GetCount(); }
    // Destroys the accelerator table: E_INVALIDARG when none is held, E_FAIL when it cannot be; the
    // handle is forgotten either way.
    HRESULT DestroyAccelerators();

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

    LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnKickIdle(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcHitTest(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);

    RECT GripRect() const;

    struct AnchorEntry {
        CxAnchor anchor;
        int width;
        int height;
    };

    CToolTipCtrl m_toolTip;
    // The layout record.
    BOOL m_layoutInitialised = FALSE;
    RECT m_baseRect{};
    int m_minWidth = 0;
    int m_minHeight = 0;
    BOOL m_drawGrip = FALSE;
    BOOL m_gripHitTest = FALSE;
    CxArray<AnchorEntry> m_anchors{1};
    int m_gripWidth = 0;
    int m_gripHeight = 0;

    HICON m_hIcon = nullptr;
    HACCEL m_hAccel = nullptr;

private:
    void Construct();

    DECLARE_MESSAGE_MAP()
};
