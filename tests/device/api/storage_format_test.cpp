// Formats through the storage object on the simulated player. Internal memory: the system files come
// back (names, ids, order, sizes, contents) on each model family with the identity dump as it was,
// even when a subfolder was current; nothing is erased when the dump cannot be read; a stale temporary
// FM copy never reaches the player. Cards of both kinds: the new volume is clean for fsck.fat and
// takes a file. The object's events and errors for Format, Initialize and FormatAsync, one
// asynchronous format at a time, cancel while it runs, and a worker that outlives the client's
// reference.
#include "device/api/config_resources.h"
#include "device/api/zavt_storage.h"
#include "device/fs/pc/device_file_util.h"
#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"
#include "tests/device/api/zavt_rig.h"
#include "tests/device/fs/card/card_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

class StorageFormatTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override
    {
        ZavtSetSpecialBuildNumber(0);
        CoUninitialize();
    }
};

bool FolderObjects(int model)
{
    return model >= 9;
}

// Model 2 (on its default firmware) keeps one level of folders in its flat store.
bool HasFolders(int model)
{
    return model == 2 || FolderObjects(model);
}

// Records the control's events (Percent events left out) with the thread each came on, and signals the
// end of a format.
class FormatSink : public EventSink {
public:
    struct Event {
        DISPID id;
        DWORD thread;
        bool object;
        long number;  // HError: its HRESULT
    };
    FormatSink() : ended_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FormatSink() override { CloseHandle(ended_); }

    bool WaitForEnd() { return WaitForSingleObject(ended_, 600000) == WAIT_OBJECT_0; }
    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return events_;
    }
    std::vector<DISPID> Ids()
    {
        std::vector<DISPID> ids;
        for (const Event& e : Events())
            ids.push_back(e.id);
        return ids;
    }

protected:
    void OnEvent(DISPID id, const DISPPARAMS& params) override
    {
        if (id == 6)
            return;
        Event e{id, GetCurrentThreadId(), CarriesObject(params), 0};
        if (id == 15 && params.cArgs == 2)
            e.number = params.rgvarg[0].lVal;
        {
            std::lock_guard<std::mutex> hold(lock_);
            events_.push_back(e);
        }
        if (id == 5)
            SetEvent(ended_);
    }

private:
    std::mutex lock_;
    std::vector<Event> events_;
    HANDLE ended_;
};

// The sink connected to the rig's control for the scope.
class Connected {
public:
    Connected(DeviceRig& rig, EventSink* sink) : sink_(sink)
    {
        if (SUCCEEDED(rig.controlObject()->FindConnectionPoint(DIID__IZAVTControlEvents, &cp_)))
            ok_ = SUCCEEDED(cp_->Advise(sink, &cookie_));
    }
    ~Connected()
    {
        if (ok_)
            cp_->Unadvise(cookie_);
        // The end event comes on the worker, which releases the sink after the call: the sink goes after.
        sink_->WaitUntilReleased();
    }
    bool ok() const { return ok_; }

private:
    EventSink* sink_;
    CComPtr<IConnectionPoint> cp_;
    DWORD cookie_ = 0;
    bool ok_ = false;
};

struct Listed {
    std::wstring name;
    std::uint16_t id;
    std::uint32_t size;
    std::uint8_t attributes;
};

// The current folder of internal memory, in directory order.
std::vector<Listed> Listing(DeviceRig& rig)
{
    std::vector<Listed> out;
    auto context = rig.Context();
    engine::DirRecord r;
    for (std::int32_t s = context->FindFirstInternal(&r); s == 0; s = context->FindNextInternal(&r)) {
        std::wstring name;
        if (context->UsesFolderObjects()) {
            name = reinterpret_cast<const wchar_t*>(r.name);
        } else {
            const std::string ansi(reinterpret_cast<const char*>(r.name));
            name.assign(ansi.begin(), ansi.end());
        }
        out.push_back({name, r.firstCluster, r.size, r.attributes});
    }
    return out;
}

// A file of internal memory's current folder, by record id, as the player gives it back.
Bytes PlayerFile(DeviceRig& rig, std::uint16_t id)
{
    const std::filesystem::path pc = rig.PcPath(L"back.bin");
    std::filesystem::remove(pc);
    if (rig.Context()->UploadFile(0, id, pc.wstring().c_str()) != engine::kStatusOk)
        return {};
    return ReadFile(pc);
}

Bytes Resource(std::uint32_t id)
{
    std::unique_ptr<std::uint8_t[]> data;
    DWORD size = 0;
    if (!UtilLoadResourceData(id, kConfigResourceType, &data, &size))
        return {};
    return Bytes(data.get(), data.get() + size);
}

std::filesystem::path TempCopy(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(S_OK, engine::UtilMakeTempFilePath(MAX_PATH, path, name));
    return path;
}

// Gives the player an identity (three fields of the dump) and answers the dump as it then stands.
std::array<std::uint8_t, kSystemDumpBytes> GiveIdentity(DeviceRig& rig)
{
    auto context = rig.Context();
    const Bytes personal = Pattern(kDumpPersonalIdBytes, 1), mark = Pattern(kDumpMarkIdBytes, 2),
                serial = Pattern(kDumpSerialBytes, 3);
    EXPECT_EQ(0u, context->UpdateSystemDump(kDumpPersonalIdOffset, personal.data(), kDumpPersonalIdBytes));
    EXPECT_EQ(0u, context->UpdateSystemDump(kDumpMarkIdOffset, mark.data(), kDumpMarkIdBytes));
    EXPECT_EQ(0u, context->UpdateSystemDump(kDumpSerialOffset, serial.data(), kDumpSerialBytes));
    EXPECT_EQ(0u, context->ReadSystemDump());
    return context->SystemDump();
}

struct InternalCase {
    const char* what;
    int model;
    long build;
    bool fmConfig;    // model 7: the player has its FM configuration
    bool initialize;  // through Initialize instead of Format
};

const InternalCase kInternalCases[] = {
    {"flat store", 1, 0, false, false},
    {"flat store with one folder level", 2, 0, false, false},
    {"model 7 with its FM configuration", 7, 0, true, false},
    {"model 7 without one", 7, 0, false, true},
    {"folder objects with the recording folder", 9, 0, false, false},
    {"folder objects, build 3", 10, 3, false, true},
    {"folder objects without the recording folder", 11, 0, false, false},
    {"image and sound files, build 4", 12, 4, false, false},
};

TEST_F(StorageFormatTest, InternalFormatRestoresTheSystemFiles)
{
    for (const InternalCase& c : kInternalCases) {
        SCOPED_TRACE(c.what);
        ZavtSetSpecialBuildNumber(c.build);
        DeviceRig rig(SmallPlayer(c.model), 0, FolderObjects(c.model));
        ASSERT_TRUE(rig.ok());
        auto context = rig.Context();
        const auto identity = GiveIdentity(rig);
        const Bytes fm = Pattern(1500, 7);
        if (c.fmConfig) {
            const AnsiPath name(TempCopy(L"FMCONFIG.DAT").wstring().c_str());
            ASSERT_EQ(0u,
                      context->WriteSystemFile(0, name.c_str(), static_cast<std::uint32_t>(fm.size()), fm.data(), 5));
        }
        // A copy an earlier format left behind, of another player.
        WriteFile(TempCopy(L"FMCONFIG.DAT"), Pattern(700, 99));

        CComPtr<IZAVTStorage> storage = StorageOf(rig, ZAVTST_INT);
        ASSERT_TRUE(storage);
        // A file of the client's, in a subfolder that stays current where there are folders.
        const CComBSTR song = rig.Pc(L"Song.bin", Pattern(5000, 4));
        ASSERT_EQ(S_OK, storage->Download(song, CComBSTR(HasFolders(c.model) ? L"\\MUSIC\\" : L"")));

        ASSERT_EQ(S_OK, c.initialize ? storage->Initialize() : storage->Format());

        // The root is current, and holds the system files and nothing of the client's.
        std::uint32_t current = 99;
        ASSERT_EQ(0, context->GetCurrentFolderId(0, &current));
        EXPECT_EQ(FolderObjects(c.model) ? 1u : 0u, current);
        const ConfigResourceIds resources = SelectConfigResources(c.model, c.build, false);
        struct Expected {
            std::wstring name;
            int id;  // -1: given by the store
            Bytes content;
            bool folder;
        };
        const Bytes zeros(kSystemDumpBytes, 0);
        std::vector<Expected> expected = {
            {L"sysdum0.du0", 0, Bytes(identity.begin(), identity.end()), false},
            {L"sysdum2.du2", 2, zeros, false},
            {L"sysdum3.du3", 3, zeros, false},
        };
        if (c.model != 7)
            expected.push_back({L"sysdum5.du5", 5, zeros, false});
        else if (c.fmConfig)
            expected.push_back({L"FMCONFIG.DAT", 5, fm, false});
        expected.push_back({L"sysdum4.du4", 4, zeros, false});
        if (FolderObjects(c.model) && resources[3])
            expected.push_back({engine::RecordFolderName(c.build), -1, {}, true});
        expected.push_back({L"Config.dat", -1, Resource(resources[0]), false});
        if (c.model == 12 || c.model == 13) {
            expected.push_back({L"image.dat", -1, Resource(resources[1]), false});
            expected.push_back({L"csound.mta", -1, Resource(resources[2]), false});
        }

        const std::vector<Listed> listed = Listing(rig);
        ASSERT_EQ(expected.size(), listed.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const Expected& e = expected[i];
            const Listed& l = listed[i];
            SCOPED_TRACE(std::string(e.name.begin(), e.name.end()));
            EXPECT_EQ(e.name, l.name);
            EXPECT_EQ(e.folder, (l.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
            if (e.id >= 0) {
                EXPECT_EQ(e.id, l.id);
            }
            if (e.folder)
                continue;
            ASSERT_FALSE(e.content.empty());
            EXPECT_EQ(e.content.size(), l.size);
            EXPECT_EQ(e.content, PlayerFile(rig, l.id));
        }
        // The identity reads as it did before the format.
        ASSERT_EQ(0u, context->ReadSystemDump());
        EXPECT_EQ(identity, context->SystemDump());
    }
}

// A failed read of the identity dump ends the format before anything is erased.
TEST_F(StorageFormatTest, UnreadableDumpErasesNothing)
{
    DeviceRig rig(SmallPlayer(9), 0, true);
    ASSERT_TRUE(rig.ok());
    auto context = rig.Context();
    const auto identity = GiveIdentity(rig);
    const Bytes song = Pattern(3000, 5);
    CComPtr<IZAVTStorage> storage = StorageOf(rig, ZAVTST_INT);
    ASSERT_EQ(S_OK, storage->Download(rig.Pc(L"Song.bin", song), CComBSTR(L"")));

    // The transfers of the root's selection and of the dump's read, counted on a dry run: the format
    // begins with the same two steps.
    sim::WireServer& server = rig.player().Server();
    auto transfers = [&] {
        return server.Counters().hostWrites + server.Counters().hostReads;
    };
    server.ResetCounters();
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    const std::uint64_t select = transfers();
    server.ResetCounters();
    ASSERT_EQ(0u, context->ReadSystemDump());
    const std::uint64_t read = transfers();
    ASSERT_GE(read, 2u);

    for (std::uint64_t nth : std::set<std::uint64_t>{select + 1, select + (read + 1) / 2, select + read}) {
        SCOPED_TRACE(nth);
        context->ClearMediaChanged();
        server.InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_EQ(engine::kStatusUsbError, context->Format(0));
        server.ClearFault();
        EXPECT_TRUE(context->IsMediaChanged());
        ASSERT_EQ(S_OK, context->ReadDeviceInfo());
        ASSERT_EQ(0u, context->SelectFolder(0, 0));
        engine::DirRecord r;
        ASSERT_EQ(0, context->ResolvePath(0, L"Song.bin", &r));
        EXPECT_EQ(song, PlayerFile(rig, r.firstCluster));
        ASSERT_EQ(0u, context->ReadSystemDump());
        EXPECT_EQ(identity, context->SystemDump());
    }
    // A storage that is neither.
    context->ClearMediaChanged();
    EXPECT_EQ(engine::kStatusUsbError, context->Format(2));
    EXPECT_TRUE(context->IsMediaChanged());
}

// Both card kinds: the new volume is clean for fsck.fat, the root is current and takes a file.
TEST_F(StorageFormatTest, CardFormatsAreCleanForFsck)
{
    for (const char* tool : {"fsck.fat", "mcopy"})
        ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
    struct CardCase {
        const char* what;
        int model;
        int card;
    };
    for (const CardCase& c : {CardCase{"NAND-type card", 9, 1}, CardCase{"unformatted MMC/SD card", 10, 2}}) {
        SCOPED_TRACE(c.what);
        DeviceRig rig(SmallPlayer(c.model), c.card, true);
        ASSERT_TRUE(rig.ok());
        auto context = rig.Context();
        if (c.card == 2) {
            // A card of no volume in place of the formatted one, as the player then finds it.
            ASSERT_TRUE(rig.player().Player().InsertSectorCard(32768, false));
            ASSERT_EQ(S_OK, context->ReadDeviceInfo());
        } else {
            const Bytes old = Pattern(4000, 8);
            ASSERT_EQ(S_OK, StorageOf(rig, ZAVTST_EXT)->Download(rig.Pc(L"Old.bin", old), CComBSTR(L"")));
        }
        CComPtr<IZAVTStorage> storage = StorageOf(rig, ZAVTST_EXT);
        ASSERT_TRUE(storage);
        long unformatted = -1;
        ASSERT_EQ(S_OK, storage->get_Unformatted(&unformatted));
        EXPECT_EQ(c.card == 2 ? 1 : 0, unformatted);

        ASSERT_EQ(S_OK, storage->Format());
        ASSERT_EQ(S_OK, storage->get_Unformatted(&unformatted));
        EXPECT_EQ(0, unformatted);
        long free = 0;
        ASSERT_EQ(S_OK, storage->get_FreeSize(&free));
        EXPECT_GT(free, 0);
        const Bytes song = Pattern(6000, 9);
        ASSERT_EQ(S_OK, storage->Download(rig.Pc(L"NEW.BIN", song), CComBSTR(L"")));
        EXPECT_EQ(std::vector<std::wstring>{L"NEW.BIN"}, rig.Names(1));

        cardtest::SyncWithPlayer();
        sim::CardImageAudit audit;
        const auto card = rig.player().Player().ExportCard(&audit);
        ASSERT_TRUE(card);
        EXPECT_EQ(0u, audit.eccMismatches + audit.malformedFields + audit.duplicateBlocks);
        test_support::TempFolder folder;
        const cardtest::CardImage image(folder, *card);
        std::string findings = image.Fsck();
        // A fresh volume's label is in its boot sector only.
        const std::string label = "there is no volume label in root directory.\n";
        if (const std::size_t at = findings.find("Label in boot sector is"); at != std::string::npos)
            findings.erase(at, findings.find(label, at) + label.size() - at);
        EXPECT_EQ("", findings);
        EXPECT_EQ(song, image.Read("NEW.BIN").value_or(Bytes()));
    }
}

// The synchronous format's events and errors: start and end around the work on the caller's thread,
// the storage as their argument, the operation kind back to none, the engine's code mapped, no HError.
TEST_F(StorageFormatTest, FormatEventsAndErrors)
{
    DeviceRig rig(SmallPlayer(10), 2, true);
    ASSERT_TRUE(rig.ok());
    CComPtr<IZAVTStorage> card = StorageOf(rig, ZAVTST_EXT);
    ASSERT_TRUE(card);
    rig.player().Player().EditConfig([](sim::PlayerConfig& config) { config.cardWriteProtect = true; });
    ASSERT_EQ(S_OK, rig.Context()->ReadDeviceInfo());
    FormatSink sink;
    Connected connected(rig, &sink);
    ASSERT_TRUE(connected.ok());

    EXPECT_EQ(static_cast<HRESULT>(0x80040000 + ErrorCodeToMessageId(engine::kStatusWriteProtected)), card->Format());
    EXPECT_EQ(L"Storage is write-protect", LastError().first);
    EXPECT_EQ((std::vector<DISPID>{4, 5}), sink.Ids());
    for (const FormatSink::Event& e : sink.Events()) {
        EXPECT_TRUE(e.object);
        EXPECT_EQ(GetCurrentThreadId(), e.thread);
    }
    EXPECT_EQ(kZavtOperationNone, rig.controlObject()->OperationKind());

    // A storage of another type, and a storage without a device.
    CComObject<CZAVTStorage>* object = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTStorage>::CreateInstance(&object));
    CComPtr<IZAVTStorage> odd(static_cast<IZAVTStorage*>(object));
    ASSERT_EQ(S_OK, object->Init(L"Unknown", static_cast<ZAVTStorageType>(5), 0));
    EXPECT_EQ(E_INVALIDARG, odd->Format());
    EXPECT_EQ(E_INVALIDARG, odd->Initialize());
    EXPECT_EQ(E_INVALIDARG, odd->FormatAsync());
    DeviceContext::Discard();
    const HRESULT noDevice = static_cast<HRESULT>(0x80040000 + IDS_ERR_NO_DEVICE);
    EXPECT_EQ(noDevice, card->Initialize());
    EXPECT_EQ(noDevice, card->FormatAsync());
    EXPECT_EQ((std::vector<DISPID>{4, 5}), sink.Ids());
}

// FormatAsync: the start event on the caller's thread, the work, HError on failure and the end event on
// the worker; a storage that is not there is refused.
TEST_F(StorageFormatTest, FormatAsyncRunsOnAWorker)
{
    DeviceRig rig(SmallPlayer(10), 2, true);
    ASSERT_TRUE(rig.ok());
    CComPtr<IZAVTStorage> internal = StorageOf(rig, ZAVTST_INT), card = StorageOf(rig, ZAVTST_EXT);
    ASSERT_TRUE(internal && card);
    const DWORD caller = GetCurrentThreadId();
    {
        FormatSink sink;
        Connected connected(rig, &sink);
        ASSERT_TRUE(connected.ok());
        ASSERT_EQ(S_OK, internal->FormatAsync());
        ASSERT_TRUE(sink.WaitForEnd());
        const auto events = sink.Events();
        ASSERT_EQ(2u, events.size());
        EXPECT_EQ(4, events[0].id);
        EXPECT_EQ(caller, events[0].thread);
        EXPECT_EQ(5, events[1].id);
        EXPECT_NE(caller, events[1].thread);
        EXPECT_TRUE(events[0].object && events[1].object);
        EXPECT_EQ(kZavtOperationNone, rig.controlObject()->OperationKind());
        EXPECT_EQ(L"sysdum0.du0", Listing(rig).front().name);
    }
    {
        rig.player().Player().EditConfig([](sim::PlayerConfig& config) { config.cardWriteProtect = true; });
        ASSERT_EQ(S_OK, rig.Context()->ReadDeviceInfo());
        FormatSink sink;
        Connected connected(rig, &sink);
        ASSERT_EQ(S_OK, card->FormatAsync());
        ASSERT_TRUE(sink.WaitForEnd());
        const auto events = sink.Events();
        ASSERT_EQ(3u, events.size());
        EXPECT_EQ(4, events[0].id);
        EXPECT_EQ(15, events[1].id);
        EXPECT_EQ(static_cast<long>(0x80040000 + ErrorCodeToMessageId(engine::kStatusWriteProtected)),
                  events[1].number);
        EXPECT_EQ(5, events[2].id);
        EXPECT_EQ(events[1].thread, events[2].thread);
        EXPECT_NE(caller, events[2].thread);
        EXPECT_EQ(kZavtOperationNone, rig.controlObject()->OperationKind());
    }
    // A card storage on a player whose slot is empty.
    ASSERT_TRUE(rig.player().Player().SetCardInserted(false));
    ASSERT_EQ(S_OK, rig.Context()->ReadDeviceInfo());
    EXPECT_EQ(static_cast<HRESULT>(0x80040000 + IDS_ERR_NO_DEVICE), card->FormatAsync());
}

// While one asynchronous format waits for the card, a second start is refused and a cancel does not
// wait; the client's last reference may go before the work ends, and the end event still comes with
// the storage.
TEST_F(StorageFormatTest, FormatAsyncOneAtATimeAndItsLifetime)
{
    DeviceRig rig(SmallPlayer(10), 2, true);
    ASSERT_TRUE(rig.ok());
    CComPtr<IZAVTStorage> card = StorageOf(rig, ZAVTST_EXT);
    ASSERT_TRUE(card);
    ASSERT_EQ(S_OK, card->Download(rig.Pc(L"OLD.BIN", Pattern(3000, 6)), CComBSTR(L"")));
    FormatSink sink;
    Connected connected(rig, &sink);
    ASSERT_TRUE(connected.ok());

    DeviceLock& lock = DeviceContext::CardLock();
    lock.Enter();
    ASSERT_EQ(S_OK, card->FormatAsync());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), card->FormatAsync());
    EXPECT_EQ(S_OK, card->CancelOperation());
    EXPECT_EQ((std::vector<DISPID>{4}), sink.Ids());
    card.Release();
    lock.Leave();

    ASSERT_TRUE(sink.WaitForEnd());
    const auto events = sink.Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(5, events[1].id);
    EXPECT_TRUE(events[1].object);
    EXPECT_EQ(kZavtOperationNone, rig.controlObject()->OperationKind());
    ASSERT_EQ(0u, rig.Context()->SelectFolder(1, 0));
    EXPECT_TRUE(rig.Names(1).empty());
}

}  // namespace
