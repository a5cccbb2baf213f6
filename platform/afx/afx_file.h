// The file object of our MFC-like layer: one Win32 file handle, closed with the object. Failures are
// results, never exceptions: Read answers the bytes it read, Write whether every byte was written.
#pragma once

#include <windows.h>

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyWrite = 0x0020,
        modeCreate = 0x1000,
    };

    CFile() = default;
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    HANDLE m_hFile = INVALID_HANDLE_VALUE;

    // modeRead opens an existing file for reading (others may read it too); modeCreate | modeWrite
    // creates or truncates one. FALSE when a file is already open or the system refuses.
    BOOL Open(LPCWSTR lpszFileName, UINT nOpenFlags);
    void Close();
    BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    // Bytes read (0 at the end of the file or on failure).
    UINT Read(void* lpBuf, UINT nCount);
    // TRUE when all nCount bytes were written.
    BOOL Write(const void* lpBuf, UINT nCount);
    // The file's length; 0 with *failed set when it cannot be read.
    ULONGLONG GetLength(BOOL* failed = nullptr) const;
    // Moves to an absolute position; FALSE on failure.
    BOOL SeekTo(ULONGLONG position);
};
