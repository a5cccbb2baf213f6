// The framework's private window messages and the Cx window flag bits: the one table that every
// framework window, control and the main window share, so that no two uses collide.
#pragma once

#include <windows.h>

// ---- Private messages: WM_USER + 0x400 on ----
// wParam and lParam as the sender fills them; a pointer in a sent message is valid for the call; for a
// posted message the receiver owns what the sender allocated (framework heap, CxFree).

constexpr UINT CXM_FIRST = 0x800;
constexpr UINT CXM_FLAGSCHANGED = 0x800;       // 0 / 0: the flags changed; re-read them
constexpr UINT CXM_GETFLAGS = 0x801;           // DWORD[2] to fill (low, high) / 0 -> 1 (0 for null wParam)
constexpr UINT CXM_MODIFYFLAGS = 0x802;        // CxModifyFlagsParams* / 0 -> 1 (0 for null wParam)
constexpr UINT CXM_SETTOOLTIP = 0x803;         // wide text / flags -> nonzero
constexpr UINT CXM_SETTEXT = 0x804;            // heap copy of a hover text, or null / 0 (posted to the parent)
constexpr UINT CXM_SAVEPROPS = 0x805;          // 0 / 0 -> 1
constexpr UINT CXM_LOADPROPS = 0x806;          // 0 / 0 -> 1
constexpr UINT CXM_INITSKIN = 0x807;           // 0 / 0: first skin load of the window
constexpr UINT CXM_DRAGWINDOW = 0x808;         // window to drag / 0 -> 1 when dragged
constexpr UINT CXM_ENDDIALOG = 0x809;          // 0 / dialog result -> 1
constexpr UINT CXM_GETROOTKEY = 0x80A;         // 0 / 0 -> registry root key
constexpr UINT CXM_GETPERSISTKEYPATH = 0x80B;  // key path array to append to / 0 -> 1 (0 for null wParam)
constexpr UINT CXM_BUILDPACKMENU = 0x80C;      // menu / pinned position
constexpr UINT CXM_APPLYSELECTEDSKIN = 0x80D;  // skin file text or 0 / pack id or -1
constexpr UINT CXM_GETSKINFILE = 0x80E;     // wide-string pointer to receive a heap copy / 0 -> nonzero when answered
constexpr UINT CXM_GETPACKTEXT = 0x80F;     // {key index, element index, pack id, selector}* / CxString*
constexpr UINT CXM_APPLYSKINFILE = 0x810;   // wide location of the skin file / CxSkinPackData* or 0
constexpr UINT CXM_APPLYSHAPE = 0x811;      // 0 / 0 -> 2 when applying failed, else 1
constexpr UINT CXM_PACKLISTBUILT = 0x812;   // array of pack INI files / 0
constexpr UINT CXM_GETSKINSECTION = 0x813;  // control id + 2 / wide-string pointer to receive -> nonzero when answered
constexpr UINT CXM_ADDCHILDREGION = 0x814;  // HRGN* holding the region to combine into / combine mode
constexpr UINT CXM_SETREGION = 0x815;       // region handle (taken over) / child to leave out -> TRUE (FALSE for null)
constexpr UINT CXM_GETREGION = 0x816;       // region handle* to receive a copy / offset by the frame -> TRUE on success
constexpr UINT CXM_FRAMEIMAGESET = 0x817;   // 1 when a frame image is applied, 0 when removed / 0
constexpr UINT CXM_ASKOWNER = 0x818;        // section name / key name -> nonzero: may read from the pack file
constexpr UINT CXM_GETPACKFILE = 0x819;     // CxString* / 0 -> nonzero when answered
constexpr UINT CXM_INITCONTROL = 0x81A;     // 0 / 0 -> 1: skin set-up of a subclassed control
constexpr UINT CXM_GETBUTTONSTYLE = 0x81B;  // 0 / 0 -> the button's own style before owner draw
constexpr UINT CXM_BUTTONCLICK = 0x81C;     // 0 / 0 -> 1: advance the check state as a click does
constexpr UINT CXM_DISABLEKEYCLICK = 0x81D;  // control id / 0 -> nonzero: Enter and Space do not click
// 0x81E-0x824 and 0x82A-0x82B have no name in the tables that define them; these names are ours.
constexpr UINT CXM_CUSTOMDRAW = 0x81E;       // NM_CUSTOMDRAW data forwarded to the notifying list / 0
constexpr UINT CXM_GETTREEPATH = 0x81F;      // text pointer to receive a heap copy of the tree's path / 0
constexpr UINT CXM_SELECTTREEPATH = 0x820;   // path text or null / 0
constexpr UINT CXM_GETLANGUAGE = 0x821;      // text to receive the current language location / 0
constexpr UINT CXM_SELECTLANGUAGE = 0x822;   // language location / pack command id
constexpr UINT CXM_GETLANGUAGETEXT = 0x823;  // pack text request / CxString* (language menu prompts)
constexpr UINT CXM_TRANSLATE = 0x824;        // language location / 0: translate menus and texts again
constexpr UINT CXM_ENABLETOOLTIPS = 0x825;   // TRUE or FALSE / 0 -> 1
constexpr UINT CXM_SETFONT = 0x826;          // font / 0 -> 1: take the font
constexpr UINT CXM_GETFONT = 0x827;          // font handle* to receive the user font / 0
constexpr UINT CXM_PRESIZE = 0x828;          // width / height: the frame is about to resize
constexpr UINT CXM_ADDOFFSETS = 0x829;       // {dx, dy}* / {dw, dh}*
constexpr UINT CXM_REPOSITION = 0x82A;       // new window rectangle* / 0: lay the controls out against it
constexpr UINT CXM_SETEDITCELL = 0x82B;      // {row, column}* / nonzero clears -> nonzero
constexpr UINT CXM_APPLYPLACEMENT = 0x82C;   // show command / WINDOWPLACEMENT* or 0
constexpr UINT CXM_PAINTBKGND = 0x82D;  // device context / {x, y, cx, cy}* or 0 -> TRUE (FALSE without DC or bitmap)
constexpr UINT CXM_LAST = 0x82D;

// ---- Cx window flags, low half ----
// Framework-wide flags and per-class state bits (the meaning of a per-class bit lies with its class).

constexpr DWORD CXFL_CANSAVEPROPS = 0x00000001;        // persisted properties may be saved
constexpr DWORD CXFL_CANLOADPROPS = 0x00000002;        // persisted properties may be loaded
constexpr DWORD CXFL_RESTOREPLACEMENT = 0x00000004;    // the saved placement is restored
constexpr DWORD CXFL_HASTOOLTIP = 0x00000008;          // the control has a tooltip text (posts its hover text)
constexpr DWORD CXFL_CAPTURED = 0x00000010;            // mouse captured
constexpr DWORD CXFL_SKINREGION = 0x00000020;          // a window region from the skin is applied
constexpr DWORD CXFL_PINSECONDPACK = 0x00000040;       // main window: the pack list pins its second pack
constexpr DWORD CXFL_PAINTINGBKGND = 0x00000200;       // the background is being painted
constexpr DWORD CXFL_BKGNDBLOCKED = 0x00000400;        // background painting skipped while a new bitmap is stored
constexpr DWORD CXFL_REGIONPENDING = 0x00000800;       // a region waits because the window was minimised
constexpr DWORD CXFL_CLASSSTATE = 0x00001000;          // list and tree layers: per-class state
constexpr DWORD CXFL_APPLYSHAPEONCREATE = 0x00004000;  // send CXM_APPLYSHAPE on WM_CREATE
constexpr DWORD CXFL_PRESSABLE = 0x00008000;           // the control may be pressed with the mouse
constexpr DWORD CXFL_HOVER = 0x00010000;               // the mouse is over the control
constexpr DWORD CXFL_SKINLOADED = 0x00020000;          // the skin has been loaded once
constexpr DWORD CXFL_MOUSEPRESSED = 0x00040000;        // pressed with the mouse (capture held)
constexpr DWORD CXFL_KEYPRESSED = 0x00080000;          // pressed with the keyboard
constexpr DWORD CXFL_KEEPENABLED = 0x00200000;         // controls without a command handler stay enabled
constexpr DWORD CXFL_NOREDRAWMOVE = 0x00400000;        // move and size without redrawing
constexpr DWORD CXFL_FRAMEIMAGE = 0x00800000;          // frame image applied
constexpr DWORD CXFL_FULLDRAGSWITCHED = 0x01000000;    // full-window dragging switched on for this move or size
constexpr DWORD CXFL_CLICKENDS = 0x02000000;           // a client click ends the dialog with IDOK (unless Shift)
constexpr DWORD CXFL_NOTOOLTIPS = 0x08000000;          // tooltips are switched off (application object)
constexpr DWORD CXFL_GETSTATEFORWARD = 0x20000000;     // buttons: a state query is being forwarded
constexpr DWORD CXFL_OWNERDRAWSET = 0x40000000;        // buttons: the owner-drawn style is applied
constexpr DWORD CXFL_NOCHECKEMULATION = 0x80000000;    // buttons: the check state is not emulated

// ---- Cx window flags, high half (mostly per-class options) ----

constexpr DWORD CXFH_NODRAG = 0x00000001;           // never dragged by CXM_DRAGWINDOW
constexpr DWORD CXFH_SYSTEMNCPAINT = 0x00000002;    // WM_NCPAINT is left to the system
constexpr DWORD CXFH_KEEPFRAMESTYLE = 0x00000004;   // frame option of the skinned frame and regions
constexpr DWORD CXFH_NOKEYCLICK = 0x00000008;       // no keyboard press (Space, Enter)
constexpr DWORD CXFH_SWALLOWESCAPE = 0x00000010;    // the button swallows Esc
constexpr DWORD CXFH_NOREGIONCUT = 0x00000020;      // no region is cut from the image
constexpr DWORD CXFH_BUTTONBUSY = 0x00000040;       // buttons: set and cleared by the button itself
constexpr DWORD CXFH_TREESTATE = 0x00000080;        // PC folder tree state
constexpr DWORD CXFH_UNDERBUDDY = 0x00000100;       // bars and lists: drawing option
constexpr DWORD CXFH_DRAWOPTION2 = 0x00000200;      // bars and lists: drawing option
constexpr DWORD CXFH_DRAWOPTION3 = 0x00000400;      // bars and lists: drawing option
constexpr DWORD CXFH_SKINCOLOURS = 0x00000800;      // bars and lists: drawing option
constexpr DWORD CXFH_LANGUAGEREBUILD = 0x00002000;  // main window: language menu rebuild running
constexpr DWORD CXFH_LANGUAGELOOKUP = 0x00004000;   // main window: language lookup running
constexpr DWORD CXFH_PARENTFONT = 0x00008000;       // bars and lists: the font comes from the parent
constexpr DWORD CXFH_SCROLLPENDING = 0x00010000;    // text bar: a re-layout of the text is pending
constexpr DWORD CXFH_TEXTSCROLLS = 0x00020000;      // text bar: the text scrolls
constexpr DWORD CXFH_NOIDLEPROMPT = 0x00040000;     // main window: read by the skinned dialog with menus
constexpr DWORD CXFH_STRETCH = 0x00080000;          // stretch layout (minimum size, anchors, grid)
constexpr DWORD CXFH_BKGNDSTALE = 0x00100000;       // background out of date; rebuilt at the next paint
constexpr DWORD CXFH_MAINWINDOW = 0x00200000;       // main-window option
constexpr DWORD CXFH_TREEEXPANDING = 0x00400000;    // PC folder tree state
constexpr DWORD CXFH_FITWORKAREA = 0x00800000;      // no stored placement: fit to 90% of the work area
constexpr DWORD CXFH_MENUSLOCKED = 0x01000000;      // main window menu state
constexpr DWORD CXFH_SELFPLACEMENT = 0x02000000;    // the window applies a restored placement itself
constexpr DWORD CXFH_SKINFRAMESIZE = 0x04000000;    // the frame size is the stored skin frame size

// What the main window sets at start.
constexpr DWORD CXFL_MAINWINDOWSTART = 0x0000004F;
constexpr DWORD CXFH_MAINWINDOWSTART = 0x028C0026;

// wParam of CXM_MODIFYFLAGS.
struct CxModifyFlagsParams {
    DWORD setLow;
    DWORD setHigh;
    DWORD clearLow;
    DWORD clearHigh;
    DWORD reserved;
    DWORD notify;
    DWORD post;
};
static_assert(sizeof(CxModifyFlagsParams) == 28, "seven 32-bit values");
