#include "manager/main/language/language_manager.h"

#include "manager/dialogs/cx_dialog_menus.h"
#include "manager/framework/windows/cx_platform.h"
#include "manager/main/language/ini_text.h"
#include "platform/afx/afx.h"

#include <cwchar>
#include <new>
#include <string>
#include <vector>

// One re-entrant lock for the tables, the pack list and the current language.
class CLanguageManager::Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~Lock() { LeaveCriticalSection(&m_cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

namespace {

// Texts that serve as formats although their built-in text may not show it.
constexpr UINT kFormatIds[] = {62319, 62320, 62321, 62322, 62323, 62521, 62530, 62531};
// Popups nest no deeper than this in a menu the window owns.
constexpr int kMaxMenuDepth = 16;

bool IsFormatId(UINT id)
{
    for (UINT f : kFormatIds) {
        if (f == id)
            return true;
    }
    return false;
}

// The conversions of a printf format, each as written ("%-5.2ls"); "%%" is none. A '%' whose
// conversion does not end properly is kept as far as it goes, so it never matches a proper one.
std::vector<std::wstring> Conversions(const wchar_t* text)
{
    std::vector<std::wstring> found;
    if (text == nullptr)
        return found;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p != L'%')
            continue;
        if (p[1] == L'%') {
            ++p;
            continue;
        }
        const wchar_t* q = p + 1;
        while (*q != L'\0' && std::wcschr(L"-+ #0'", *q) != nullptr)
            ++q;
        while (*q == L'*' || (*q >= L'0' && *q <= L'9'))
            ++q;
        if (*q == L'.') {
            ++q;
            while (*q == L'*' || (*q >= L'0' && *q <= L'9'))
                ++q;
        }
        while (*q != L'\0' && std::wcschr(L"hlLqjztwI3264", *q) != nullptr)
            ++q;
        if (*q != L'\0' && std::wcschr(L"diouxXeEfFgGaAcCsSpnZ", *q) != nullptr)
            ++q;
        else
            found.emplace_back(L"\x1");  // no conversion character: never equal to a proper one
        found.emplace_back(p, q);
        p = q - 1;
    }
    return found;
}

const wchar_t* FindText(const CxArray<CTranslationEntry>& texts, UINT id)
{
    for (int i = 0; i < texts.GetCount(); ++i) {
        if (texts.ElementAt(i).id == id)
            return texts.ElementAt(i).text;
    }
    return nullptr;
}

HRESULT StoreText(CxArray<CTranslationEntry>& texts, UINT id, const CxString& text)
{
    for (int i = 0; i < texts.GetCount(); ++i) {
        CTranslationEntry& entry = texts.ElementAt(i);
        if (entry.id == id)
            return entry.text.Assign(text);
    }
    CTranslationEntry entry;
    entry.id = id;
    entry.text = text;
    if (entry.text.IsEmpty() != text.IsEmpty())
        return E_OUTOFMEMORY;
    return texts.Add(entry) ? S_OK : E_OUTOFMEMORY;
}

HRESULT StoreMenuText(CxArray<CMenuTextEntry>& menus, UINT item, UINT menu, const CxString& text)
{
    for (int i = 0; i < menus.GetCount(); ++i) {
        CMenuTextEntry& entry = menus.ElementAt(i);
        if (entry.item == item && entry.menu == menu)
            return entry.text.Assign(text);
    }
    CMenuTextEntry entry;
    entry.item = item;
    entry.menu = menu;
    entry.text = text;
    if (entry.text.IsEmpty() != text.IsEmpty())
        return E_OUTOFMEMORY;
    return menus.Add(entry) ? S_OK : E_OUTOFMEMORY;
}

bool MenuHasItem(HMENU menu, UINT id)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID;
    return menu != nullptr && GetMenuItemInfoW(menu, id, FALSE, &info) != FALSE;
}

bool HasWildcard(const wchar_t* text)
{
    return text != nullptr && (std::wcschr(text, L'*') != nullptr || std::wcschr(text, L'?') != nullptr);
}

HMENU FindPopup(HMENU menu, int& remaining, int* position, int depth)
{
    if (depth > kMaxMenuDepth)
        return nullptr;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub == nullptr)
            continue;
        if (remaining-- == 0) {
            *position = i;
            return menu;
        }
        HMENU found = FindPopup(sub, remaining, position, depth + 1);
        if (found != nullptr)
            return found;
    }
    return nullptr;
}

BOOL CALLBACK SendTranslate(HWND child, LPARAM lParam)
{
    SendMessageW(child, CXM_TRANSLATE, static_cast<WPARAM>(lParam), 0);
    return TRUE;
}

}  // namespace

BOOL IsSafeTranslation(UINT id, const wchar_t* builtIn, const wchar_t* pack)
{
    const std::vector<std::wstring> reference = Conversions(builtIn);
    if (!IsFormatId(id) && builtIn != nullptr && reference.empty())
        return TRUE;  // plain text: a '%' in it is the translator's
    return Conversions(pack) == reference;
}

CLanguageManager::CLanguageManager(CLanguageHost& host)
    : m_host(host), m_tables(new (std::nothrow) CLanguageTables), m_packs(new (std::nothrow) CxPackEntries)
{
    InitializeCriticalSection(&m_lock);
}

CLanguageManager::~CLanguageManager()
{
    DeleteCriticalSection(&m_lock);
}

HRESULT CLanguageManager::InitLanguage()
{
    m_currentCommand = -1;
    CxString location;
    const HRESULT hr = BuildResourceLocation(kBuiltInLanguageResource, L"INI", &location, nullptr);
    Lock lock(m_lock);
    if (SUCCEEDED(hr)) {
        m_builtIn = location;
        m_builtInIndex = 0;
    }
    return hr;
}

BOOL CLanguageManager::FindLoadedText(CxString& text, UINT id)
{
    text.Empty();
    Lock lock(m_lock);
    if (!m_tables)
        return FALSE;
    const wchar_t* found = FindText(m_tables->texts, id);
    return found != nullptr && SUCCEEDED(text.Assign(found)) && !text.IsEmpty();
}

BOOL CLanguageManager::FindMenuText(CxString& text, UINT item, UINT menu)
{
    text.Empty();
    Lock lock(m_lock);
    if (!m_tables)
        return FALSE;
    for (int i = 0; i < m_tables->menus.GetCount(); ++i) {
        const CMenuTextEntry& entry = m_tables->menus.ElementAt(i);
        if (entry.item == item && entry.menu == menu)
            return SUCCEEDED(text.Assign(entry.text)) && !text.IsEmpty();
    }
    return FALSE;
}

BOOL CLanguageManager::LookupTranslation(CxString& text, UINT id)
{
    if (FindLoadedText(text, id))
        return TRUE;
    std::vector<wchar_t> buffer(1024);
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0)
        return FALSE;
    return SUCCEEDED(text.Assign(buffer.data())) && !text.IsEmpty();
}

HRESULT CLanguageManager::GetCurrentLanguage(CxString* location)
{
    if (location == nullptr)
        return E_INVALIDARG;
    Lock lock(m_lock);
    return location->Assign(m_current);
}

BOOL CLanguageManager::IsUsableLanguageFile(const CxString& file)
{
    if (file.IsEmpty())
        return FALSE;
    if (CxStrCompare(file, m_builtIn, 1) == 0)
        return TRUE;
    if (HasWildcard(file) || CxPackList::HasFiles(file, ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) != S_OK)
        return FALSE;
    const DWORD attributes = GetFileAttributesW(file);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CLanguageManager::UpdateCurrentCommand()
{
    Lock lock(m_lock);
    m_currentCommand = m_packs ? CxPackList::FindByText(*m_packs, m_current) : -1;
}

int CLanguageManager::SelectLanguage(const wchar_t* location, int command)
{
    CxString file;
    if (CxStrLen(location) == 0 && command != -1 && m_packs)
        file.Attach(CxPackList::GetTextById(*m_packs, command));
    else
        file.Assign(location);
    if (!IsUsableLanguageFile(file)) {
        if (m_builtIn.IsEmpty())
            return 1;
        file = m_builtIn;
        if (file.IsEmpty())
            return 1;
    }
    {
        Lock lock(m_lock);
        m_current = file;
    }
    UpdateCurrentCommand();
    HWND wnd = m_host.GetLanguageWindow();
    if (wnd == nullptr || !IsWindow(wnd))
        return 1;
    SendMessageW(wnd, CXM_TRANSLATE, reinterpret_cast<WPARAM>(static_cast<const wchar_t*>(file)), 0);
    // The window may have fallen back to the built-in file: the others get what it now uses.
    CxString current;
    if (SUCCEEDED(GetCurrentLanguage(&current)) && !current.IsEmpty() && IsWindow(wnd))
        EnumChildWindows(wnd, &SendTranslate, reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(current)));
    return 1;
}

void CLanguageManager::OnTranslate(const wchar_t* location)
{
    if (CxStrLen(location) == 0)
        return;
    const HRESULT hr = TranslateMainMenu(location);
    if (FAILED(hr) && CxStrCompare(location, m_builtIn, 1) != 0 && !m_builtIn.IsEmpty()) {
        // An unreadable pack: the built-in file instead.
        {
            Lock lock(m_lock);
            m_current = m_builtIn;
        }
        UpdateCurrentCommand();
        TranslateMainMenu(m_builtIn);
    }
    CxString title;
    HWND wnd = m_host.GetLanguageWindow();
    if (wnd != nullptr && LookupTranslation(title, kIdsMainTitle))
        SetWindowTextW(wnd, title);
}

void CLanguageManager::OnLanguageCommand(UINT id)
{
    SelectLanguage(L"", static_cast<int>(id));
}

void CLanguageManager::OnUpdateLanguageCommand(CCmdUI* ui)
{
    if (ui == nullptr)
        return;
    CxUpdateCmdUI(ui, !m_host.AreMenusLocked(), static_cast<int>(ui->m_nID) == m_currentCommand);
}

void CLanguageManager::OnRebuildLanguageList()
{
    RebuildLanguageMenu();
}

HRESULT CLanguageManager::RebuildLanguageMenu()
{
    HWND wnd = m_host.GetLanguageWindow();
    HMENU menu = m_host.GetLanguageMenu(kMainMenuId);
    if (!MenuHasItem(menu, kIdRebuildLanguageList))
        return E_NOTIMPL;
    // The files are read before the lock is taken; only this thread changes the pack list.
    CxArray<CxString> files(8);
    CxString folder;
    HRESULT hr = CxGetPackFolder(&folder, FALSE);
    if (SUCCEEDED(hr))
        hr = CxEnumIniFiles(folder, files);
    if (hr == E_OUTOFMEMORY)
        return hr;
    std::unique_ptr<CxPackEntries> packs(new (std::nothrow) CxPackEntries);
    if (!packs)
        return E_OUTOFMEMORY;
    // Room for the built-in file among the items the menu offers.
    const int packLimit = m_builtIn.IsEmpty() ? CX_MAX_PACKS : CX_MAX_PACKS - 1;
    if (!m_builtIn.IsEmpty() && !files.Add(m_builtIn))
        return E_OUTOFMEMORY;
    for (int i = 0; i < files.GetCount(); ++i) {
        const bool builtIn = !m_builtIn.IsEmpty() && i == files.GetCount() - 1;
        if (!builtIn && packs->GetCount() >= packLimit)
            continue;
        auto* entry = new (std::nothrow) CxPackEntry;
        if (entry == nullptr)
            return E_OUTOFMEMORY;
        if (FAILED(CxReadPackEntry(wnd, files.ElementAt(i), entry))) {
            delete entry;
            continue;
        }
        hr = packs->Add(entry);
        if (FAILED(hr))
            return hr;
    }
    Lock lock(m_lock);
    CxRemovePackMenu(menu, CX_ID_LANGUAGE_FIRST, CX_ID_LANGUAGE_LAST, kIdLanguageSeparator);
    m_packs.swap(packs);
    hr = CxAppendPackMenu(menu, *m_packs, kIdRebuildLanguageList, -1, CX_ID_LANGUAGE_FIRST, kIdLanguageSeparator);
    UpdateCurrentCommand();
    if (wnd != nullptr)
        DrawMenuBar(wnd);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CLanguageManager::EnsureLanguageMenu()
{
    if (m_packs && m_packs->GetCount() != 0)
        return S_FALSE;
    return RebuildLanguageMenu();
}

HRESULT CLanguageManager::TranslateMainMenu(const wchar_t* location)
{
    CLanguageKeyTables keys;
    const HRESULT hr = BuildLanguageKeyTables(&keys);
    if (FAILED(hr))
        return hr;
    return LoadLanguageFile(location, keys, TRUE);
}

HRESULT CLanguageManager::CopyTables(CLanguageTables& copy)
{
    Lock lock(m_lock);
    if (!m_tables)
        return E_OUTOFMEMORY;
    for (int i = 0; i < m_tables->texts.GetCount(); ++i) {
        const CTranslationEntry& entry = m_tables->texts.ElementAt(i);
        HRESULT hr = StoreText(copy.texts, entry.id, entry.text);
        if (FAILED(hr))
            return hr;
    }
    for (int i = 0; i < m_tables->menus.GetCount(); ++i) {
        const CMenuTextEntry& entry = m_tables->menus.ElementAt(i);
        HRESULT hr = StoreMenuText(copy.menus, entry.item, entry.menu, entry.text);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CLanguageManager::LoadInto(const wchar_t* location, const CLanguageKeyTables& keys, CLanguageTables& tables,
                                   const CxArray<CTranslationEntry>* reference, CxArray<CTranslationEntry>* collect)
{
    CIniText file;
    HRESULT hr = IniLoadText(location, &file);
    if (FAILED(hr))
        return hr;
    for (const CLanguageKeyGroup& group : keys.groups) {
        std::wstring_view section;
        if (group.section == nullptr || FAILED(IniFindSection(file.View(), group.section, &section)))
            continue;
        for (int i = 0; i < group.keys.GetCount(); ++i) {
            const CLanguageKey& key = group.keys.ElementAt(i);
            CxString text;
            hr = key.name != nullptr ? IniFindKey(section, key.name, &text) : IniFindKey(section, key.number, &text);
            if (hr == E_OUTOFMEMORY)
                return hr;
            if (FAILED(hr) || text.IsEmpty())
                continue;
            if (group.menu == 0) {
                if (reference != nullptr && !IsSafeTranslation(key.item, FindText(*reference, key.item), text))
                    continue;
                hr = StoreText(tables.texts, key.item, text);
                if (SUCCEEDED(hr) && collect != nullptr)
                    hr = StoreText(*collect, key.item, text);
            } else {
                hr = StoreMenuText(tables.menus, key.item, group.menu, text);
            }
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT CLanguageManager::LoadLanguageFile(const wchar_t* location, const CLanguageKeyTables& keys, BOOL apply)
{
    if (CxStrLen(location) == 0)
        return E_UNEXPECTED;
    std::unique_ptr<CLanguageTables> work(new (std::nothrow) CLanguageTables);
    if (!work)
        return E_OUTOFMEMORY;
    HRESULT hr = CopyTables(*work);
    if (FAILED(hr))
        return hr;
    // Without a built-in file to compare with, a pack's formats are refused (the reference is empty).
    const bool builtIn = !m_builtIn.IsEmpty() && CxStrCompare(location, m_builtIn, 1) == 0;
    CxArray<CTranslationEntry> reference(64);
    if (!builtIn && !m_builtIn.IsEmpty()) {
        hr = LoadInto(m_builtIn, keys, *work, nullptr, &reference);
        if (hr == E_OUTOFMEMORY)
            return hr;
    }
    hr = LoadInto(location, keys, *work, builtIn ? nullptr : &reference, nullptr);
    if (FAILED(hr))
        return hr;
    {
        Lock lock(m_lock);
        m_tables.swap(work);
    }
    if (apply)
        ApplyLanguage();
    return S_OK;
}

void CLanguageManager::ApplyLanguage()
{
    m_host.TranslateWindowTexts();
    ApplyMenuTranslations();
    m_host.RebuildPaneTexts();
}

void CLanguageManager::ApplyMenuTranslations()
{
    static constexpr UINT kMenus[] = {kMainMenuId, kPcListMenuId, kPlayerListMenuId, kPlayListMenuId};
    Lock lock(m_lock);
    if (!m_tables)
        return;
    for (UINT id : kMenus) {
        HMENU menu = m_host.GetLanguageMenu(id);
        if (menu == nullptr || !IsMenu(menu))
            continue;
        for (int i = 0; i < m_tables->menus.GetCount(); ++i) {
            const CMenuTextEntry& entry = m_tables->menus.ElementAt(i);
            if (entry.menu != id)
                continue;
            if (entry.item >= kPopupItemBase) {
                int position = -1;
                HMENU holder = FindPopupByIndex(menu, static_cast<int>(entry.item - kPopupItemBase), &position);
                if (holder != nullptr)
                    SetMenuItemText(holder, static_cast<UINT>(position), TRUE, entry.text);
            } else {
                SetMenuItemText(menu, entry.item, FALSE, entry.text);
            }
        }
    }
    HWND wnd = m_host.GetLanguageWindow();
    if (wnd != nullptr)
        DrawMenuBar(wnd);
}

HMENU CLanguageManager::FindPopupByIndex(HMENU menu, int index, int* position)
{
    if (position != nullptr)
        *position = -1;
    if (menu == nullptr || !IsMenu(menu) || index < 0 || position == nullptr)
        return nullptr;
    int remaining = index;
    return FindPopup(menu, remaining, position, 0);
}

HRESULT CLanguageManager::SetMenuItemText(HMENU menu, UINT item, BOOL byPosition, const wchar_t* text)
{
    if (menu == nullptr || !IsMenu(menu) || text == nullptr)
        return E_INVALIDARG;
    CxHeapPtr<char> ansi(CxW2ANew(text));
    if (!ansi)
        return E_OUTOFMEMORY;
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE;
    if (!GetMenuItemInfoA(menu, item, byPosition, &info))
        return E_FAIL;
    if (info.fType & (MFT_SEPARATOR | MFT_BITMAP | MFT_OWNERDRAW))
        return E_FAIL;  // no text to replace
    const UINT type = info.fType;
    info = MENUITEMINFOA{};
    info.cbSize = sizeof(info);
    if (CxGetPlatform() & 1) {
        info.fMask = MIIM_TYPE;
    } else {
        info.fMask = MIIM_STRING | MIIM_FTYPE;
    }
    info.fType = type | MFT_STRING;
    info.dwTypeData = ansi.get();
    return SetMenuItemInfoA(menu, item, byPosition, &info) ? S_OK : E_FAIL;
}

HRESULT CLanguageManager::BuildResourceLocation(UINT id, const wchar_t* type, CxString* location, const wchar_t* path)
{
    if (location == nullptr || CxStrLen(type) == 0)
        return E_INVALIDARG;
    location->Empty();
    CxString program;
    if (CxStrLen(path) == 0) {
        std::vector<wchar_t> buffer(MAX_PATH + 1);
        for (;;) {
            const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (length == 0)
                return HRESULT_FROM_WIN32(GetLastError());
            if (length < buffer.size())
                break;
            if (buffer.size() >= 32768)
                return E_FAIL;
            buffer.resize(buffer.size() * 2);
        }
        if (FAILED(program.Assign(buffer.data())))
            return E_OUTOFMEMORY;
        path = program;
    }
    return location->Format(L"%s%s%lu%s%s", path, L"?", static_cast<unsigned long>(id), L",", type);
}

HRESULT CLanguageManager::BuildResourceLocation(UINT id, UINT type, CxString* location, const wchar_t* path)
{
    const std::wstring number = std::to_wstring(type);
    return BuildResourceLocation(id, number.c_str(), location, path);
}

LRESULT CLanguageManager::OnGetLanguageText(const CxPackTextRequest* request, CxString* text)
{
    if (text == nullptr || request == nullptr)
        return E_INVALIDARG;
    text->Empty();
    int id = request->packId;
    if (request->selector & 1)
        id = m_currentCommand;
    else if (request->selector & 2)
        id = m_builtInIndex;
    if (id == -1)
        return E_INVALIDARG;
    Lock lock(m_lock);
    if (!m_packs)
        return S_FALSE;
    for (int i = 0; i < m_packs->GetCount(); ++i) {
        const CxPackEntry& pack = m_packs->ElementAt(i);
        if (pack.id == id)
            return text->Assign(pack.Text(request->key, request->element));
    }
    return S_FALSE;
}

BOOL CLanguageManager::ProcessLanguageMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    switch (message) {
    case CXM_GETLANGUAGE:
        if (wParam == 0)
            return FALSE;
        GetCurrentLanguage(reinterpret_cast<CxString*>(wParam));
        lResult = 1;
        return TRUE;
    case CXM_SELECTLANGUAGE:
        lResult = SelectLanguage(reinterpret_cast<const wchar_t*>(wParam), static_cast<int>(lParam));
        return TRUE;
    case CXM_GETLANGUAGETEXT:
        lResult =
            OnGetLanguageText(reinterpret_cast<const CxPackTextRequest*>(wParam), reinterpret_cast<CxString*>(lParam));
        return TRUE;
    case CXM_TRANSLATE:
        OnTranslate(reinterpret_cast<const wchar_t*>(wParam));
        lResult = 1;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CLanguageManager::OnLanguageCmdMsg(UINT id, int code, void* extra, void* handlerInfo)
{
    const bool language = id >= CX_ID_LANGUAGE_FIRST && id <= CX_ID_LANGUAGE_LAST;
    if (!language && id != kIdRebuildLanguageList)
        return FALSE;
    if (code == CN_COMMAND) {
        if (handlerInfo != nullptr)
            return TRUE;  // only asked whether there is a handler
        if (language)
            OnLanguageCommand(id);
        else
            OnRebuildLanguageList();
        return TRUE;
    }
    if (code == CN_UPDATE_COMMAND_UI && language) {
        OnUpdateLanguageCommand(static_cast<CCmdUI*>(extra));
        return TRUE;
    }
    return FALSE;
}

CxPersistEntry CLanguageManager::LanguageEntry(HWND hWnd)
{
    return CxPersistEntry{
        L"Language", L"%s",  1, nullptr, &CLanguageManager::LanguageGet, hWnd, L"", &CLanguageManager::LanguageSet,
        hWnd,        nullptr};
}

HRESULT CLanguageManager::LanguageGet(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (hWnd == nullptr || !IsWindow(hWnd))
        return E_INVALIDARG;
    CxString text;
    if (SendMessageW(hWnd, CXM_GETLANGUAGE, reinterpret_cast<WPARAM>(&text), 0) == 0)
        return E_NOTIMPL;
    call.text = text;
    return S_OK;
}

HRESULT CLanguageManager::LanguageSet(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (hWnd == nullptr || !IsWindow(hWnd))
        return E_INVALIDARG;
    SendMessageW(hWnd, CXM_SELECTLANGUAGE, reinterpret_cast<WPARAM>(static_cast<const wchar_t*>(call.text)), 0);
    return S_OK;
}
