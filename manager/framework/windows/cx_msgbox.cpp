#include "manager/framework/windows/cx_msgbox.h"

#include "manager/framework/windows/cx_app.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Built-in English texts, in the order of the translated strings 9001-9013.
enum TextIndex {
    T_OK,
    T_CANCEL,
    T_IGNORE,
    T_RETRY,
    T_ABORT,
    T_HELP,
    T_YES,
    T_NO,
    T_CONTINUE,
    T_ASK,
    T_TELL,
    T_YESTOALL,
    T_NOTOALL,
    T_COUNT
};
const wchar_t* const kEnglish[T_COUNT] = {L"OK",
                                          L"Cancel",
                                          L"&Ignore",
                                          L"&Retry",
                                          L"&Abort",
                                          L"&Help",
                                          L"&Yes",
                                          L"&No",
                                          L"&Continue",
                                          L"Don't ask me again",
                                          L"Don't tell me again",
                                          L"Yes to &All",
                                          L"No to A&ll"};
constexpr UINT kFirstTextId = 9001;
constexpr size_t kMaxButtonText = 99;
constexpr size_t kMaxCaption = 1023;
constexpr int kMaxControls = 20;

constexpr DWORD kDialogStyle = 0x90C80880;  // popup, visible, caption, system menu, modal frame, centred
constexpr DWORD kButtonStyle = 0x50010000;  // child, visible, tab stop
constexpr DWORD kStaticStyle = 0x50000080;  // child, visible, no prefix
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;

struct Control {
    DWORD style;
    RECT pixels;  // left, top, width, height
    WORD id;
    WORD atom;
    std::wstring text;
};

struct BoxState {
    UINT style = 0;
    DWORD helpContextId = 0;
    HFONT font = nullptr;
    HICON icon = nullptr;
    bool hasCancel = false;
    bool okOnly = false;
    int defaultId = IDOK;
    UINT checkBit = 0;  // the style bit of the check box shown, or 0
};

class Font {
public:
    explicit Font(HFONT font) : m_font(font) {}
    ~Font()
    {
        if (m_font != nullptr)
            DeleteObject(m_font);
    }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    HFONT Get() const { return m_font; }

private:
    HFONT m_font;
};

class LocalBlock {
public:
    explicit LocalBlock(HLOCAL block) : m_block(block) {}
    ~LocalBlock()
    {
        if (m_block != nullptr)
            LocalFree(m_block);
    }
    LocalBlock(const LocalBlock&) = delete;
    LocalBlock& operator=(const LocalBlock&) = delete;
    HLOCAL Get() const { return m_block; }

private:
    HLOCAL m_block;
};

// The text's extent in the font, word-wrapped within maxWidth (no prefix processing).
SIZE Measure(HFONT font, const wchar_t* text, int maxWidth, UINT extraFormat = 0)
{
    SIZE size{0, 0};
    HDC dc = GetDC(nullptr);
    if (dc == nullptr)
        return size;
    HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    RECT r{0, 0, maxWidth, 0};
    DrawTextW(dc, text != nullptr ? text : L"", -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | extraFormat);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    size.cx = r.right - r.left;
    size.cy = r.bottom - r.top;
    return size;
}

// The icon static draws its icon at (0, 0).
LRESULT CALLBACK IconProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto previous = reinterpret_cast<WNDPROC>(GetPropW(hWnd, L"KwepMsgBoxProc"));
    if (message == WM_PAINT) {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(hWnd, &paint);
        auto icon = reinterpret_cast<HICON>(GetPropW(hWnd, L"KwepMsgBoxIcon"));
        if (icon != nullptr)
            DrawIcon(dc, 0, 0, icon);
        EndPaint(hWnd, &paint);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropW(hWnd, L"KwepMsgBoxProc");
        RemovePropW(hWnd, L"KwepMsgBoxIcon");
    }
    return previous != nullptr ? CallWindowProcW(previous, hWnd, message, wParam, lParam)
                               : DefWindowProcW(hWnd, message, wParam, lParam);
}

std::wstring HelpFile()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file = length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
    const size_t dot = file.rfind(L'.');
    if (dot != std::wstring::npos && file.find_first_of(L"\\/", dot) == std::wstring::npos)
        file.resize(dot);
    return file + L".hlp";
}

void EndBox(HWND hDlg, const BoxState& state, int id)
{
    int result = id;
    if (state.checkBit != 0 && IsDlgButtonChecked(hDlg, CXID_CHECKBOX) == BST_CHECKED)
        result |= static_cast<int>(state.checkBit);
    EndDialog(hDlg, result);
}

INT_PTR CALLBACK BoxProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<BoxState*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<BoxState*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        for (HWND child = GetWindow(hDlg, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetDlgCtrlID(child) != CXID_ICON)
                SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
        }
        HWND iconWindow = GetDlgItem(hDlg, CXID_ICON);
        if (iconWindow != nullptr && state->icon != nullptr) {
            SetPropW(iconWindow, L"KwepMsgBoxIcon", state->icon);
            SetPropW(iconWindow, L"KwepMsgBoxProc",
                     reinterpret_cast<HANDLE>(GetWindowLongPtrW(iconWindow, GWLP_WNDPROC)));
            SetWindowLongPtrW(iconWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&IconProc));
        }
        CheckDlgButton(hDlg, CXID_CHECKBOX, BST_UNCHECKED);
        if (!state->hasCancel && !state->okOnly)
            EnableMenuItem(GetSystemMenu(hDlg, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
        HWND defaultButton = GetDlgItem(hDlg, state->defaultId);
        if (defaultButton != nullptr)
            SetFocus(defaultButton);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND: {
        if (state == nullptr || HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) {
            // Esc, Close, or the Cancel button.
            if (state->hasCancel)
                EndDialog(hDlg, IDCANCEL);
            else if (state->okOnly)
                EndDialog(hDlg, IDOK);
            return TRUE;
        }
        if (id == CXID_HELP) {
            const UINT command = state->helpContextId != 0 ? HELP_CONTEXT : HELP_PARTIALKEY;
            AfxWinHelp(hDlg, HelpFile().c_str(), command, state->helpContextId);
            return TRUE;
        }
        if (id == CXID_CHECKBOX)
            return TRUE;
        EndBox(hDlg, *state, id);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// Appends to the template being built.
class TemplateWriter {
public:
    void Word(WORD w) { Raw(&w, sizeof w); }
    void Dword(DWORD d) { Raw(&d, sizeof d); }
    void Text(const std::wstring& text) { Raw(text.c_str(), (text.size() + 1) * sizeof(wchar_t)); }
    void Align()
    {
        while (m_bytes.size() % 4 != 0)
            m_bytes.push_back(0);
    }
    const std::vector<BYTE>& Bytes() const { return m_bytes; }

private:
    void Raw(const void* p, size_t n)
    {
        const auto* b = static_cast<const BYTE*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<BYTE> m_bytes;
};

short ToDluX(int pixels, int baseX)
{
    return static_cast<short>(MulDiv(pixels, 4, baseX));
}
short ToDluY(int pixels, int baseY)
{
    return static_cast<short>(MulDiv(pixels, 8, baseY));
}

std::wstring Bounded(const wchar_t* text, size_t limit)
{
    std::wstring s = text != nullptr ? text : L"";
    if (s.size() > limit)
        s.resize(limit);
    return s;
}

// The caption given, else the module's string 0xE000, else "Error".
std::wstring Caption(LPCWSTR caption)
{
    if (caption != nullptr && *caption != 0)
        return Bounded(caption, kMaxCaption);
    wchar_t loaded[kMaxCaption + 1] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), 0xE000, loaded, kMaxCaption + 1) > 0)
        return loaded;
    return L"Error";
}

// Button texts: translated, with the English text for any missing translation.
void LoadTexts(UINT style, std::wstring (&texts)[T_COUNT])
{
    CxWinApp* app = (style & CXMB_ENGLISH) ? nullptr : CxGetApp();
    for (int i = 0; i < T_COUNT; ++i) {
        CxString translated;
        if (app != nullptr && app->GetString(translated, kFirstTextId + static_cast<UINT>(i)) && !translated.IsEmpty())
            texts[i] = Bounded(translated, kMaxButtonText);
        else
            texts[i] = kEnglish[i];
    }
}

struct Button {
    int id;
    int textIndex;
};

// The buttons of the style's set, in order, with Help last; notes in the state whether Cancel is among
// them, whether OK stands alone, and which is the default.
std::vector<Button> ChooseButtons(UINT style, BoxState& state)
{
    std::vector<Button> buttons;
    const UINT buttonSet = style & 0x0000000F;
    switch (buttonSet) {
    case MB_OKCANCEL:
        buttons = {{IDOK, T_OK}, {IDCANCEL, T_CANCEL}};
        break;
    case MB_ABORTRETRYIGNORE:
        buttons = {{IDABORT, T_ABORT}, {IDRETRY, T_RETRY}, {IDIGNORE, T_IGNORE}};
        break;
    case MB_YESNOCANCEL:
    case MB_YESNO:
        buttons.push_back({IDYES, T_YES});
        if (style & CXMB_YESTOALL)
            buttons.push_back({CXID_YESTOALL, T_YESTOALL});
        buttons.push_back({IDNO, T_NO});
        if (style & CXMB_NOTOALL)
            buttons.push_back({CXID_NOTOALL, T_NOTOALL});
        if (buttonSet == MB_YESNOCANCEL)
            buttons.push_back({IDCANCEL, T_CANCEL});
        break;
    case MB_RETRYCANCEL:
        buttons = {{IDRETRY, T_RETRY}, {IDCANCEL, T_CANCEL}};
        break;
    case CXMB_CONTINUEABORT:
        buttons = {{IDCONTINUE, T_CONTINUE}, {IDABORT, T_ABORT}};
        break;
    default:
        buttons = {{IDOK, T_OK}};
        state.okOnly = true;
        break;
    }
    state.hasCancel = std::any_of(buttons.begin(), buttons.end(), [](const Button& b) { return b.id == IDCANCEL; });
    if (style & CXMB_HELP)
        buttons.push_back({CXID_HELP, T_HELP});
    const size_t defaultIndex = (style & 0x00000F00) >> 8;
    state.defaultId = buttons[defaultIndex < buttons.size() ? defaultIndex : 0].id;
    return buttons;
}

// The text of the check box the style asks for (-1 for none); its style bit goes to the state.
int ChooseCheckBox(UINT style, BoxState& state)
{
    if (style & CXMB_DONTASKAGAIN) {
        state.checkBit = CXMB_DONTASKAGAIN;
        return T_ASK;
    }
    if (style & CXMB_DONTTELLAGAIN) {
        state.checkBit = CXMB_DONTTELLAGAIN;
        return T_TELL;
    }
    return -1;
}

// The system's icon of the style's icon kind; null for none.
HICON LoadBoxIcon(UINT iconKind)
{
    LPCWSTR iconName = nullptr;
    switch (iconKind) {
    case MB_ICONHAND:
        iconName = IDI_HAND;
        break;
    case MB_ICONQUESTION:
        iconName = IDI_QUESTION;
        break;
    case MB_ICONEXCLAMATION:
        iconName = IDI_EXCLAMATION;
        break;
    case MB_ICONASTERISK:
        iconName = IDI_ASTERISK;
        break;
    default:
        break;
    }
    return iconName != nullptr ? LoadIconW(nullptr, iconName) : nullptr;
}

// The controls in pixels and the client size that holds them.
struct Layout {
    std::vector<Control> controls;
    int width = 0;
    int height = 0;
};

// Icon and text on top, the button row under them and the check box under the row; the text is
// measured word-wrapped within half the screen.
Layout LayOut(const BoxState& state, const wchar_t* text, const std::vector<Button>& buttons,
              const std::wstring (&texts)[T_COUNT], int checkText)
{
    Layout layout;
    std::vector<Control>& controls = layout.controls;
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    int maxTextWidth = GetSystemMetrics(SM_CXSCREEN) / 2 + 100;
    if (state.icon != nullptr)
        maxTextWidth -= iconWidth + 16;
    const SIZE measured = Measure(state.font, text, std::max(maxTextWidth, 50));
    RECT textRect{16, 16, measured.cx + 12, measured.cy + 5};
    int lowest = 0;
    if (state.icon != nullptr) {
        textRect.left += iconWidth + 8;
        controls.push_back({kStaticStyle, RECT{8, 8, iconWidth, iconHeight}, CXID_ICON, kStaticAtom, L""});
        lowest = 8 + iconHeight;
    }
    controls.push_back({kStaticStyle, textRect, CXID_TEXT, kStaticAtom, text != nullptr ? text : L""});
    lowest = std::max(lowest, static_cast<int>(textRect.top + textRect.bottom));
    int clientWidth = textRect.left + textRect.right + 16;
    int clientHeight = std::max(static_cast<int>(textRect.top + textRect.bottom) + 16, 70);

    const int buttonCount = static_cast<int>(buttons.size());
    const int rowWidth = buttonCount * 106 - 6;
    const int rowTop = lowest + 8;
    clientWidth = std::max(clientWidth, rowWidth + 32);

    RECT checkRect{};
    if (checkText >= 0) {
        // As wide as its text, with room for the box itself.
        const SIZE checkSize = Measure(state.font, texts[checkText].c_str(), 10000, DT_SINGLELINE);
        checkRect = RECT{17, rowTop + 42, checkSize.cx + GetSystemMetrics(SM_CXMENUCHECK) + 8,
                         std::max(static_cast<int>(checkSize.cy), GetSystemMetrics(SM_CYMENUCHECK)) + 4};
        clientWidth = std::max(clientWidth, static_cast<int>(checkRect.left + checkRect.right) + 16);
    }
    const int rowLeft = (clientWidth - rowWidth) / 2;
    for (int i = 0; i < buttonCount; ++i) {
        const DWORD buttonStyle = buttons[i].id == state.defaultId ? kButtonStyle | BS_DEFPUSHBUTTON : kButtonStyle;
        controls.push_back({buttonStyle, RECT{rowLeft + i * 106, rowTop, 100, 30}, static_cast<WORD>(buttons[i].id),
                            kButtonAtom, texts[buttons[i].textIndex]});
    }
    lowest = rowTop + 30;
    if (checkText >= 0) {
        controls.push_back({kButtonStyle | BS_AUTOCHECKBOX, checkRect, CXID_CHECKBOX, kButtonAtom, texts[checkText]});
        lowest = checkRect.top + checkRect.bottom;
    }
    clientHeight = std::max(clientHeight, lowest + 16);
    if (static_cast<int>(controls.size()) > kMaxControls)
        controls.resize(kMaxControls);
    layout.width = clientWidth;
    layout.height = clientHeight;
    return layout;
}

// The dialog template of the layout, in dialog units.
std::vector<BYTE> BuildTemplate(const std::wstring& title, const Layout& layout, bool systemModal)
{
    const LONG base = GetDialogBaseUnits();
    const int baseX = std::max(1, static_cast<int>(LOWORD(base)));
    const int baseY = std::max(1, static_cast<int>(HIWORD(base)));
    TemplateWriter w;
    w.Dword(kDialogStyle | (systemModal ? DS_SYSMODAL : 0));
    w.Dword(0);
    w.Word(static_cast<WORD>(layout.controls.size()));
    w.Word(0);
    w.Word(0);
    w.Word(static_cast<WORD>(ToDluX(layout.width, baseX)));
    w.Word(static_cast<WORD>(ToDluY(layout.height, baseY)));
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.Text(title);
    for (const Control& c : layout.controls) {
        w.Align();
        w.Dword(c.style);
        w.Dword(0);
        w.Word(static_cast<WORD>(ToDluX(c.pixels.left, baseX)));
        w.Word(static_cast<WORD>(ToDluY(c.pixels.top, baseY)));
        w.Word(static_cast<WORD>(ToDluX(c.pixels.right, baseX)));
        w.Word(static_cast<WORD>(ToDluY(c.pixels.bottom, baseY)));
        w.Word(c.id);
        w.Word(0xFFFF);
        w.Word(c.atom);
        w.Text(c.text);
        w.Word(0);  // no creation data
    }
    return w.Bytes();
}

// Runs the box from a copy of the template in local memory; IDCANCEL when it could not be shown.
int RunBox(HWND owner, const std::vector<BYTE>& bytes, BoxState& state)
{
    LocalBlock block(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bytes.size() + 4));
    void* memory = block.Get() != nullptr ? LocalLock(block.Get()) : nullptr;
    if (memory == nullptr) {
        MessageBoxW(owner, L"Memory allocation for dialog template failed.", L"Allocation Failure", MB_ICONEXCLAMATION);
        return IDCANCEL;
    }
    std::memcpy(memory, bytes.data(), bytes.size());
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(memory),
                                                   owner, &BoxProc, reinterpret_cast<LPARAM>(&state));
    LocalUnlock(block.Get());
    return result == -1 || result == 0 ? IDCANCEL : static_cast<int>(result);
}

}  // namespace

int ExtMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD helpContextId)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    Font font(CreateFontIndirectW(&metrics.lfMessageFont));

    if (owner == nullptr)
        owner = GetDesktopWindow();
    const std::wstring title = Caption(caption);
    const UINT iconKind = style & 0x000000F0;
    const bool systemModal = (style & MB_SYSTEMMODAL) != 0;
    // The stop icon on a system-modal box is the system's own box; it is given only what it knows (the
    // Continue/Abort set has no system equivalent and stays with this box).
    if (iconKind == MB_ICONHAND && systemModal && (style & 0x0000000F) != CXMB_CONTINUEABORT)
        return MessageBoxW(owner, text, title.c_str(), style & ~CXMB_EXTENSIONS);

    std::wstring texts[T_COUNT];
    LoadTexts(style, texts);
    BoxState state;
    state.style = style;
    state.helpContextId = helpContextId;
    state.font = font.Get();
    const std::vector<Button> buttons = ChooseButtons(style, state);
    const int checkText = ChooseCheckBox(style, state);
    state.icon = LoadBoxIcon(iconKind);
    const Layout layout = LayOut(state, text, buttons, texts, checkText);

    if (!(style & CXMB_NOBEEP))
        MessageBeep(iconKind);
    return RunBox(owner, BuildTemplate(title, layout, systemModal), state);
}
