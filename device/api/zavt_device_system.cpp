// The device object's system files in the root of internal memory: the font (a PC file or the font
// library's image), synchronously and on the pending operation, the configuration, image and memo files,
// and the firmware with its loader.
#include "device/api/zavt_device.h"

#include "device/api/config_resources.h"
#include "device/api/device_context.h"
#include "device/api/zavt_context.h"
#include "device/api/zavt_control.h"
#include "device/fs/engine_status.h"
#include "device/fs/pc/device_file_util.h"
#include "fontdata/kwepsys.h"
#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"

#include <new>
#include <utility>

namespace {

using engine::kStatusOk;

constexpr wchar_t kFontName[] = L"Font.fon";
constexpr wchar_t kFontDumpName[] = L"sysdum4.du4";
constexpr std::uint32_t kFontDumpId = 4;
// The player's file takes the last component of this name.
constexpr char kFontWritePath[] = "C:\\Font.fon";
constexpr wchar_t kFontLibraryName[] = L"Kwepsys.dll";
constexpr wchar_t kConfigName[] = L"config.dat";
constexpr wchar_t kConfigTempName[] = L"Config.dat";
constexpr wchar_t kImageName[] = L"image.dat";
constexpr wchar_t kMemoName[] = L"memo.mem";
constexpr wchar_t kFirmwareName[] = L"player.rom";
constexpr wchar_t kLoaderName[] = L"upgrade.axf";

std::mutex& FontFolderLock()
{
    static std::mutex lock;
    return lock;
}

std::optional<std::wstring>& ForcedFontFolder()
{
    static std::optional<std::wstring> folder;
    return folder;
}

// Kwepsys.dll beside the device API's module (or in the folder a test named).
bool FontLibraryPath(std::wstring* path)
{
    std::wstring folder;
    {
        std::lock_guard<std::mutex> hold(FontFolderLock());
        if (ForcedFontFolder())
            folder = *ForcedFontFolder();
    }
    if (folder.empty()) {
        wchar_t dir[MAX_PATH] = {};
        if (!UtilGetModuleDirPath(_Module.GetModuleInstance(), dir, MAX_PATH))
            return false;
        folder = dir;
    } else if (folder.back() != L'\\') {
        folder += L'\\';
    }
    *path = folder + kFontLibraryName;
    return true;
}

// A loaded library, freed on every path.
class LibraryOwner {
public:
    explicit LibraryOwner(HMODULE module) : module_(module) {}
    ~LibraryOwner()
    {
        if (module_)
            FreeLibrary(module_);
    }
    LibraryOwner(const LibraryOwner&) = delete;
    LibraryOwner& operator=(const LibraryOwner&) = delete;
    HMODULE get() const { return module_; }
    // The export of an ordinal with its own signature (through a plain function type, as GCC asks).
    template <typename Proc>
    Proc Bind(WORD ordinal) const
    {
        return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module_, MAKEINTRESOURCEA(ordinal))));
    }

private:
    HMODULE module_;
};

// The kinds of operation whose Start and End events the system files fire.
enum class Operation { kDownload, kUpload, kDelete };

// An operation's Start event, and the operation kind that turns the engine's progress into its Percent
// events.
void FireOperationStart(Operation operation)
{
    if (operation == Operation::kDownload) {
        ZavtFireDownloadStart();
        return;
    }
    ZavtWithCurrentControl([operation](CZAVTControl& control) {
        if (operation == Operation::kUpload)
            control.FireUploadFileStart(nullptr);
        else
            control.FireDeleteFileStart(nullptr);
        control.SetOperationKind(operation == Operation::kUpload ? kZavtOperationUpload : kZavtOperationDelete);
    });
}

// An operation's End event, after HError with `errorContext` when `result` is a failure, and the kind's
// reset: all in one hold of the current control, so a client that saw the End event finds the kind reset.
void FireOperationEnd(Operation operation, HRESULT result = S_OK, long errorContext = ECUnknown)
{
    ZavtWithCurrentControl([=](CZAVTControl& control) {
        if (FAILED(result))
            control.FireHError(errorContext, result);
        if (operation == Operation::kDownload) {
            ZavtFireDownloadEnd();
            return;
        }
        if (operation == Operation::kUpload)
            control.FireUploadFileEnd(nullptr);
        else
            control.FireDeleteFileEnd(nullptr);
        control.SetOperationKind(kZavtOperationNone);
    });
}

// Start on construction, End on every way out once Start was fired.
class OperationEvents {
public:
    explicit OperationEvents(Operation operation) : operation_(operation) { FireOperationStart(operation_); }
    ~OperationEvents() { FireOperationEnd(operation_); }
    OperationEvents(const OperationEvents&) = delete;
    OperationEvents& operator=(const OperationEvents&) = delete;

private:
    const Operation operation_;
};

// The font and the blank dump that shares its file id go from the internal root (made current).
engine::EngineStatus RemoveFontFiles(DeviceContext& context)
{
    engine::EngineStatus code = context.SelectInternalRoot();
    if (code == kStatusOk)
        code = context.RemoveInternalFile(kFontName);
    if (code == kStatusOk)
        code = context.RemoveInternalFile(kFontDumpName);
    return code;
}

// The font erase on the player: the font and the dump gone, a blank sysdum4.du4 in their place, the root
// current again. The engine's code.
engine::EngineStatus EraseFontFiles(DeviceContext& context)
{
    engine::EngineStatus code = RemoveFontFiles(context);
    if (code == kStatusOk)
        code = context.WriteDumpSystemFile(kFontDumpId);
    if (code == kStatusOk)
        code = context.SelectInternalRoot();
    return code;
}

// A PC file's name is the player file's name, without regard to case.
bool NamedAs(const wchar_t* path, const wchar_t* name)
{
    const wchar_t* part = NamePart(path);
    return part && lstrcmpiW(part, name) == 0;
}

// Deletes a temporary PC file when it goes out of scope.
class TempFile {
public:
    TempFile() = default;
    ~TempFile()
    {
        if (remove_)
            UtilDeleteFile(path_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    // The temporary path of the name, the file of that name removed first.
    HRESULT Make(const wchar_t* name, bool removeAtEnd)
    {
        const HRESULT hr = engine::UtilMakeTempFilePath(MAX_PATH, path_, name);
        if (FAILED(hr))
            return hr;
        UtilDeleteFileForce(path_);
        remove_ = removeAtEnd;
        return S_OK;
    }
    const wchar_t* path() const { return path_; }
    // The file stays after the scope.
    void Keep() { remove_ = false; }

private:
    wchar_t path_[MAX_PATH] = {};
    bool remove_ = false;
};

}  // namespace

void ZavtForceFontLibraryFolderForTesting(std::optional<std::wstring> folder)
{
    std::lock_guard<std::mutex> hold(FontFolderLock());
    ForcedFontFolder() = std::move(folder);
}

// ---- font ----

HRESULT CZAVTDevice::LoadFontImage(ZAVTFontType tFont, BSTR srcPath, FontImage* image)
{
    image->bytes.reset();
    image->size = 0;
    if (tFont == FontUserDefined) {
        DWORD low = 0, high = 0;
        // The engine writes at most 4 GiB less one byte; a bigger file is no font.
        if (!UtilGetFileSize(srcPath, &low, &high) || low == 0 || high != 0)
            return E_FAIL;
        HandleOwner file(UtilOpenOrCreateFile(srcPath, false));
        if (!file.valid())
            return Error(IDS_ERR_FILE_NOT_FOUND);
        std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[low]);
        if (!bytes)
            return E_OUTOFMEMORY;
        if (!ReadExactly(file.get(), bytes.get(), low))
            return Error(IDS_ERR_FILE_NOT_FOUND);
        image->bytes = std::move(bytes);
        image->size = low;
        return S_OK;
    }
    if (tFont != FontUNIKWEP)
        return E_INVALIDARG;

    std::wstring path;
    if (!FontLibraryPath(&path))
        return Error(IDS_ERR_FONT_LIBRARY);
    // Unloaded as soon as the copy is made, whatever the outcome.
    const LibraryOwner library(UtilLoadLibrary(path.c_str()));
    if (!library.get())
        return Error(IDS_ERR_FONT_LIBRARY);
    const auto getFontSize = library.Bind<fontdata::GetFontSizeProc>(fontdata::kGetFontSizeOrdinal);
    const auto copyFontData = library.Bind<fontdata::CopyFontDataProc>(fontdata::kCopyFontDataOrdinal);
    if (!getFontSize || !copyFontData)
        return Error(IDS_ERR_FONT_LIBRARY);
    const int size = getFontSize(0);
    if (size < 1)
        return Error(IDS_ERR_FONT);
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]);
    if (!bytes)
        return E_OUTOFMEMORY;
    if (copyFontData(0, reinterpret_cast<char*>(bytes.get())) == 0)
        return Error(IDS_ERR_FONT);
    image->bytes = std::move(bytes);
    image->size = static_cast<std::uint32_t>(size);
    return S_OK;
}

HRESULT CZAVTDevice::PrepareFontWrite(ZAVTFontType tFont, BSTR srcPath, std::shared_ptr<DeviceContext>* ready,
                                      FontImage* image)
{
    if (tFont == FontUserDefined && (!srcPath || !*srcPath))
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    *ready = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!*ready)
        return hr;
    DeviceContext& context = **ready;
    hr = LoadFontImage(tFont, srcPath, image);
    if (FAILED(hr))
        return hr;
    // The old font goes only when the new one fits in the room it leaves, so a font too big for the
    // player never costs it the font it has.
    if (context.SelectInternalRoot() != kStatusOk)
        return E_FAIL;
    engine::DirRecord old;
    std::uint32_t reclaimed = 0;
    if (context.LookUp(0, kFontName, &old) == 0 && !(old.attributes & FILE_ATTRIBUTE_DIRECTORY))
        reclaimed = old.size;
    if (!HasFreeSpace(false, image->size > reclaimed ? image->size - reclaimed : 0, true))
        return E_OUTOFMEMORY;
    // The new font takes the file id of the blank dump, so both go first.
    if (RemoveFontFiles(context) != kStatusOk)
        return E_FAIL;
    if (!HasFreeSpace(false, image->size, true))
        return E_OUTOFMEMORY;
    return S_OK;
}

STDMETHODIMP CZAVTDevice::DownloadFont(ZAVTFontType tFont, BSTR srcPath)
{
    std::shared_ptr<DeviceContext> context;
    FontImage image;
    const HRESULT hr = PrepareFontWrite(tFont, srcPath, &context, &image);
    if (FAILED(hr))
        return hr;
    engine::EngineStatus code = kStatusOk;
    {
        const OperationEvents events(Operation::kDownload);
        code = context->WriteFontFile(0, kFontWritePath, image.size, image.bytes.get());
        context->SelectInternalRoot();
    }
    return code != kStatusOk ? E_FAIL : S_OK;
}

HRESULT CZAVTDevice::StartPending(PendingCallback work, PendingCallback done)
{
    // The worker holds the object until its done callback has run.
    static_cast<IZAVTDevice*>(this)->AddRef();
    const HRESULT hr = pending_.Start(this, work, OperationCancel, done);
    if (FAILED(hr))
        static_cast<IZAVTDevice*>(this)->Release();
    return hr;
}

STDMETHODIMP CZAVTDevice::DownloadFontAsync(ZAVTFontType tFont, BSTR srcPath)
{
    std::lock_guard<std::mutex> hold(asyncStart_);
    // A running write still reads its image and may still be writing the font that would be removed; it
    // holds the player, so the answer comes before anything waits for it.
    if (pending_.Running())
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    std::shared_ptr<DeviceContext> context;
    FontImage image;
    HRESULT hr = PrepareFontWrite(tFont, srcPath, &context, &image);
    if (FAILED(hr))
        return hr;

    FireOperationStart(Operation::kDownload);
    fontImage_ = std::move(image);
    asyncResult_ = S_OK;
    hr = StartPending(DownloadFontWork, DownloadFontDone);
    if (FAILED(hr)) {
        fontImage_ = FontImage{};
        FireOperationEnd(Operation::kDownload);
        return hr;
    }
    return S_OK;
}

HRESULT CZAVTDevice::DownloadFontWork(void* self)
{
    auto* device = static_cast<CZAVTDevice*>(self);
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    HRESULT hr = S_OK;
    if (!context) {
        hr = Error(IDS_ERR_NO_DEVICE);
    } else {
        const engine::EngineStatus code =
            context->WriteFontFile(0, kFontWritePath, device->fontImage_.size, device->fontImage_.bytes.get());
        hr = ZavtStatusResult<CZAVTDevice>(code);
        context->SelectInternalRoot();
    }
    device->fontImage_ = FontImage{};
    device->asyncResult_ = hr;
    return hr;
}

HRESULT CZAVTDevice::DownloadFontDone(void* self)
{
    auto* device = static_cast<CZAVTDevice*>(self);
    device->fontImage_ = FontImage{};
    return device->EndPending(ECDownloadFont);
}

HRESULT CZAVTDevice::EndPending(long errorContext)
{
    FireOperationEnd(errorContext == ECDownloadFont ? Operation::kDownload : Operation::kDelete, asyncResult_.load(),
                     errorContext);
    // Last: this may free the object.
    static_cast<IZAVTDevice*>(this)->Release();
    return S_OK;
}

STDMETHODIMP CZAVTDevice::EraseFont()
{
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    const OperationEvents events(Operation::kDelete);
    return EraseFontFiles(*context) != kStatusOk ? E_FAIL : S_OK;
}

STDMETHODIMP CZAVTDevice::EraseFontAsync()
{
    std::lock_guard<std::mutex> hold(asyncStart_);
    if (pending_.Running())
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    asyncResult_ = S_OK;
    return StartPending(EraseFontWork, EraseFontDone);
}

HRESULT CZAVTDevice::EraseFontWork(void* self)
{
    auto* device = static_cast<CZAVTDevice*>(self);
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (context) {
        context->SelectInternalRoot();
        FireOperationStart(Operation::kDelete);
        const engine::EngineStatus code = EraseFontFiles(*context);
        hr = ZavtStatusResult<CZAVTDevice>(code);
    }
    device->asyncResult_ = hr;
    return hr;
}

HRESULT CZAVTDevice::EraseFontDone(void* self)
{
    return static_cast<CZAVTDevice*>(self)->EndPending(ECEraseFont);
}

HRESULT CZAVTDevice::OperationCancel(void* self)
{
    // A running font write is stopped through CancelOperation only.
    return self ? S_OK : E_FAIL;
}

STDMETHODIMP CZAVTDevice::get_FontPresent(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = 0;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    // A walk that fails is no answer: only the folder's end says the font is not there.
    const int found = context->SelectInternalRoot() == kStatusOk ? context->LookUp(0, kFontName, nullptr) : 1;
    if (found != 0 && found != -1)
        return E_FAIL;
    *pVal = found == 0 ? 1 : 0;
    return S_OK;
}

// ---- configuration, image and memo ----

HRESULT CZAVTDevice::DownloadRootFile(const wchar_t* playerName, BSTR srcPath, int defaultIndex)
{
    const bool useDefault = !srcPath || !*srcPath;
    if (useDefault && defaultIndex < 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;

    // The file to send is made whole before the player's file goes: the default from its resource, or a
    // PC file of another name staged under the player's name (the player's file takes the PC file's).
    const wchar_t* source = srcPath;
    TempFile staged;
    if (useDefault || !NamedAs(srcPath, playerName)) {
        const bool config = lstrcmpiW(playerName, kConfigName) == 0;
        // The default configuration stays in the temporary folder; the other staged files go at the end.
        hr = staged.Make(config ? kConfigTempName : playerName, !(useDefault && config));
        if (FAILED(hr))
            return config ? E_FAIL : hr;
        if (useDefault) {
            const ConfigResourceIds ids =
                SelectConfigResources(static_cast<int>(context->GetModel()), ZavtGetSpecialBuildNumber(),
                                      context->HasLargePages());
            const std::uint32_t id = ids[static_cast<std::size_t>(defaultIndex)];
            // A model without an image resource has no default image.
            if (id == 0 || !UtilWriteResourceToFile(id, kConfigResourceType, staged.path()))
                return E_FAIL;
        } else if (!UtilCopyFile(srcPath, staged.path())) {
            return E_FAIL;
        }
        source = staged.path();
    }

    if (context->SelectInternalRoot() != kStatusOk)
        return E_FAIL;
    return ZavtDownloadReplacingResult<CZAVTDevice>(*context, 0, playerName, source);
}

HRESULT CZAVTDevice::UploadRootFile(const wchar_t* playerName, BSTR dstPath)
{
    if (!dstPath || !*dstPath)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    engine::DirRecord record;
    // Only the folder's end means the file is not there; a walk that fails is a failure.
    const int found = context->SelectInternalRoot() == kStatusOk ? context->LookUp(0, playerName, &record) : 1;
    if (found == -1)
        return S_FALSE;
    if (found != 0)
        return E_FAIL;
    const OperationEvents events(Operation::kUpload);
    // Any code but success is a failure, whatever its sign.
    return context->UploadFile(0, record.firstCluster, dstPath) != kStatusOk ? E_FAIL : S_OK;
}

STDMETHODIMP CZAVTDevice::DownloadConfig(BSTR srcPath)
{
    return DownloadRootFile(kConfigName, srcPath, 0);
}

STDMETHODIMP CZAVTDevice::UploadConfig(BSTR dstPath)
{
    return UploadRootFile(kConfigName, dstPath);
}

STDMETHODIMP CZAVTDevice::DownloadImage(BSTR srcPath)
{
    return DownloadRootFile(kImageName, srcPath, 1);
}

STDMETHODIMP CZAVTDevice::UploadImage(BSTR)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZAVTDevice::get_SupportImages(long* pVal)
{
    const int m = static_cast<int>(model_);
    if (pVal)
        *pVal = (m == 12 || m == 13) ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CZAVTDevice::DownloadMemo(BSTR srcPath)
{
    return DownloadRootFile(kMemoName, srcPath, -1);
}

STDMETHODIMP CZAVTDevice::UploadMemo(BSTR dstPath)
{
    return UploadRootFile(kMemoName, dstPath);
}

// ---- firmware ----

STDMETHODIMP CZAVTDevice::FirmwareUpgrade(BSTR srcPath)
{
    if (!srcPath || !*srcPath)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    const int model = static_cast<int>(context->GetModel());
    const std::uint32_t loader = SelectUpgradeResource(model, context->HasLargePages());
    if (loader == 0)
        return Error(IDS_ERR_NO_FIRMWARE_UPGRADE);
    DWORD low = 0, high = 0;
    if (!UtilGetFileSize(srcPath, &low, &high) || (low == 0 && high == 0))
        return E_FAIL;

    // The root on every model: the flat store's files are looked up in its current folder.
    const bool folderObjects = context->UsesFolderObjects();
    if (context->SelectInternalRoot() != kStatusOk)
        return E_FAIL;
    if (context->RemoveInternalFile(kFirmwareName) != kStatusOk || context->RemoveInternalFile(kLoaderName) != kStatusOk)
        return E_FAIL;
    if (!HasFreeSpace(false, (static_cast<unsigned long long>(high) << 32) | low, true))
        return E_OUTOFMEMORY;

    // Both go from the temporary folder once the player took them; after a failed transfer or a refusal
    // they stay there.
    TempFile firmware, upgrade;
    hr = firmware.Make(kFirmwareName, true);
    if (SUCCEEDED(hr))
        hr = upgrade.Make(kLoaderName, true);
    if (FAILED(hr))
        return hr;
    if (!UtilCopyFile(srcPath, firmware.path()) ||
        !UtilWriteResourceToFile(loader, kUpgradeResourceType, upgrade.path()))
        return E_FAIL;
    // The refresh of the room check may have loaded the folders again.
    if (folderObjects && context->SelectInternalRoot() != kStatusOk)
        return E_FAIL;

    const OperationEvents events(Operation::kDownload);
    for (const TempFile* file : {&firmware, &upgrade}) {
        engine::EngineStatus code = kStatusOk;
        if (folderObjects) {
            code = context->DownloadFile(0, file->path());
        } else {
            const AnsiPath ansi(file->path());
            code = ansi.ok() ? context->LegacyDownload(0, ansi.c_str(), 0) : engine::kStatusFileError;
        }
        if (code != kStatusOk) {
            firmware.Keep();
            upgrade.Keep();
            return E_FAIL;
        }
    }
    if (context->QueryStatusByte() != 0) {
        firmware.Keep();
        upgrade.Keep();
        return E_FAIL;
    }
    return S_OK;
}
