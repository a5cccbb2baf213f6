// A check that the test machine can give PC files names beyond ASCII. Under Wine that needs a UTF-8
// Unix locale: with LANG or LC_ALL naming a locale the machine has not generated, Wine falls back to
// ASCII file names and every such create fails with "file not found".
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

inline ::testing::AssertionResult CanCreateFilesNamedBeyondAscii(const std::wstring& folder)
{
    const std::wstring path = folder + L"\\probe-\u00e9\u0395.tmp";
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::testing::AssertionFailure()
               << "cannot create a file whose name holds e-acute and Greek letters (error " << GetLastError()
               << "): Wine's Unix locale is not UTF-8 (is the locale named by LANG/LC_ALL generated?)";
    }
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return ::testing::AssertionSuccess();
}
