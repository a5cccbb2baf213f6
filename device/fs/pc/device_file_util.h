// The device side's own PC files: its temporary folder, the blank block file and the name of the
// player's recording folder. The generic file helpers are in platform/win/file_util.h.
#pragma once

#include <windows.h>

namespace engine {

// buffer = system temporary path + "ZAVTCTRL\" + name, the folder created when missing. E_INVALIDARG for
// a null buffer or name; E_FAIL when the system has no temporary path;
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when the path with its terminator does not fit in `size`
// characters (the buffer then holds an empty string). Nothing is written past `size` characters.
HRESULT UtilMakeTempFilePath(DWORD size, wchar_t* buffer, const wchar_t* name);

// Creates the file with 1024 bytes of 0xFF; true only when all of them were written.
bool UtilWriteBlankBlockFile(const wchar_t* path);

// The name of the player's recording folder for a build variant: 3 "BRIX Record", 4 "VOICE RECORD",
// any other "KWEP RECORD".
const wchar_t* RecordFolderName(long specialBuildNumber);

}  // namespace engine
