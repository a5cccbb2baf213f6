// The device client's records without a player: file item copies (texts, trailing words, the status
// block, self-assignment, vectors that move their records), DeviceInfo's capabilities by model and its
// clear steps, the session's answers before Open, and the event sink: events raised on the session's
// thread reach the handlers at once, events raised on a worker are posted and handled on that thread
// in the order raised, and a closed sink releases what is still queued.
#include "manager/device/device_event_sink.h"
#include "manager/device/device_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Text(BSTR s)
{
    return s ? std::wstring(s, SysStringLen(s)) : std::wstring();
}

CFileItem SampleItem()
{
    CFileItem item;
    item.kind = kFileItemFolder;
    item.name = CComBSTR(L"MUSIC");
    item.path = CComBSTR(L"\\MUSIC");
    item.information.creationTime = 1;
    item.information.modificationTime = 2;
    item.information.accessTime = 3;
    item.information.size = 0xFFFFFFF0u;
    item.information.attribute = 0x21;
    std::memset(item.information.fullName, 'x', sizeof item.information.fullName - 1);
    item.playedMark = 1;
    item.transferState = kTransferFailed;
    item.hasSubfolders = 1;
    return item;
}

void ExpectSame(const CFileItem& a, const CFileItem& b)
{
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(Text(a.name), Text(b.name));
    EXPECT_EQ(Text(a.path), Text(b.path));
    EXPECT_EQ(0, std::memcmp(&a.information, &b.information, sizeof a.information));
    EXPECT_EQ(a.playedMark, b.playedMark);
    EXPECT_EQ(a.transferState, b.transferState);
    EXPECT_EQ(a.hasSubfolders, b.hasSubfolders);
}

TEST(FileItem, ADefaultRecordIsAnEmptyFile)
{
    const CFileItem item;
    EXPECT_EQ(kFileItemFile, item.kind);
    EXPECT_EQ(0u, item.information.size);
    EXPECT_EQ(nullptr, item.name.get());
    EXPECT_EQ(nullptr, item.folder.get());
    EXPECT_EQ(nullptr, item.file.get());
    EXPECT_EQ(0, item.playedMark);
    EXPECT_EQ(0, item.transferState);
    EXPECT_EQ(0, item.hasSubfolders);
    const FileItemStatus zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &item.information, sizeof zero));
}

TEST(FileItem, CopiesOwnTheirTextsAndKeepEveryWord)
{
    CFileItem copy;
    {
        const CFileItem source = SampleItem();
        CFileItem constructed(source);
        ExpectSame(source, constructed);
        EXPECT_NE(source.name.get(), constructed.name.get()) << "the text is duplicated, not shared";
        copy = source;
        ExpectSame(source, copy);
        EXPECT_NE(source.path.get(), copy.path.get());
    }
    // The source is gone: the copy still reads whole.
    ExpectSame(SampleItem(), copy);
}

TEST(FileItem, AssignmentToItselfKeepsTheRecord)
{
    CFileItem item = SampleItem();
    CFileItem& same = item;
    item = same;
    ExpectSame(SampleItem(), item);
    item = std::move(same);
    ExpectSame(SampleItem(), item);
}

TEST(FileItem, VectorsThatGrowKeepTheirRecords)
{
    std::vector<CFileItem> items;
    for (int i = 0; i < 100; ++i) {
        CFileItem item = SampleItem();
        item.name = CComBSTR(std::to_wstring(i).c_str());
        items.push_back(item);
    }
    std::vector<CFileItem> copies(items);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(std::to_wstring(i), Text(items[i].name));
        EXPECT_EQ(std::to_wstring(i), Text(copies[i].name));
    }
}

TEST(FileItem, FinishedStatusTextByTransferState)
{
    const struct {
        std::int32_t state;
        UINT id;
    } cases[] = {{kTransferFailed, 62326}, {kTransferSkipped, 62327}, {kTransferIdle, 62309},
                 {kTransferDownloading, 62309}, {kTransferQueued, 62309}};
    for (const auto& c : cases)
        EXPECT_EQ(c.id, FileItemFinishedTextId(c.state)) << "state " << c.state;
}

TEST(DeviceInfoRecord, CapabilitiesByModel)
{
    struct Case {
        long model;
        int logo, fm, folders, font, memo, image;
    };
    const Case cases[] = {
        {1, 1, 0, 0, 1, 1, 0},  {2, 1, 0, 1, 1, 1, 0},  {8, 1, 0, 1, 1, 1, 0},  {3, 0, 0, 0, 0, 0, 0},
        {4, 1, 0, 0, 1, 0, 0},  {7, 1, 0, 0, 1, 0, 0},  {9, 1, 1, 1, 1, 0, 0},  {10, 1, 1, 1, 1, 0, 0},
        {14, 1, 1, 1, 1, 0, 0}, {16, 1, 1, 1, 1, 0, 0}, {11, 0, 1, 1, 0, 0, 0}, {15, 0, 1, 1, 0, 0, 0},
        {12, 1, 1, 1, 1, 0, 1}, {13, 1, 1, 1, 1, 0, 1}, {0, 0, 0, 0, 0, 0, 0},  {5, 0, 0, 0, 0, 0, 0},
        {6, 0, 0, 0, 0, 0, 0},  {17, 0, 0, 0, 0, 0, 0}, {-1, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        DeviceInfo info;
        // Every flag is set anew, whatever the record held.
        info.SupportsLogo = info.SupportsFMStations = info.SupportsFolders = 1;
        info.SupportsFont = info.SupportsMemo = info.SupportsImage = 1;
        info.SetModelCapabilities(c.model);
        EXPECT_EQ(c.logo, info.SupportsLogo) << "model " << c.model;
        EXPECT_EQ(c.fm, info.SupportsFMStations) << "model " << c.model;
        EXPECT_EQ(c.folders, info.SupportsFolders) << "model " << c.model;
        EXPECT_EQ(c.font, info.SupportsFont) << "model " << c.model;
        EXPECT_EQ(c.memo, info.SupportsMemo) << "model " << c.model;
        EXPECT_EQ(c.image, info.SupportsImage) << "model " << c.model;
    }
}

TEST(DeviceInfoRecord, ClearStepsAndReadiness)
{
    DeviceInfo info;
    info.present = info.internalReady = info.cardReady = 1;
    info.internalTotal = info.cardTotal = 0xFFFFFFFFu;
    info.internalFree = info.cardFree = 1;
    info.cardReadOnly = 1;
    info.cardUnformatted = 1;
    EXPECT_TRUE(info.IsInternalReady());
    info.internalUnformatted = 1;
    EXPECT_FALSE(info.IsInternalReady());
    info.ClearCard();
    EXPECT_EQ(0u, info.cardTotal);
    EXPECT_EQ(0u, info.cardFree);
    EXPECT_EQ(0, info.cardReady);
    EXPECT_EQ(0, info.cardUnformatted);
    EXPECT_EQ(1, info.cardReadOnly) << "the switch belongs to the card in the slot";
    info.ClearInternal();
    EXPECT_EQ(0u, info.internalTotal);
    EXPECT_EQ(0, info.internalReady);
    EXPECT_EQ(0, info.internalUnformatted);
    // Used bytes never wrap below zero, and the largest figures stay whole.
    EXPECT_EQ(0xFFFFFFFEu, DeviceUsedBytes(0xFFFFFFFFu, 1));
    EXPECT_EQ(0u, DeviceUsedBytes(10, 20));
}

// A session that records its events: which, with what and on which thread.
class RecordingSession : public CDeviceSession {
public:
    struct Seen {
        int id;
        long first;
        long second;
        bool hadObject;
        DWORD thread;
    };
    std::vector<Seen> seen;

    HRESULT Note(int id, IUnknown* object, long first = 0, long second = 0)
    {
        seen.push_back({id, first, second, object != nullptr, GetCurrentThreadId()});
        return S_OK;
    }
    HRESULT DeleteFileStart(IZAVTFile* f) override { return Note(1, f); }
    HRESULT DeleteFileEnd(IZAVTFile* f) override { return Note(2, f); }
    HRESULT DeleteFilePercent(IZAVTFile* f, long p) override { return Note(3, f, p); }
    HRESULT FormatStorageStart(IZAVTStorage* s) override { return Note(4, s); }
    HRESULT FormatStorageEnd(IZAVTStorage* s) override { return Note(5, s); }
    HRESULT FormatStoragePercent(IZAVTStorage* s, long p) override { return Note(6, s, p); }
    HRESULT UploadFileStart(IZAVTFile* f) override { return Note(7, f); }
    HRESULT UploadFileEnd(IZAVTFile* f) override { return Note(8, f); }
    HRESULT UploadFilePercent(IZAVTFile* f, long p) override { return Note(9, f, p); }
    HRESULT DownloadFileStart(IZAVTFile* f) override { return Note(10, f); }
    HRESULT DownloadFileEnd(IZAVTFile* f) override { return Note(11, f); }
    HRESULT DownloadFilePercent(IZAVTFile* f, long p) override { return Note(12, f, p); }
    HRESULT InitializationStart() override { return Note(13, nullptr); }
    HRESULT InitializationEnd() override { return Note(14, nullptr); }
    HRESULT HError(long context, long code) override { return Note(15, nullptr, context, code); }
};

// Raises one event on the sink as the control does: arguments last first.
HRESULT Raise(IDispatch* sink, DISPID id, std::vector<VARIANT> args)
{
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}
VARIANT Long(long v)
{
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}
VARIANT NullObject()
{
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_DISPATCH;
    x.pdispVal = nullptr;
    return x;
}

// Every event once, with its arguments, as the control raises them.
void RaiseAll(IDispatch* sink)
{
    for (DISPID id = 1; id <= 12; ++id) {
        if (id % 3 == 0) {
            EXPECT_EQ(S_OK, Raise(sink, id, {Long(id * 10), NullObject()}));
        } else {
            EXPECT_EQ(S_OK, Raise(sink, id, {NullObject()}));
        }
    }
    EXPECT_EQ(S_OK, Raise(sink, 13, {}));
    EXPECT_EQ(S_OK, Raise(sink, 14, {}));
    EXPECT_EQ(S_OK, Raise(sink, 15, {Long(static_cast<long>(0x8004030C)), Long(1)}));
}

void ExpectAllInOrder(const RecordingSession& s, DWORD thread)
{
    ASSERT_EQ(15u, s.seen.size());
    for (int i = 0; i < 15; ++i) {
        const int id = i + 1;
        EXPECT_EQ(id, s.seen[i].id);
        EXPECT_EQ(thread, s.seen[i].thread) << "event " << id;
        if (id <= 12 && id % 3 == 0) {
            EXPECT_EQ(id * 10, s.seen[i].first) << "event " << id;
        }
    }
    EXPECT_EQ(1, s.seen[14].first);
    EXPECT_EQ(static_cast<long>(0x8004030C), s.seen[14].second);
}

TEST(DeviceEvents, EventsOnTheSessionsThreadAreHandledAtOnce)
{
    RecordingSession session;
    DeviceEventSink* sink = DeviceEventSink::Create(&session);
    ASSERT_NE(nullptr, sink);
    RaiseAll(sink);
    ExpectAllInOrder(session, GetCurrentThreadId());
    // Arguments the events do not carry are refused, not guessed.
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Raise(sink, 3, {NullObject()}));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Raise(sink, 16, {}));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Raise(sink, 1, {Long(5)}));
    EXPECT_EQ(15u, session.seen.size());
    sink->Detach();
    sink->Release();
}

TEST(DeviceEvents, EventsOnAWorkerArePostedToTheSessionsThread)
{
    RecordingSession session;
    DeviceEventSink* sink = DeviceEventSink::Create(&session);
    ASSERT_NE(nullptr, sink);
    std::thread worker([&] { RaiseAll(sink); });
    worker.join();
    EXPECT_TRUE(session.seen.empty()) << "nothing runs on the worker";
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    ExpectAllInOrder(session, GetCurrentThreadId());
    sink->Detach();
    sink->Release();
}

TEST(DeviceEvents, ADetachedSinkDropsWhatIsQueuedAndWhatComesLater)
{
    RecordingSession session;
    DeviceEventSink* sink = DeviceEventSink::Create(&session);
    ASSERT_NE(nullptr, sink);
    std::thread worker([&] { RaiseAll(sink); });
    worker.join();
    sink->Detach();
    std::thread late([&] { EXPECT_EQ(S_OK, Raise(sink, 13, {})); });
    late.join();
    EXPECT_EQ(S_OK, Raise(sink, 14, {}));
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_TRUE(session.seen.empty());
    sink->Release();
}

TEST(DeviceSessionBeforeOpen, AnswersWithoutAControl)
{
    RecordingSession session;
    EXPECT_FALSE(session.IsOpened());
    EXPECT_EQ(E_NOINTERFACE, session.Connect());
    EXPECT_EQ(E_NOINTERFACE, session.RefreshStorageFigures());
    EXPECT_EQ(S_OK, session.ReadDeviceProperties());
    EXPECT_EQ(E_INVALIDARG, session.GetDeviceInfo(nullptr));
    EXPECT_EQ(E_INVALIDARG, session.OpenFolder(nullptr));
    EXPECT_EQ(E_INVALIDARG, session.ListCurrentFolder(2));
    EXPECT_EQ(E_UNEXPECTED, session.ListCurrentFolder(kStorageCard));
    EXPECT_EQ(E_INVALIDARG, session.GoToParentFolder(-1));
    EXPECT_EQ(E_UNEXPECTED, session.GoToParentFolder(kStorageInternal));
    EXPECT_EQ(S_OK, session.GoToRootFolder(kStorageInternal)) << "no storage object: nothing to do";
    EXPECT_EQ(E_INVALIDARG, session.GetFolderItems(kStorageInternal, nullptr));
    EXPECT_EQ(E_INVALIDARG, session.ReadFolderItems(nullptr, nullptr));
    EXPECT_EQ(S_OK, session.Close());

    // Busy follows the kind; a busy session's poll does nothing.
    const struct {
        std::int32_t kind;
        bool busy;
    } kinds[] = {{kOperationFormat, true}, {kOperationNewFolderName, true}, {kOperationIdle, false}};
    for (const auto& k : kinds) {
        session.SetOperationKind(k.kind);
        EXPECT_EQ(k.kind, session.GetOperationKind());
        EXPECT_EQ(k.busy, session.IsBusy());
    }
    session.SetOperationKind(kOperationDownload);
    EXPECT_EQ(0, session.Refresh());
    EXPECT_TRUE(session.seen.empty());
}

}  // namespace
