// The device object's system files in-process, against the simulated player, with the server's
// resources linked into the test: the choice of the default CONFIG and UPGRADE resources, the font,
// configuration, image, memo and firmware transfers, their events, the asynchronous font operations and
// their errors.
#include "device/api/config_resources.h"
#include "device/fs/pc/device_file_util.h"
#include "fontdata/kwepsys.h"
#include "platform/win/file_util.h"
#include "tests/device/api/zavt_rig.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

// ---- the choice of the default resources ----

// One model's row: ids[0] for the default build, build 1 and build 2, then the same with large pages;
// image.dat, csound.mta and the restore flag.
struct ConfigRowCase {
    int model;
    std::uint32_t small[3];
    std::uint32_t large[3];
    std::uint32_t image, sound, flag;
};

constexpr ConfigRowCase kConfigTable[] = {
    {0, {200, 200, 200}, {200, 200, 200}, 0, 0, 0},
    {1, {201, 221, 201}, {201, 221, 201}, 0, 0, 0},
    {2, {202, 222, 202}, {202, 222, 202}, 0, 0, 0},
    {3, {203, 223, 243}, {203, 223, 243}, 0, 0, 0},
    {4, {204, 224, 204}, {263, 264, 263}, 0, 0, 0},
    {5, {205, 205, 205}, {205, 205, 205}, 0, 0, 0},
    {6, {206, 206, 206}, {206, 206, 206}, 0, 0, 0},
    {7, {207, 227, 207}, {207, 227, 207}, 0, 0, 0},
    {8, {208, 228, 248}, {208, 228, 248}, 0, 0, 0},
    {9, {209, 229, 249}, {255, 256, 257}, 0, 0, 1},
    {10, {210, 230, 250}, {258, 259, 260}, 0, 0, 1},
    {11, {211, 231, 211}, {261, 262, 261}, 0, 0, 0},
    {12, {265, 266, 265}, {267, 268, 267}, 400, 402, 1},
    {13, {269, 269, 269}, {270, 270, 270}, 401, 403, 1},
    {14, {280, 280, 280}, {281, 281, 281}, 0, 0, 1},
    {15, {282, 282, 282}, {283, 283, 283}, 0, 0, 0},
    {16, {284, 284, 284}, {285, 285, 285}, 0, 0, 1},
    {17, {200, 200, 200}, {200, 200, 200}, 0, 0, 0},
    {-1, {200, 200, 200}, {200, 200, 200}, 0, 0, 0},
};

// Every build number but exactly 1 and 2 takes the default column.
int BuildColumn(long build)
{
    return build == 1 ? 1 : build == 2 ? 2 : 0;
}

TEST(SelectConfigResources, EveryModelBuildAndPageSize)
{
    for (const ConfigRowCase& row : kConfigTable) {
        for (long build : {0L, 1L, 2L, 3L, 4L, -1L, 257L}) {
            for (bool large : {false, true}) {
                SCOPED_TRACE("model " + std::to_string(row.model) + " build " + std::to_string(build) +
                             (large ? " large pages" : " small pages"));
                const std::uint32_t config = (large ? row.large : row.small)[BuildColumn(build)];
                const ConfigResourceIds ids = SelectConfigResources(row.model, build, large);
                EXPECT_EQ(config, ids[0]);
                EXPECT_EQ(row.image, ids[1]);
                EXPECT_EQ(row.sound, ids[2]);
                EXPECT_EQ(row.flag, ids[3]);
            }
        }
    }
}

TEST(SelectUpgradeResource, LoaderByModelAndPageSize)
{
    // model -> {small pages, large pages}; 0 where the model takes no firmware upgrade.
    const std::map<int, std::pair<std::uint32_t, std::uint32_t>> loaders = {
        {2, {300, 300}},  {8, {301, 301}},  {9, {302, 307}},  {10, {303, 308}}, {11, {304, 309}},
        {12, {310, 311}}, {13, {312, 313}}, {14, {314, 314}}, {15, {316, 316}}, {16, {318, 318}},
    };
    for (int model = -1; model <= 18; ++model) {
        const auto it = loaders.find(model);
        const auto want = it == loaders.end() ? std::pair<std::uint32_t, std::uint32_t>{0, 0} : it->second;
        EXPECT_EQ(want.first, SelectUpgradeResource(model, false)) << "model " << model;
        EXPECT_EQ(want.second, SelectUpgradeResource(model, true)) << "model " << model << " large pages";
    }
}

// The resources of the module: every id a choice can give is there, and no two have the same bytes.
TEST(SystemFileResources, EveryChosenResourceIsPresentAndDistinct)
{
    std::map<std::vector<std::uint8_t>, std::string> seen;
    auto load = [&](std::uint32_t id, const char* type) {
        std::unique_ptr<std::uint8_t[]> data;
        DWORD size = 0;
        ASSERT_TRUE(UtilLoadResourceData(id, type, &data, &size)) << type << " " << id;
        const std::string name = std::string(type) + " " + std::to_string(id);
        const auto [it, added] = seen.emplace(std::vector<std::uint8_t>(data.get(), data.get() + size), name);
        EXPECT_TRUE(added || it->second == name) << name << " has the bytes of " << it->second;
    };
    for (const ConfigRowCase& row : kConfigTable) {
        for (bool large : {false, true}) {
            for (long build : {0L, 1L, 2L}) {
                const ConfigResourceIds ids = SelectConfigResources(row.model, build, large);
                load(ids[0], kConfigResourceType);
                for (int i : {1, 2}) {
                    if (ids[i] != 0)
                        load(ids[i], kConfigResourceType);
                }
            }
            if (const std::uint32_t loader = SelectUpgradeResource(row.model, large))
                load(loader, kUpgradeResourceType);
        }
    }
}

// ---- the transfers ----

// The device API's temporary folder lies in the system's temporary path: this program takes one of its
// own, so no other program's Config.dat or player.rom is taken for its own.
[[maybe_unused]] const test_support::PrivateTemp kPrivateTemp;

// The windows path of a file the build made.
std::wstring BuiltFile(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// The image CopyFontData hands out, read from the library by ordinal here.
Bytes LibraryFontImage()
{
    const HMODULE library = LoadLibraryW(BuiltFile(KWEP_KWEPSYS_PATH).c_str());
    if (!library)
        return {};
    const auto getFontSize = reinterpret_cast<fontdata::GetFontSizeProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, MAKEINTRESOURCEA(fontdata::kGetFontSizeOrdinal))));
    const auto copyFontData = reinterpret_cast<fontdata::CopyFontDataProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, MAKEINTRESOURCEA(fontdata::kCopyFontDataOrdinal))));
    Bytes image;
    if (getFontSize && copyFontData && getFontSize(0) > 0) {
        image.resize(static_cast<std::size_t>(getFontSize(0)));
        if (copyFontData(0, reinterpret_cast<char*>(image.data())) == 0)
            image.clear();
    }
    FreeLibrary(library);
    return image;
}

Bytes ResourceBytes(const char* type, std::uint32_t id)
{
    std::unique_ptr<std::uint8_t[]> data;
    DWORD size = 0;
    if (!UtilLoadResourceData(id, type, &data, &size))
        return {};
    return Bytes(data.get(), data.get() + size);
}

std::filesystem::path TempFolderFile(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(engine::UtilMakeTempFilePath(MAX_PATH, path, name)))
        return {};
    return path;
}

// The control's events with their numbers and the thread each came on, and a waiter for one of them:
// events come from the client's thread and from the pending operation's worker.
class Recorder : public EventLog {
public:
    struct Event {
        DISPID id;
        std::vector<long> numbers;
        DWORD thread;
    };

    Recorder() : signal_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Recorder() { CloseHandle(signal_); }

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        Event event{id, {}, GetCurrentThreadId()};
        for (UINT i = params->cArgs; i-- > 0;) {
            if (params->rgvarg[i].vt == VT_I4)
                event.numbers.push_back(params->rgvarg[i].lVal);
        }
        std::function<void(DISPID)> hook;
        {
            std::lock_guard<std::mutex> hold(lock_);
            events_.push_back(event);
            hook = hook_;
        }
        if (hook)
            hook(id);
        if (id == waitFor_)
            SetEvent(signal_);
        return S_OK;
    }

    // Called with every event on the thread that fires it.
    void SetHook(std::function<void(DISPID)> hook)
    {
        std::lock_guard<std::mutex> hold(lock_);
        hook_ = std::move(hook);
    }
    // Set before the operation: the event Wait waits for.
    void WaitFor(DISPID id)
    {
        ResetEvent(signal_);
        waitFor_ = id;
    }
    bool Wait() const { return WaitForSingleObject(signal_, INFINITE) == WAIT_OBJECT_0; }

    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return events_;
    }
    // The DISPIDs without the Percent events (3, 6, 9, 12).
    std::vector<DISPID> Outline() const
    {
        std::vector<DISPID> out;
        for (const Event& e : Events()) {
            if (e.id != 3 && e.id != 6 && e.id != 9 && e.id != 12)
                out.push_back(e.id);
        }
        return out;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> hold(lock_);
        events_.clear();
    }

private:
    mutable std::mutex lock_;
    std::vector<Event> events_;
    std::function<void(DISPID)> hook_;
    std::atomic<DISPID> waitFor_{0};
    HANDLE signal_;
};

constexpr DISPID kDeleteStart = 1, kDeleteEnd = 2, kUploadStart = 7, kUploadEnd = 8, kDownloadStart = 10,
                 kDownloadEnd = 11, kDownloadPercent = 12, kHError = 15;

// The HRESULT of a message string.
constexpr HRESULT MessageResult(UINT id)
{
    return static_cast<HRESULT>(0x80040000u + id);
}

// A small user font of known bytes.
Bytes UserFont()
{
    return Pattern(5000, 41);
}

class SystemFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override
    {
        ZavtSetSpecialBuildNumber(0);
        ZavtForceFontLibraryFolderForTesting(std::nullopt);
        CoUninitialize();
    }

    // A player of the model with the recorder on its control's events.
    std::unique_ptr<DeviceRig> Rig(int model, bool folderObjects = false)
    {
        auto rig = std::make_unique<DeviceRig>(model, 0, folderObjects);
        if (!rig->ok())
            return nullptr;
        CComPtr<IConnectionPoint> cp;
        DWORD cookie = 0;
        if (FAILED(rig->controlObject()->FindConnectionPoint(DIID__IZAVTControlEvents, &cp)) ||
            FAILED(cp->Advise(&events_, &cookie)))
            return nullptr;
        return rig;
    }

    // The same with a small user font on the player.
    std::unique_ptr<DeviceRig> RigWithFont(int model, bool folderObjects = false)
    {
        auto rig = Rig(model, folderObjects);
        if (!rig || rig->device()->DownloadFont(FontUserDefined, rig->Pc(L"user.fnt", UserFont())) != S_OK)
            return nullptr;
        events_.Clear();
        return rig;
    }

    // A file of the internal root as the player holds it (empty when there is none).
    static Bytes PlayerFile(DeviceRig& rig, const wchar_t* name)
    {
        const auto path = rig.PcPath((std::wstring(L"player-") + name).c_str());
        std::filesystem::remove(path);
        if (FAILED(rig.device()->Upload(ZAVTST_INT, CComBSTR(name), CComBSTR(path.wstring().c_str()))))
            return {};
        return ReadFile(path);
    }

    // The operation kind as a client sees it once an End event has come: read under the control's
    // lock, which the end of an operation holds from its End event to the reset of the kind.
    static long OperationKind()
    {
        long kind = -1;
        ZavtWithCurrentControl([&](CZAVTControl& control) { kind = control.OperationKind(); });
        return kind;
    }

    // Waits for the device's worker to end, so a new asynchronous operation may start.
    static void WaitForWorker(IZAVTDevice* device)
    {
        const HANDLE thread = static_cast<CZAVTDevice*>(device)->PendingOperation().ThreadHandle();
        if (thread)
            WaitForSingleObject(thread, INFINITE);
    }

    Recorder events_;
};

const Bytes kBlankDump(1024, 0);

TEST_F(SystemFilesTest, FontFromTheLibraryAndItsErase)
{
    auto rig = Rig(4);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    ZavtForceFontLibraryFolderForTesting(std::filesystem::path(BuiltFile(KWEP_KWEPSYS_PATH)).parent_path().wstring());
    const Bytes image = LibraryFontImage();
    ASSERT_EQ(static_cast<std::size_t>(fontdata::kFontImageSize), image.size());

    long present = -1;
    ASSERT_EQ(S_OK, device->get_FontPresent(&present));
    EXPECT_EQ(0, present);
    ASSERT_EQ(S_OK, device->DownloadFont(FontUNIKWEP, nullptr));
    EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
    EXPECT_EQ(kZavtOperationNone, rig->controlObject()->OperationKind());
    ASSERT_EQ(S_OK, device->get_FontPresent(&present));
    EXPECT_EQ(1, present);
    EXPECT_TRUE(PlayerFile(*rig, L"Font.fon") == image) << "the player's font is CopyFontData's buffer";

    // The erase leaves a blank dump of the font's file id, even when no temporary copy of it was left
    // by an earlier run.
    std::filesystem::remove(TempFolderFile(L"sysdum4.du4"));
    events_.Clear();
    ASSERT_EQ(S_OK, device->EraseFont());
    EXPECT_EQ((std::vector<DISPID>{kDeleteStart, kDeleteEnd}), events_.Outline());
    EXPECT_EQ(kZavtOperationNone, rig->controlObject()->OperationKind());
    ASSERT_EQ(S_OK, device->get_FontPresent(&present));
    EXPECT_EQ(0, present);
    EXPECT_EQ(kBlankDump, PlayerFile(*rig, L"sysdum4.du4"));
    EXPECT_EQ((std::vector<std::wstring>{L"sysdum4.du4"}), rig->Names());

    // A user font takes the blank dump's place.
    ASSERT_EQ(S_OK, device->DownloadFont(FontUserDefined, rig->Pc(L"my.fnt", UserFont())));
    EXPECT_EQ(UserFont(), PlayerFile(*rig, L"Font.fon"));
    EXPECT_EQ((std::vector<std::wstring>{L"Font.fon"}), rig->Names());
}

// The font's failures before anything reaches the player: the error, no events, the player unchanged.
TEST_F(SystemFilesTest, FontFailuresBeforeTheWrite)
{
    auto rig = RigWithFont(1);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();

    test_support::TempFolder libraries;
    struct LibraryCase {
        const char* what;
        const char* dll;  // copied in as Kwepsys.dll; null: the folder holds none
        HRESULT want;
        const wchar_t* message;
    };
    const LibraryCase libraryCases[] = {
        {"no library", nullptr, MessageResult(777), L"Program did not find All neccessary DLLs."},
        {"no CopyFontData", KWEP_KWEPSYS_missing_copy, MessageResult(777), L"Program did not find All neccessary DLLs."},
        {"size 0", KWEP_KWEPSYS_zero_size, MessageResult(776), L"Error loading KWEP font."},
        {"copy fails", KWEP_KWEPSYS_copy_fails, MessageResult(776), L"Error loading KWEP font."},
    };
    int n = 0;
    for (const LibraryCase& c : libraryCases) {
        const auto folder = libraries.Path() / std::to_string(n++);
        std::filesystem::create_directories(folder);
        if (c.dll)
            std::filesystem::copy_file(BuiltFile(c.dll), folder / L"Kwepsys.dll");
        ZavtForceFontLibraryFolderForTesting(folder.wstring());
        EXPECT_EQ(c.want, device->DownloadFont(FontUNIKWEP, nullptr)) << c.what;
        EXPECT_EQ(c.message, LastError().first) << c.what;
        EXPECT_EQ(c.want, device->DownloadFontAsync(FontUNIKWEP, nullptr)) << c.what << ", asynchronous";
    }

    // A user file that is empty, missing or held open by another program; a font type nobody knows.
    const CComBSTR empty = rig->Pc(L"empty.fnt", {});
    const CComBSTR missing(rig->PcPath(L"none.fnt").wstring().c_str());
    const CComBSTR locked = rig->Pc(L"locked.fnt", UserFont());
    const HandleOwner lock(
        CreateFileW(locked, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.valid());
    struct UserCase {
        const char* what;
        ZAVTFontType type;
        BSTR path;
        HRESULT want;
    };
    const UserCase userCases[] = {
        {"empty path", FontUserDefined, nullptr, E_INVALIDARG},
        {"empty file", FontUserDefined, empty, E_FAIL},
        {"missing file", FontUserDefined, missing, E_FAIL},
        {"unreadable file", FontUserDefined, locked, MessageResult(774)},
        {"unknown type", static_cast<ZAVTFontType>(5), nullptr, E_INVALIDARG},
    };
    for (const UserCase& c : userCases) {
        EXPECT_EQ(c.want, device->DownloadFont(c.type, c.path)) << c.what;
        EXPECT_EQ(c.want, device->DownloadFontAsync(c.type, c.path)) << c.what << ", asynchronous";
    }
    EXPECT_TRUE(events_.Events().empty());
    EXPECT_EQ(UserFont(), PlayerFile(*rig, L"Font.fon")) << "the old font stays";

    // No room: E_OUTOFMEMORY before any event.
    const CComBSTR huge = rig->Pc(L"huge.fnt", Bytes(rig->Context()->GetInternalTotalBytes() + 65536, 0x33));
    events_.Clear();
    EXPECT_EQ(E_OUTOFMEMORY, device->DownloadFont(FontUserDefined, huge));
    EXPECT_EQ(E_OUTOFMEMORY, device->DownloadFontAsync(FontUserDefined, huge));
    EXPECT_TRUE(events_.Events().empty());
    EXPECT_EQ(UserFont(), PlayerFile(*rig, L"Font.fon")) << "a font that does not fit leaves the old one";
}

// The asynchronous download: Start on the client's thread, End on the worker's; while it writes, a second
// start is refused and leaves the image being written alone, and a cancel request answers at once.
TEST_F(SystemFilesTest, DownloadFontAsyncWhileItRuns)
{
    auto rig = Rig(15, true);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    ZavtForceFontLibraryFolderForTesting(std::filesystem::path(BuiltFile(KWEP_KWEPSYS_PATH)).parent_path().wstring());

    // The worker waits in its first progress event until the client has tried its calls.
    const HANDLE writing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    events_.SetHook([&](DISPID id) {
        if (id == kDownloadPercent && SetEvent(writing))
            WaitForSingleObject(release, INFINITE);
    });
    events_.WaitFor(kDownloadEnd);
    ASSERT_EQ(S_OK, device->DownloadFontAsync(FontUNIKWEP, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writing, INFINITE));
    const CComBSTR other = rig->Pc(L"other.fnt", UserFont());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), device->DownloadFontAsync(FontUserDefined, other));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), device->EraseFontAsync());
    EXPECT_EQ(S_OK, device->CancelOperation());
    SetEvent(release);
    ASSERT_TRUE(events_.Wait());
    events_.SetHook(nullptr);
    EXPECT_EQ(kZavtOperationNone, OperationKind());
    WaitForWorker(device);
    CloseHandle(writing);
    CloseHandle(release);

    const std::vector<Recorder::Event> seen = events_.Events();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(kDownloadStart, seen.front().id);
    EXPECT_EQ(GetCurrentThreadId(), seen.front().thread);
    EXPECT_EQ(kDownloadEnd, seen.back().id);
    EXPECT_NE(GetCurrentThreadId(), seen.back().thread);
    EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline()) << "no HError";
    EXPECT_EQ(S_OK, static_cast<CZAVTDevice*>(device)->AsyncResult());
    EXPECT_TRUE(PlayerFile(*rig, L"Font.fon") == LibraryFontImage());
    EXPECT_EQ((std::vector<std::wstring>{L"Font.fon"}), rig->Names());
}

// A write that fails on the worker: HError with the download's context and the message's HRESULT, then
// End and the kind reset; the next start runs.
TEST_F(SystemFilesTest, DownloadFontAsyncFailureAndEraseFontAsync)
{
    auto rig = Rig(15, true);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    const CComBSTR font = rig->Pc(L"user.fnt", UserFont());

    events_.SetHook([&](DISPID id) {
        if (id == kDownloadStart)
            rig->player().Server().InjectFault(sim::FaultKind::Fail, 1);
    });
    events_.WaitFor(kDownloadEnd);
    ASSERT_EQ(S_OK, device->DownloadFontAsync(FontUserDefined, font));
    ASSERT_TRUE(events_.Wait());
    events_.SetHook(nullptr);
    EXPECT_EQ(kZavtOperationNone, OperationKind());
    WaitForWorker(device);
    const HRESULT failed = static_cast<CZAVTDevice*>(device)->AsyncResult();
    EXPECT_EQ(MessageResult(781), failed) << "the transfer failure's message";
    std::vector<Recorder::Event> seen = events_.Events();
    EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kHError, kDownloadEnd}), events_.Outline());
    for (const Recorder::Event& e : seen) {
        if (e.id == kHError) {
            EXPECT_EQ((std::vector<long>{ECDownloadFont, failed}), e.numbers);
        }
    }

    events_.Clear();
    events_.WaitFor(kDownloadEnd);
    ASSERT_EQ(S_OK, device->DownloadFontAsync(FontUserDefined, font));
    ASSERT_TRUE(events_.Wait());
    WaitForWorker(device);
    EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
    EXPECT_EQ(UserFont(), PlayerFile(*rig, L"Font.fon"));

    // The asynchronous erase: its Start and End both from the worker.
    events_.Clear();
    events_.WaitFor(kDeleteEnd);
    ASSERT_EQ(S_OK, device->EraseFontAsync());
    ASSERT_TRUE(events_.Wait());
    EXPECT_EQ(kZavtOperationNone, OperationKind());
    WaitForWorker(device);
    seen = events_.Events();
    EXPECT_EQ((std::vector<DISPID>{kDeleteStart, kDeleteEnd}), events_.Outline());
    for (const Recorder::Event& e : seen)
        EXPECT_NE(GetCurrentThreadId(), e.thread);
    EXPECT_EQ(S_OK, static_cast<CZAVTDevice*>(device)->AsyncResult());
    EXPECT_EQ(kBlankDump, PlayerFile(*rig, L"sysdum4.du4"));
    EXPECT_EQ((std::vector<std::wstring>{L"sysdum4.du4"}), rig->Names());

    // Without a device context the erase's worker reports 769: HError, then End.
    DeviceContext::Discard();
    events_.Clear();
    events_.WaitFor(kDeleteEnd);
    ASSERT_EQ(S_OK, device->EraseFontAsync());
    ASSERT_TRUE(events_.Wait());
    WaitForWorker(device);
    EXPECT_EQ(MessageResult(769), static_cast<CZAVTDevice*>(device)->AsyncResult());
    seen = events_.Events();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kHError, seen[0].id);
    EXPECT_EQ((std::vector<long>{ECEraseFont, MessageResult(769)}), seen[0].numbers);
    EXPECT_EQ(kDeleteEnd, seen[1].id);
}

// A transfer failure inside the synchronous erase: E_FAIL, and still the End event and the kind reset.
TEST_F(SystemFilesTest, EraseFontFailureEndsItsEvents)
{
    auto rig = RigWithFont(4);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    events_.SetHook([&](DISPID id) {
        if (id == kDeleteStart)
            rig->player().Server().InjectFault(sim::FaultKind::Fail, 1);
    });
    EXPECT_EQ(E_FAIL, device->EraseFont());
    events_.SetHook(nullptr);
    EXPECT_EQ((std::vector<DISPID>{kDeleteStart, kDeleteEnd}), events_.Outline());
    EXPECT_EQ(kZavtOperationNone, rig->controlObject()->OperationKind());
}

// The default configuration by model, build and page size, its upload, and a user file of another name.
TEST_F(SystemFilesTest, DownloadAndUploadConfig)
{
    struct Case {
        int model;
        bool folderObjects;
        long build;
        std::uint32_t resource;
    };
    const Case cases[] = {
        {12, true, 1, 268},  // large pages, build 1
        {4, false, 2, 263},  // large pages on the flat store, build 2 takes the default column
        {2, false, 1, 222},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("model " + std::to_string(c.model) + " build " + std::to_string(c.build));
        events_.Clear();
        auto rig = Rig(c.model, c.folderObjects);
        ASSERT_TRUE(rig);
        IZAVTDevice* device = rig->device();
        ZavtSetSpecialBuildNumber(c.build);
        const auto back = rig->PcPath(L"back.dat");
        EXPECT_EQ(S_FALSE, device->UploadConfig(CComBSTR(back.wstring().c_str()))) << "no config.dat yet";
        EXPECT_TRUE(events_.Events().empty());

        ASSERT_EQ(S_OK, device->DownloadConfig(nullptr));
        EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
        const Bytes resource = ResourceBytes(kConfigResourceType, c.resource);
        ASSERT_FALSE(resource.empty());
        events_.Clear();
        WriteFile(back, Pattern(10, 1));
        ASSERT_EQ(S_OK, device->UploadConfig(CComBSTR(back.wstring().c_str())));
        EXPECT_EQ((std::vector<DISPID>{kUploadStart, kUploadEnd}), events_.Outline());
        EXPECT_EQ(kZavtOperationNone, rig->controlObject()->OperationKind());
        EXPECT_EQ(resource, ReadFile(back));
    }

    // A user file of another name reaches the player as config.dat; one of the name goes as it is.
    auto rig = Rig(2);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    const Bytes mine = Pattern(700, 3);
    ASSERT_EQ(S_OK, device->DownloadConfig(rig->Pc(L"my settings.cfg", mine)));
    EXPECT_EQ(mine, PlayerFile(*rig, L"config.dat"));
    EXPECT_EQ((std::vector<std::wstring>{L"Config.dat"}), rig->Names());
    const Bytes named = Pattern(300, 4);
    ASSERT_EQ(S_OK, device->DownloadConfig(rig->Pc(L"CONFIG.DAT", named)));
    EXPECT_EQ((std::vector<std::wstring>{L"CONFIG.DAT"}), rig->Names());
    // A user file that is not there: the player keeps the one it has.
    EXPECT_EQ(E_FAIL, device->DownloadConfig(CComBSTR(rig->PcPath(L"gone.cfg").wstring().c_str())));
    EXPECT_EQ(named, PlayerFile(*rig, L"config.dat"));
    EXPECT_EQ(E_INVALIDARG, device->UploadConfig(nullptr));
}

// A transfer failure anywhere in UploadConfig or FontPresent is never taken for a file that is not there.
TEST_F(SystemFilesTest, FailedLookUpsAreNoAnswer)
{
    auto rig = RigWithFont(4);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    ASSERT_EQ(S_OK, device->DownloadConfig(nullptr));
    const CComBSTR back(rig->PcPath(L"back.dat").wstring().c_str());
    long present = 0;
    const struct {
        const char* what;
        std::function<HRESULT()> call;
        bool answersPresence;
    } ops[] = {
        {"UploadConfig", [&] { return device->UploadConfig(back); }, false},
        {"FontPresent", [&] { return device->get_FontPresent(&present); }, true},
    };
    auto transfers = [&] {
        const sim::WireCounters c = rig->player().Server().Counters();
        return c.hostWrites + c.hostReads;
    };
    for (const auto& op : ops) {
        const std::uint64_t before = transfers();
        ASSERT_EQ(S_OK, op.call()) << op.what;
        const std::uint64_t count = transfers() - before;
        for (std::uint64_t nth = 1; nth <= count; ++nth) {
            rig->player().Server().InjectFault(sim::FaultKind::Fail, nth);
            present = 0;
            const HRESULT hr = op.call();
            rig->player().Server().ClearFault();
            EXPECT_TRUE(FAILED(hr) || (hr == S_OK && (!op.answersPresence || present == 1)))
                << op.what << " with transfer " << nth << " failing gave 0x" << std::hex << hr;
        }
    }
}

TEST_F(SystemFilesTest, ImageAndMemo)
{
    auto rig = Rig(12, true);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    long supported = 0;
    ASSERT_EQ(S_OK, device->get_SupportImages(&supported));
    EXPECT_EQ(1, supported);
    ASSERT_EQ(S_OK, device->DownloadImage(nullptr));
    EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
    EXPECT_EQ(ResourceBytes(kConfigResourceType, 400), PlayerFile(*rig, L"image.dat"));
    EXPECT_FALSE(std::filesystem::exists(TempFolderFile(L"image.dat"))) << "the temporary image is removed";
    const Bytes picture = Pattern(900, 8);
    ASSERT_EQ(S_OK, device->DownloadImage(rig->Pc(L"logo.bin", picture)));
    EXPECT_EQ(picture, PlayerFile(*rig, L"image.dat"));

    EXPECT_EQ(E_INVALIDARG, device->DownloadMemo(nullptr));
    const auto back = rig->PcPath(L"memo back.txt");
    EXPECT_EQ(S_FALSE, device->UploadMemo(CComBSTR(back.wstring().c_str())));
    const Bytes memo = Pattern(333, 9);
    events_.Clear();
    ASSERT_EQ(S_OK, device->DownloadMemo(rig->Pc(L"notes.txt", memo)));
    EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
    ASSERT_EQ(S_OK, device->UploadMemo(CComBSTR(back.wstring().c_str())));
    EXPECT_EQ(memo, ReadFile(back));
    EXPECT_EQ((std::vector<std::wstring>{L"image.dat", L"memo.mem"}), rig->Names());

    // A model without an image resource has no default image: the call fails before any event and the
    // player keeps its image.
    rig.reset();
    auto plain = Rig(2);
    ASSERT_TRUE(plain);
    ASSERT_EQ(S_OK, plain->device()->DownloadImage(plain->Pc(L"image.dat", picture)));
    events_.Clear();
    EXPECT_EQ(E_FAIL, plain->device()->DownloadImage(nullptr));
    EXPECT_TRUE(events_.Events().empty());
    EXPECT_EQ(picture, PlayerFile(*plain, L"image.dat"));
}

TEST_F(SystemFilesTest, FirmwareUpgrade)
{
    const Bytes firmware = Pattern(3000, 21);
    struct Case {
        int model;
        bool folderObjects;
        std::uint32_t loader;
    };
    // Model 8's flat store has one folder level.
    for (const Case& c : {Case{8, false, 301}, Case{15, true, 316}}) {
        SCOPED_TRACE("model " + std::to_string(c.model));
        auto rig = Rig(c.model, c.folderObjects);
        ASSERT_TRUE(rig);
        IZAVTDevice* device = rig->device();
        const CComBSTR src = rig->Pc(L"new firmware.bin", firmware);
        EXPECT_EQ(E_INVALIDARG, device->FirmwareUpgrade(nullptr));
        EXPECT_EQ(E_FAIL, device->FirmwareUpgrade(rig->Pc(L"empty.bin", {})));
        ASSERT_EQ(S_OK, device->FirmwareUpgrade(src));
        EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
        EXPECT_EQ(firmware, PlayerFile(*rig, L"player.rom"));
        EXPECT_EQ(ResourceBytes(kUpgradeResourceType, c.loader), PlayerFile(*rig, L"upgrade.axf"));
        EXPECT_FALSE(std::filesystem::exists(TempFolderFile(L"player.rom")));
        EXPECT_FALSE(std::filesystem::exists(TempFolderFile(L"upgrade.axf")));

        // Again from a subfolder: the files of the root are replaced, never doubled.
        ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, rig->Pc(L"note.txt", Pattern(100, 2)), CComBSTR(L"\\SUB")));
        ASSERT_EQ(S_OK, device->FirmwareUpgrade(src));
        ASSERT_EQ(engine::kStatusOk, rig->Context()->SelectInternalRoot());
        std::vector<std::wstring> names = rig->Names();
        std::sort(names.begin(), names.end());
        EXPECT_EQ((std::vector<std::wstring>{L"SUB", L"player.rom", L"upgrade.axf"}), names);

        // The player refuses the files: E_FAIL, with the End event and the kind reset, and the temporary
        // files kept.
        rig->player().Player().EditConfig([](sim::PlayerConfig& config) { config.upgradeStatus = 1; });
        events_.Clear();
        EXPECT_EQ(E_FAIL, device->FirmwareUpgrade(src));
        EXPECT_EQ((std::vector<DISPID>{kDownloadStart, kDownloadEnd}), events_.Outline());
        EXPECT_EQ(kZavtOperationNone, rig->controlObject()->OperationKind());
        EXPECT_TRUE(std::filesystem::exists(TempFolderFile(L"player.rom")));
        events_.Clear();
    }

    // A model without firmware upgrade: string 778, nothing written.
    auto rig = Rig(4);
    ASSERT_TRUE(rig);
    EXPECT_EQ(MessageResult(778), rig->device()->FirmwareUpgrade(rig->Pc(L"fw.bin", firmware)));
    EXPECT_EQ(L"Firmware upgrade is not supported by this model.", LastError().first);
    EXPECT_TRUE(rig->Names().empty());
    EXPECT_TRUE(events_.Events().empty());
}

// Without a device context: error 769, except for the argument checks that come first.
TEST_F(SystemFilesTest, WithoutADeviceContext)
{
    auto rig = Rig(4);
    ASSERT_TRUE(rig);
    IZAVTDevice* device = rig->device();
    DeviceContext::Discard();
    const CComBSTR path = rig->Pc(L"any.bin", Pattern(100, 1));
    long value = 0;
    const struct {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT want;
    } cases[] = {
        {"DownloadFont user, no path", [&] { return device->DownloadFont(FontUserDefined, nullptr); }, E_INVALIDARG},
        {"DownloadFont", [&] { return device->DownloadFont(FontUNIKWEP, nullptr); }, MessageResult(769)},
        {"DownloadFontAsync", [&] { return device->DownloadFontAsync(FontUserDefined, path); }, MessageResult(769)},
        {"EraseFont", [&] { return device->EraseFont(); }, MessageResult(769)},
        {"FontPresent, null", [&] { return device->get_FontPresent(nullptr); }, E_INVALIDARG},
        {"FontPresent", [&] { return device->get_FontPresent(&value); }, MessageResult(769)},
        {"DownloadConfig", [&] { return device->DownloadConfig(nullptr); }, MessageResult(769)},
        {"UploadConfig", [&] { return device->UploadConfig(path); }, MessageResult(769)},
        {"DownloadImage", [&] { return device->DownloadImage(path); }, MessageResult(769)},
        {"DownloadMemo, no path", [&] { return device->DownloadMemo(nullptr); }, E_INVALIDARG},
        {"DownloadMemo", [&] { return device->DownloadMemo(path); }, MessageResult(769)},
        {"UploadMemo, no path", [&] { return device->UploadMemo(nullptr); }, E_INVALIDARG},
        {"UploadMemo", [&] { return device->UploadMemo(path); }, MessageResult(769)},
        {"FirmwareUpgrade, no path", [&] { return device->FirmwareUpgrade(nullptr); }, E_INVALIDARG},
        {"FirmwareUpgrade", [&] { return device->FirmwareUpgrade(path); }, MessageResult(769)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.want, c.call()) << c.what;
        if (c.want == MessageResult(769)) {
            EXPECT_EQ(L"No Device object or initialized inproperly.", LastError().first) << c.what;
        }
    }
    EXPECT_TRUE(events_.Events().empty());
}

}  // namespace
