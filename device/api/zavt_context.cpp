// What the COM objects share over the device context.
#include "device/api/zavt_context.h"

#include "device/api/zavt_control.h"
#include "device/api/zavt_storage.h"
#include "device/fs/engine_status.h"

#include <cstring>
#include <string>
#include <vector>

bool ZavtFits(DeviceContext& context, std::uint32_t storage, unsigned long long size, bool refresh)
{
    if (refresh && FAILED(context.Refresh()))
        return false;
    return size <= (storage == 0 ? context.GetInternalFreeBytes() : context.GetExternalFreeBytes());
}

ZavtDownloadResult ZavtDownloadReplacing(DeviceContext& context, std::uint32_t storage, const wchar_t* fileName,
                                         const wchar_t* srcPath, engine::EngineStatus* status)
{
    engine::DirRecord existing;
    const int found = context.LookUp(storage, fileName, &existing);
    *status = static_cast<engine::EngineStatus>(found);
    if (found != 0 && found != -1)
        return ZavtDownloadResult::kFailed;
    if (found == 0) {
        if (existing.attributes & FILE_ATTRIBUTE_DIRECTORY)
            return ZavtDownloadResult::kNameIsFolder;
        *status = context.DeleteFile(storage, existing.firstCluster);
        if (*status != engine::kStatusOk)
            return ZavtDownloadResult::kFailed;
    }
    ZavtFireDownloadStart();
    *status = context.DownloadFile(storage, srcPath);
    ZavtFireDownloadEnd();
    return *status == engine::kStatusOk ? ZavtDownloadResult::kDone : ZavtDownloadResult::kFailed;
}

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

}  // namespace

ZavtDownloadResult ZavtSelectDestination(DeviceContext& context, std::uint32_t storage, BSTR dstPath,
                                         engine::EngineStatus* status)
{
    *status = engine::kStatusFolderError;
    const std::wstring path = dstPath ? std::wstring(dstPath, SysStringLen(dstPath)) : std::wstring();
    if (path.size() >= MAX_PATH)
        return ZavtDownloadResult::kBadName;
    // Every name is checked before anything is made.
    std::size_t split = path.size();
    while (split > 0 && !IsSeparator(path[split - 1]))
        --split;
    std::vector<std::wstring> folders;
    for (std::size_t start = 0, i = 0; i <= split; ++i) {
        if (i < split && !IsSeparator(path[i]))
            continue;
        if (i > start)
            folders.push_back(path.substr(start, i - start));
        start = i + 1;
    }
    if (folders.empty() && split < path.size())
        folders.push_back(path.substr(split));
    for (const std::wstring& folder : folders) {
        if (!engine::IsEntryName(folder.c_str(), folder.size()))
            return ZavtDownloadResult::kBadName;
    }
    if (!context.SupportsFolders(storage))
        return ZavtDownloadResult::kDone;

    const bool fromRoot = folders.empty() || (!path.empty() && IsSeparator(path.front()));
    if (fromRoot && !ZavtSelectFolder(context, storage, 0))
        return ZavtDownloadResult::kFailed;
    for (const std::wstring& folder : folders) {
        engine::DirRecord record;
        std::uint32_t id = 0;
        if (context.FindEntryByName(storage, folder.c_str(), &record) == 0) {
            id = record.firstCluster;
        } else {
            // A name the folder holds in another case, or as a file, never gets a second entry.
            const int found = context.LookUp(storage, folder.c_str(), &record);
            if (found == 0 && !(record.attributes & FILE_ATTRIBUTE_DIRECTORY))
                return ZavtDownloadResult::kNameIsFile;
            if (found == 0) {
                id = record.firstCluster;
            } else if (found != -1) {
                *status = static_cast<engine::EngineStatus>(found);
                return ZavtDownloadResult::kFailed;
            } else if ((*status = context.CreateFolder(storage, folder.c_str(), &id)) != engine::kStatusOk) {
                return ZavtDownloadResult::kFailed;
            }
        }
        *status = context.SelectFolder(storage, id);
        if (*status != engine::kStatusOk)
            return ZavtDownloadResult::kFailed;
    }
    *status = engine::kStatusOk;
    return ZavtDownloadResult::kDone;
}

// ---- entries ----

std::wstring ZavtRecordName(const engine::DirRecord& record, bool wide)
{
    if (wide) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(record.name);
        std::size_t length = 0;
        while (length < sizeof record.name / sizeof(wchar_t) && text[length] != 0)
            ++length;
        return std::wstring(text, length);
    }
    const char* text = reinterpret_cast<const char*>(record.name);
    const int length = static_cast<int>(strnlen(text, sizeof record.name));
    if (length == 0)
        return {};
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text, length, out.data(), length);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

DATE ZavtRecordDate(const engine::DirRecord& record, bool created)
{
    int year = 0, month = 0, day = 0;
    if (created)
        DeviceContext::GetCreationDate(record, &year, &month, &day);
    else
        DeviceContext::GetWriteDate(record, &year, &month, &day);
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1])
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap)
        return 0;
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    DATE date = 0;
    return SystemTimeToVariantTime(&time, &date) ? date : 0;
}

bool ZavtSelectFolder(DeviceContext& context, std::uint32_t storage, std::uint32_t id)
{
    std::uint32_t current = 0;
    const bool known = context.GetCurrentFolderId(storage, &current) == 0;
    // A folder object's root has id 1; the flat store's folder ids are its own, 0 the root.
    if (known && context.UsesFolderObjects() && current == 1)
        current = 0;
    if (known && current == id)
        return true;
    return context.SelectFolder(storage, id) == engine::kStatusOk;
}

HRESULT ZavtNewStorage(DeviceContext& context, ZAVTStorageType type, long deviceIndex, IZAVTStorage** out)
{
    *out = nullptr;
    const bool internal = type == ZAVTST_INT;
    const bool present = internal ? context.IsInternalPresent() != 0
                                  : type == ZAVTST_EXT ? context.IsExternalPresent() != 0 : false;
    if (FAILED(context.Refresh()) || !context.IsReady() || !present)
        return E_FAIL;
    CComObject<CZAVTStorage>* storage = nullptr;
    CComPtr<IZAVTStorage> held;
    HRESULT hr = ZavtNewObject(&storage, held, IID_IZAVTStorage);
    if (FAILED(hr))
        return hr;
    wchar_t name[256] = {};
    LoadStringW(_Module.GetResourceInstance(), internal ? IDS_INTERNAL_MEMORY : IDS_EXTERNAL_CARD, name,
                static_cast<int>(std::size(name)));
    hr = storage->Init(name, internal ? ZAVTST_INT : ZAVTST_EXT, deviceIndex);
    if (FAILED(hr))
        return hr;
    *out = held.Detach();
    return S_OK;
}
