// The control's device collection and the device object in-process, against the simulated player,
// with the server's resources linked into the test: identity and capabilities, storages, downloads
// and uploads by path, the refresh a client polls, events, errors, and the objects after the control
// is gone.
#include "tests/device/api/zavt_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class ZavtDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override
    {
        ZavtSetSpecialBuildNumber(0);
        CoUninitialize();
    }
};

}  // namespace

TEST_F(ZavtDeviceTest, WithoutAPlayerDevicesFailsAndHandsOutNothing)
{
    _Module.Init(nullptr, GetModuleHandleW(nullptr));
    SetEnvironmentVariableA("KWEP_SIMULATED_PLAYER", "\\\\.\\pipe\\kwep-no-such-player");
    CComObject<CZAVTControl>* object = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&object));
    CComPtr<IZAVTControl> control(static_cast<IZAVTControl*>(object));
    IZAVTDeviceCollection* devices = reinterpret_cast<IZAVTDeviceCollection*>(1);
    EXPECT_EQ(E_FAIL, control->get_Devices(&devices));
    EXPECT_EQ(nullptr, devices);
    EXPECT_EQ(L"Device Initialization failed. Possible not connected.", LastError().first);
    EXPECT_EQ(E_NOTIMPL, control->DeleteFile(0, ZAVTST_INT, nullptr));
    control.Release();
    SetEnvironmentVariableA("KWEP_SIMULATED_PLAYER", nullptr);
}

TEST_F(ZavtDeviceTest, IdentityOfTheDevice)
{
    DeviceRig rig(1, true);
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    CComBSTR text;
    ASSERT_EQ(S_OK, device->get_Name(&text));
    EXPECT_EQ(L"KWEP KWEP-1", Text(text));
    ZavtSetSpecialBuildNumber(3);
    ASSERT_EQ(S_OK, device->get_Name(&text));
    EXPECT_EQ(L"KWEP-1", Text(text));
    ZavtSetSpecialBuildNumber(0);
    ZAVTDeviceModelType model{};
    ASSERT_EQ(S_OK, device->get_Model(&model));
    EXPECT_EQ(1, static_cast<int>(model));
    ASSERT_EQ(S_OK, device->get_FirmwareVersion(&text));
    EXPECT_EQ(L"1.00", Text(text));
    ASSERT_EQ(S_OK, device->get_FirmwareDate(&text));
    EXPECT_EQ(L"2004.01.01", Text(text));
    ASSERT_EQ(S_OK, device->get_DiagnosticInfo(&text));
    EXPECT_EQ(L"No information", Text(text));
    long value = -1;
    ASSERT_EQ(S_OK, device->get_DeviceID(&value));
    EXPECT_EQ(0, value);
    ASSERT_EQ(S_OK, device->get_SectorsPerClusterInternal(&value));
    EXPECT_EQ(32, value);
    BSTR unique = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, device->put_DeviceUniqueID(nullptr));
    EXPECT_EQ(S_OK, device->get_DeviceUniqueID(&unique));
    EXPECT_EQ(nullptr, unique) << "the out-parameter is written";
    EXPECT_EQ(E_NOTIMPL, device->UploadImage(nullptr));

    // The storages: internal memory first, then the card, each carrying its type and name.
    CComPtr<IZAVTStorageCollection> storages;
    ASSERT_EQ(S_OK, device->get_Storages(&storages));
    long count = 0;
    ASSERT_EQ(S_OK, storages->get_Count(&count));
    ASSERT_EQ(2, count);
    const wchar_t* names[] = {L"INTERNAL MEMORY", L"EXTERNAL CARD"};
    for (long i = 1; i <= 2; ++i) {
        CComPtr<IZAVTStorage> storage;
        ASSERT_EQ(S_OK, storages->get_Item(i, &storage));
        ZAVTStorageType type = ZAVTST_VOID;
        ASSERT_EQ(S_OK, storage->get_Type(&type));
        EXPECT_EQ(i - 1, static_cast<long>(type));
        ASSERT_EQ(S_OK, storage->get_Name(&text));
        EXPECT_EQ(names[i - 1], Text(text));
    }

    // A second Devices call: a new collection and device over the same context.
    auto context = rig.Context();
    CComPtr<IZAVTDeviceCollection> again;
    ASSERT_EQ(S_OK, rig.control()->get_Devices(&again));
    CComPtr<IZAVTDevice> second;
    ASSERT_EQ(S_OK, again->get_Item(1, &second));
    EXPECT_NE(static_cast<IZAVTDevice*>(second), device);
    EXPECT_EQ(context, rig.Context());
}

TEST_F(ZavtDeviceTest, CapabilitiesByModel)
{
    _Module.Init(nullptr, GetModuleHandleW(nullptr));
    for (int m = 0; m <= 16; ++m) {
        CComObject<CZAVTDevice>* object = nullptr;
        ASSERT_EQ(S_OK, CComObject<CZAVTDevice>::CreateInstance(&object));
        CComPtr<IZAVTDevice> device(static_cast<IZAVTDevice*>(object));
        ASSERT_EQ(S_OK, object->Init(L"N", 0, static_cast<ZAVTDeviceModelType>(m), L"1.00"));
        long firmware = -1, radio = -1, images = -1;
        ASSERT_EQ(S_OK, device->get_SupportFirmwareUpgrade(&firmware));
        ASSERT_EQ(S_OK, device->get_SupportFMRadio(&radio));
        ASSERT_EQ(S_OK, device->get_SupportImages(&images));
        EXPECT_EQ(m == 2 || m >= 8 ? 1 : 0, firmware) << m;
        EXPECT_EQ(m >= 9 ? 1 : 0, radio) << m;
        EXPECT_EQ(m == 12 || m == 13 ? 1 : 0, images) << m;
    }
}

TEST_F(ZavtDeviceTest, DownloadAndUploadByPath)
{
    DeviceRig rig(1);
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    EventLog log;
    CComPtr<IConnectionPoint> cp;
    ASSERT_EQ(S_OK, rig.controlObject()->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, cp->Advise(&log, &cookie));

    const Bytes data = Pattern(20000, 5);
    CComBSTR src = rig.Pc(L"TRACK.BIN", data);
    CComBSTR root(L"");
    EXPECT_EQ(E_INVALIDARG, device->Download(static_cast<ZAVTStorageType>(2), src, root));
    CComBSTR missing(rig.PcPath(L"NONE.BIN").wstring().c_str());
    EXPECT_EQ(E_FAIL, device->Download(ZAVTST_INT, missing, root));
    EXPECT_TRUE(log.ids.empty());

    // Into the root; a second download of the same name replaces the first.
    // Start, the download's progress as DownloadFilePercent, End; the Percent events stop with it.
    ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, root));
    ASSERT_GE(log.ids.size(), 3u);
    EXPECT_EQ(10, log.ids.front());
    EXPECT_EQ(11, log.ids.back());
    for (std::size_t i = 1; i + 1 < log.ids.size(); ++i)
        EXPECT_EQ(12, log.ids[i]) << i;
    EXPECT_FALSE(log.objects);
    EXPECT_EQ(kZavtOperationNone, rig.controlObject()->OperationKind());
    ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, root));
    EXPECT_EQ((std::vector<std::wstring>{L"TRACK.BIN"}), rig.Names());

    // Back to the PC, over a file that is there.
    const auto back = rig.PcPath(L"back.bin");
    WriteFile(back, Pattern(10, 6));
    CComBSTR dst(back.wstring().c_str());
    ASSERT_EQ(S_OK, device->Upload(ZAVTST_INT, CComBSTR(L"C:\\any\\track.bin"), dst));
    EXPECT_EQ(data, ReadFile(back));

    // A name the folder does not hold: string 774, the PC file left alone.
    const auto untouched = rig.PcPath(L"keep.bin");
    WriteFile(untouched, Pattern(10, 7));
    EXPECT_EQ(static_cast<HRESULT>(0x80040306),
              device->Upload(ZAVTST_INT, CComBSTR(L"NOPE.BIN"), CComBSTR(untouched.wstring().c_str())));
    EXPECT_EQ(L"File not found or I/O Error.", LastError().first);
    EXPECT_EQ(Pattern(10, 7), ReadFile(untouched));
    // A transfer that fails anywhere in a download or an upload is reported, and never leaves two
    // entries of one name.
    auto transfers = [&] {
        const sim::WireCounters c = rig.player().Server().Counters();
        return c.hostWrites + c.hostReads;
    };
    const Bytes small = Pattern(700, 12);
    CComBSTR smallSrc = rig.Pc(L"SMALL.BIN", small);
    struct Op {
        const char* what;
        std::function<HRESULT()> call;
    };
    const Op ops[] = {
        {"download",
         [&] {
             return device->Download(ZAVTST_INT, smallSrc, root);
         }},
        {"upload",
         [&] {
             return device->Upload(ZAVTST_INT, CComBSTR(L"SMALL.BIN"), dst);
         }},
    };
    for (const Op& op : ops) {
        ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, smallSrc, root));
        std::uint64_t before = transfers();
        ASSERT_EQ(S_OK, op.call()) << op.what;
        const std::uint64_t count = transfers() - before;
        int failures = 0;
        for (std::uint64_t nth = 1; nth <= count; ++nth) {
            ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, smallSrc, root));
            DeleteFileW(back.wstring().c_str());
            rig.player().Server().InjectFault(sim::FaultKind::Fail, nth);
            const HRESULT hr = op.call();
            rig.player().Server().ClearFault();
            const auto names = rig.Names();
            EXPECT_LE(std::count(names.begin(), names.end(), L"SMALL.BIN"), 1) << op.what << " " << nth;
            if (FAILED(hr)) {
                ++failures;
                EXPECT_EQ(nth == count ? E_FAIL : hr, hr) << op.what << " " << nth;
            } else if (op.what == std::string("upload")) {
                EXPECT_EQ(small, ReadFile(back)) << "a success with the whole file, at transfer " << nth;
            } else {
                EXPECT_EQ(1, std::count(names.begin(), names.end(), L"SMALL.BIN")) << nth;
            }
        }
        EXPECT_GT(failures, 0) << op.what;
    }
    ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, root));
    ASSERT_EQ(S_OK, device->Upload(ZAVTST_INT, CComBSTR(L"TRACK.BIN"), dst));
    EXPECT_EQ(data, ReadFile(back));
    rig.player().Server().Unplug();
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), device->Upload(ZAVTST_INT, CComBSTR(L"TRACK.BIN"), dst));
    rig.player().Server().Plug();

    // More than the free space: refused before anything is written.
    const auto huge = rig.PcPath(L"HUGE.BIN");
    {
        HANDLE h = CreateFileW(huge.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        LARGE_INTEGER size;
        size.QuadPart = 600ll * 1024 * 1024;
        SetFilePointerEx(h, size, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
        CloseHandle(h);
    }
    log.ids.clear();
    EXPECT_EQ(E_OUTOFMEMORY, device->Download(ZAVTST_INT, CComBSTR(huge.wstring().c_str()), root));
    // The player was plugged in again, so only its identification is heard: no download began.
    EXPECT_EQ((std::vector<DISPID>{13, 14}), log.ids);
    EXPECT_FALSE(Holds(rig.Names(), L"HUGE.BIN"));
    cp->Unadvise(cookie);
}

TEST_F(ZavtDeviceTest, DownloadDestinationFolders)
{
    DeviceRig rig(9, false, true);
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    CComBSTR src = rig.Pc(L"Song.bin", Pattern(3000, 8));
    auto context = rig.Context();
    auto current = [&] {
        std::uint32_t id = 0;
        context->GetCurrentFolderId(0, &id);
        return id;
    };
    auto folderId = [&](const wchar_t* name) {
        engine::DirRecord r;
        return context->FindEntryByName(0, name, &r) == 0 ? static_cast<std::uint32_t>(r.firstCluster) : 0u;
    };

    // "\NEWDIR" makes the folder in the current one and leaves it current.
    ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, CComBSTR(L"\\NEWDIR")));
    const std::uint32_t newDir = current();
    EXPECT_NE(1u, newDir);
    EXPECT_TRUE(Holds(rig.Names(), L"Song.bin"));
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    EXPECT_EQ(newDir, folderId(L"NEWDIR"));

    struct Row {
        const wchar_t* dst;
        const wchar_t* folder;  // null: the root
    };
    const Row rows[] = {
        {L"", nullptr},         {L"\\", nullptr},         {L"MUSIC", L"MUSIC"},
        {L"\\MUSIC", L"MUSIC"}, {L"\\MUSIC\\", L"MUSIC"}, {L"\\A\\B", L"A"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(0u, context->SelectFolder(0, 0));
        ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, CComBSTR(row.dst))) << row.dst;
        if (row.folder) {
            EXPECT_EQ(folderId(L"Song.bin"), 0u) << "a file in the folder, not a folder named after it";
            ASSERT_EQ(0u, context->SelectFolder(0, 0));
            const std::uint32_t id = folderId(row.folder);
            ASSERT_NE(0u, id) << row.dst;
            ASSERT_EQ(0u, context->SelectFolder(0, id));
        } else {
            EXPECT_EQ(1u, current()) << row.dst;
        }
        EXPECT_TRUE(Holds(rig.Names(), L"Song.bin")) << row.dst;
    }
    // No player name with a separator in it; a path of two folder levels is walked, as the storage's.
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    for (const std::wstring& name : rig.Names())
        EXPECT_EQ(std::wstring::npos, name.find(L'\\')) << std::string(name.begin(), name.end());
    ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, CComBSTR(L"\\A\\B\\C")));
    EXPECT_TRUE(Holds(rig.Names(), L"Song.bin")) << "in A\\B, left current";
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    const std::uint32_t a = folderId(L"A");
    ASSERT_EQ(0u, context->SelectFolder(0, a));
    EXPECT_NE(0u, folderId(L"B"));

    // A download never takes a folder of the same name for the file it replaces.
    CComBSTR named = rig.Pc(L"MUSIC", Pattern(100, 9));
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    const std::uint32_t music = folderId(L"MUSIC");
    ASSERT_NE(0u, music);
    EXPECT_EQ(E_FAIL, device->Download(ZAVTST_INT, named, CComBSTR(L"")));
    EXPECT_EQ(L"Name already exist", LastError().first);
    EXPECT_EQ(music, folderId(L"MUSIC"));
    ASSERT_EQ(0u, context->SelectFolder(0, music));
    EXPECT_TRUE(Holds(rig.Names(), L"Song.bin")) << "the folder keeps its contents";
}

TEST_F(ZavtDeviceTest, ForceUpdateReportsAChangeOnce)
{
    DeviceRig rig(1);
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    device->ForceUpdate();  // the identification itself counts as a change
    EXPECT_EQ(S_OK, device->ForceUpdate());
    CComBSTR src = rig.Pc(L"A.BIN", Pattern(100, 1));
    ASSERT_EQ(S_OK, device->Download(ZAVTST_INT, src, CComBSTR(L"")));
    EXPECT_EQ(S_FALSE, device->ForceUpdate());
    EXPECT_EQ(S_OK, device->ForceUpdate());
    rig.player().Server().Unplug();
    EXPECT_EQ(E_FAIL, device->ForceUpdate());
    EXPECT_FALSE(rig.Context()->IsMediaChanged()) << "cleared in every case";
    EXPECT_EQ(S_OK, device->CancelOperation());
}

// Once the control is gone, the device object answers 769 and hands out nothing, while a call that
// already holds the context finishes with it.
TEST_F(ZavtDeviceTest, AfterTheControlIsGone)
{
    DeviceRig rig(1);
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    std::shared_ptr<DeviceContext> held = rig.Context();
    rig.DropControl();
    EXPECT_EQ(nullptr, rig.Context());
    EXPECT_EQ(nullptr, ZavtCurrentControl());
    bool reached = false;
    EXPECT_FALSE(ZavtWithCurrentControl([&](CZAVTControl&) { reached = true; }));
    EXPECT_FALSE(reached) << "no event goes to a freed control";
    EXPECT_TRUE(held->IsReady()) << "a holder keeps its context";
    held.reset();

    BSTR name = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), device->get_Name(&name));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(L"No Device object or initialized inproperly.", LastError().first);
    IZAVTStorageCollection* storages = reinterpret_cast<IZAVTStorageCollection*>(1);
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), device->get_Storages(&storages));
    EXPECT_EQ(nullptr, storages);
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), device->ForceUpdate());
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), device->CancelOperation());
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), device->Download(ZAVTST_INT, CComBSTR(L"X"), CComBSTR(L"")));
}
