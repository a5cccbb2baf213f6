// PC file helpers of the programs built on the platform layer. They take UTF-16 paths and call the wide
// system functions on the NT family, or the ANSI ones with the path converted to the system code page
// on the Windows 95 family (WinIsNtPlatform). None of them throws or shows a message: failure is in the
// result alone.
#pragma once

#include <windows.h>

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The C run-time file status record filled by UtilStatFile (64-bit size and times).
using UtilStatRecord = struct _stat64;

// Closes a file handle on every path. Close ends it early and reports whether the system closed it
// cleanly (a write the disk could not take can show up only there).
class HandleOwner {
public:
    explicit HandleOwner(HANDLE handle) : handle_(handle) {}
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    ~HandleOwner() { Close(); }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    // Closes the handle held and takes another.
    void Reset(HANDLE handle)
    {
        Close();
        handle_ = handle;
    }
    bool Close()
    {
        if (!valid())
            return true;
        const bool closed = CloseHandle(handle_) != FALSE;
        handle_ = nullptr;
        return closed;
    }

private:
    HANDLE handle_;
};

// Reads exactly `bytes` bytes, or writes all of them; false on an error or a file that ends early.
bool ReadExactly(HANDLE file, std::uint8_t* out, std::uint32_t bytes);
bool WriteExactly(HANDLE file, const std::uint8_t* data, std::uint32_t bytes);

// The last component of a path (after the last backslash or slash).
const wchar_t* NamePart(const wchar_t* path);
const char* NamePart(const char* path);

// A path component Windows opens as a device, not a file: CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9
// in any case, alone or before an extension or a colon (blanks before them count for nothing).
bool UtilIsDeviceName(const wchar_t* component, std::size_t length);
// Whether any component of the path is such a name; false for a null path.
bool UtilPathNamesDevice(const wchar_t* path);

// Copies text and its terminator into buffer when it fits in size characters; otherwise leaves an
// empty string (when there is room for one) and fails with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
HRESULT UtilCopyText(std::wstring_view text, wchar_t* buffer, DWORD size);

// Re-reads the system version and records the family: S_OK, or E_FAIL (family unchanged).
HRESULT UtilCheckOSVersion();
// True on the NT family (wide calls).
bool UtilIsUnicodeOS();

bool UtilDeleteFile(const wchar_t* path);
// Clears the read-only bit, then deletes; false when the attributes cannot be read (a missing file).
bool UtilDeleteFileForce(const wchar_t* path);
// 0 for a null path; INVALID_FILE_ATTRIBUTES when the file is absent.
DWORD UtilGetFileAttributes(const wchar_t* path);
bool UtilSetFileAttributes(const wchar_t* path, DWORD attributes);
bool UtilMoveFile(const wchar_t* from, const wchar_t* to);
// Overwrites an existing target.
bool UtilCopyFile(const wchar_t* from, const wchar_t* to);

// write false: an existing file for reading, shared for reading. write true: created or truncated, for
// reading and writing, not shared. INVALID_HANDLE_VALUE on failure; a null handle for a null path, so
// callers test both.
HANDLE UtilOpenOrCreateFile(const wchar_t* path, bool write);

// The file's size from the C run-time status. Outputs untouched on failure.
bool UtilGetFileSize(const wchar_t* path, DWORD* low, DWORD* high);
// The C run-time status of the path; the record is untouched on failure.
bool UtilStatFile(const wchar_t* path, UtilStatRecord* record);

// A resource of the module this code is linked into, found by numeric id and type name. Its size goes
// to *size; with `data`, *data receives a copy of the bytes. False when the resource is missing, cannot
// be loaded, is empty, or the copy cannot be allocated.
bool UtilLoadResourceData(UINT id, const char* type, std::unique_ptr<std::uint8_t[]>* data, DWORD* size);
// Writes the whole resource to a new file at `path`; true only when every byte was written.
bool UtilWriteResourceToFile(UINT id, const char* type, const wchar_t* path);

// Null for a null path or on failure.
HMODULE UtilLoadLibrary(const wchar_t* path);

// buffer = drive and folder of the module's file, ending in a backslash. False for a null buffer, when
// the module's file name cannot be read, or when the result does not fit in `size` characters.
bool UtilGetModuleDirPath(HMODULE module, wchar_t* buffer, DWORD size);

// The extension of the path's last component, with its dot; true when it is not empty.
bool UtilGetFileExtension(const wchar_t* path, std::wstring* extension);

// Whether the player plays a file of this name. With recordingCheck, the player's own recordings
// (RADIOn..., MUSICn..., VOICEn... .mp3) and .wav files are refused.
bool UtilIsSupportedAudioFile(const wchar_t* name, bool recordingCheck);
