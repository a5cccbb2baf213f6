#include "manager/main/panes/pane_images.h"

#include "manager/controls/combo/cx_file_mask_combo.h"
#include "manager/framework/windows/cx_string.h"

#include <shellapi.h>
#include <shlobj.h>

CPaneImages::CPaneImages()
    : m_smallIcon{GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)}
{
}

CPaneImages::~CPaneImages()
{
    if (m_overlay)
        DestroyIcon(m_overlay);
}

HIMAGELIST CPaneImages::SystemSmallImageList()
{
    if (m_system)
        return m_system;
    LPITEMIDLIST desktop = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop)) || !desktop)
        return nullptr;
    SHFILEINFOW info{};
    m_system = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(reinterpret_cast<LPCWSTR>(desktop), 0, &info, sizeof(info),
                                                           SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON));
    CoTaskMemFree(desktop);
    return m_system;
}

HICON CPaneImages::FolderOverlayIcon()
{
    if (!m_overlayTried) {
        m_overlayTried = true;
        wchar_t program[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
        CxString location;
        if (length > 0 && length < MAX_PATH && SUCCEEDED(location.Format(L"%s?%d", program, -240)))
            CxLoadSmallIcon(location, &m_overlay);
    }
    return m_overlay;
}
