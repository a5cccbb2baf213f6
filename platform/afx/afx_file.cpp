#include "platform/afx/afx_file.h"

BOOL CFile::Open(LPCWSTR lpszFileName, UINT nOpenFlags)
{
    if (IsOpen() || lpszFileName == nullptr)
        return FALSE;
    DWORD access = GENERIC_READ;
    if (nOpenFlags & modeWrite)
        access = GENERIC_WRITE;
    else if (nOpenFlags & modeReadWrite)
        access = GENERIC_READ | GENERIC_WRITE;
    const DWORD share = (nOpenFlags & (modeWrite | modeReadWrite)) ? 0 : FILE_SHARE_READ;
    const DWORD disposition = (nOpenFlags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    m_hFile = CreateFileW(lpszFileName, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsOpen();
}

void CFile::Close()
{
    if (IsOpen())
        CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    if (!IsOpen() || lpBuf == nullptr)
        return 0;
    UINT total = 0;
    while (total < nCount) {
        DWORD read = 0;
        if (!ReadFile(m_hFile, static_cast<BYTE*>(lpBuf) + total, nCount - total, &read, nullptr) || read == 0)
            break;
        total += read;
    }
    return total;
}

BOOL CFile::Write(const void* lpBuf, UINT nCount)
{
    if (!IsOpen() || (lpBuf == nullptr && nCount != 0))
        return FALSE;
    UINT total = 0;
    while (total < nCount) {
        DWORD written = 0;
        if (!WriteFile(m_hFile, static_cast<const BYTE*>(lpBuf) + total, nCount - total, &written, nullptr) ||
            written == 0)
            return FALSE;
        total += written;
    }
    return TRUE;
}

ULONGLONG CFile::GetLength(BOOL* failed) const
{
    LARGE_INTEGER size{};
    const BOOL ok = IsOpen() && GetFileSizeEx(m_hFile, &size);
    if (failed != nullptr)
        *failed = !ok;
    return ok ? static_cast<ULONGLONG>(size.QuadPart) : 0;
}

BOOL CFile::SeekTo(ULONGLONG position)
{
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    return IsOpen() && SetFilePointerEx(m_hFile, to, nullptr, FILE_BEGIN);
}
