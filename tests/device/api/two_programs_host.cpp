// One host program of two_programs_test (arguments in two_programs.h): a second program driving the
// player through its own device context.
#include "tests/device/api/two_programs.h"

#include "device/api/device_context.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace engine;

namespace {

constexpr DWORD kGoWaitMs = 600000;  // a safety net only: the test sets the event once the other host is ready

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

bool WritePcFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Makes the folder current and lists it, so that the context holds the storage in memory.
bool EnterFolder(DeviceContext& context, std::uint32_t storage, const std::string& folder)
{
    if (context.UsesFolderObjects() && context.SelectFolder(storage, 0) != kStatusOk)
        return false;
    if (folder != "-") {
        DirRecord record;
        if (context.FindEntryByName(storage, Widen(folder).c_str(), &record) != 0 ||
            context.SelectFolder(storage, record.firstCluster) != kStatusOk)
            return false;
    }
    DirRecord record;
    for (std::int32_t s = storage ? context.FindFirstExternal(&record) : context.FindFirstInternal(&record); s == 0;
         s = storage ? context.FindNextExternal(&record) : context.FindNextInternal(&record)) {
    }
    return true;
}

void SignalAndWait(const std::string& ready, const std::string& go)
{
    if (ready != "-") {
        if (HANDLE h = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready.c_str())) {
            SetEvent(h);
            CloseHandle(h);
        }
    }
    if (go != "-") {
        if (HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, go.c_str())) {
            WaitForSingleObject(h, kGoWaitMs);
            CloseHandle(h);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
        return twoprograms::kHostBadArguments;
    const std::uint32_t storage = std::atoi(argv[1]) != 0 ? 1 : 0;
    const std::string folder = argv[2], tag = argv[3];
    const int count = std::atoi(argv[4]);

    DeviceContext context;
    context.SetSleep([](DWORD) {});
    if (FAILED(context.Init()))
        return twoprograms::kHostNotIdentified;
    if (!EnterFolder(context, storage, folder))
        return twoprograms::kHostNoFolder;
    SignalAndWait(argv[5], argv[6]);

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path pc = std::filesystem::path(temp) / ("two-programs-" + tag);
    std::error_code error;
    std::filesystem::create_directories(pc, error);
    for (int i = 0; i < count; ++i) {
        const std::filesystem::path file = pc / twoprograms::FileName(tag, i);
        if (!WritePcFile(file, twoprograms::FileContent(tag, i)))
            return twoprograms::kHostDownloadFailed;
        const std::uint32_t status = context.DownloadFile(storage, file.wstring().c_str());
        if (status != kStatusOk) {
            std::fprintf(stderr, "download of %s: status %u\n", file.string().c_str(), status);
            return twoprograms::kHostDownloadFailed;
        }
    }
    std::filesystem::remove_all(pc, error);
    return twoprograms::kHostDone;
}
