// The storage and folder objects in-process, against the simulated player: figures, root folders,
// downloads by path, listings, folder operations and moves, on internal memory of both store kinds
// and on both card kinds, with the events a C++ sink hears.
#include "device/api/zavt_folder.h"
#include "device/api/zavt_storage.h"
#include "tests/device/api/zavt_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

class ZavtObjectsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

// A player setting: model, card kind (0 none, 1 NAND-type, 2 MMC/SD), and the storage under test.
struct Setting {
    const char* what;
    int model;
    int card;
    ZAVTStorageType storage;
};

const Setting kFolderSettings[] = {
    {"folder objects, internal memory", 9, 0, ZAVTST_INT},
    {"folder objects, NAND-type card", 9, 1, ZAVTST_EXT},
    {"folder objects, MMC/SD card", 10, 2, ZAVTST_EXT},
};

CComPtr<IZAVTFolder> RootOf(IZAVTStorage* storage)
{
    CComPtr<IZAVTFolder> root;
    if (!storage || storage->get_RootFolder(&root) != S_OK)
        return nullptr;
    return root;
}

std::wstring NameOf(IZAVTFolder* folder)
{
    CComBSTR name;
    folder->get_Name(&name);
    return Text(name);
}

std::wstring PathOf(IZAVTFolder* folder)
{
    CComBSTR path;
    folder->get_Path(&path);
    return Text(path);
}

// name -> path of a folder's subfolders (or files).
std::map<std::wstring, std::wstring> SubFolders(IZAVTFolder* folder, std::vector<CComPtr<IZAVTFolder>>* out = nullptr)
{
    std::map<std::wstring, std::wstring> names;
    CComPtr<IZAVTFolderCollection> list;
    if (folder->get_SubFolders(&list) != S_OK)
        return {{L"<failed>", L""}};
    long count = 0;
    list->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        CComPtr<IZAVTFolder> item;
        if (list->get_Item(i, &item) != S_OK)
            return {{L"<failed item>", L""}};
        names[NameOf(item)] = PathOf(item);
        if (out)
            out->push_back(item);
    }
    return names;
}

std::map<std::wstring, std::wstring> Files(IZAVTFolder* folder, std::vector<CComPtr<IZAVTFile>>* out = nullptr)
{
    std::map<std::wstring, std::wstring> names;
    CComPtr<IZAVTFileCollection> list;
    if (folder->get_Files(&list) != S_OK)
        return {{L"<failed>", L""}};
    long count = 0;
    list->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        CComPtr<IZAVTFile> item;
        if (list->get_Item(i, &item) != S_OK)
            return {{L"<failed item>", L""}};
        CComBSTR name, path;
        item->get_Name(&name);
        item->get_Path(&path);
        names[Text(name)] = Text(path);
        if (out)
            out->push_back(item);
    }
    return names;
}

CComPtr<IZAVTFolder> Child(IZAVTFolder* folder, const wchar_t* name)
{
    std::vector<CComPtr<IZAVTFolder>> items;
    SubFolders(folder, &items);
    for (auto& item : items) {
        if (NameOf(item) == name)
            return item;
    }
    return nullptr;
}

CComPtr<IZAVTFile> FileIn(IZAVTFolder* folder, const wchar_t* name)
{
    std::vector<CComPtr<IZAVTFile>> items;
    Files(folder, &items);
    for (auto& item : items) {
        CComBSTR n;
        item->get_Name(&n);
        if (Text(n) == name)
            return item;
    }
    return nullptr;
}

// The bytes of a file of the storage's folder at `path` ("" the root), uploaded through the context.
Bytes PlayerFile(DeviceRig& rig, std::uint32_t storage, const std::vector<std::wstring>& folders, const wchar_t* name)
{
    auto context = rig.Context();
    if (context->SelectFolder(storage, 0) != 0)
        return {};
    for (const std::wstring& folder : folders) {
        engine::DirRecord r;
        if (context->FindEntryByName(storage, folder.c_str(), &r) != 0 ||
            context->SelectFolder(storage, r.firstCluster) != 0)
            return {};
    }
    engine::DirRecord r;
    if (context->ResolvePath(storage, name, &r) != 0)
        return {};
    const auto back = rig.PcPath(L"upload.bin");
    DeleteFileW(back.wstring().c_str());
    if (context->UploadFile(storage, r.firstCluster, back.wstring().c_str()) != 0)
        return {};
    return ReadFile(back);
}

}  // namespace

// Every figure of both storages against the context's own, on both store kinds; a storage of no
// known type answers 0, an unbound one 770, and without a context 770.
TEST_F(ZavtObjectsTest, StorageFigures)
{
    const Setting settings[] = {{"legacy", 1, 1, ZAVTST_INT}, {"folder objects", 10, 2, ZAVTST_INT}};
    for (const Setting& s : settings) {
        DeviceRig rig(s.model, s.card, s.model >= 9);
        ASSERT_TRUE(rig.ok()) << s.what;
        auto context = rig.Context();
        for (ZAVTStorageType type : {ZAVTST_INT, ZAVTST_EXT}) {
            CComPtr<IZAVTStorage> storage = StorageOf(rig, type);
            ASSERT_TRUE(storage) << s.what << " " << type;
            long total = -1, free = -1, unformatted = -1, readOnly = -1;
            ASSERT_EQ(S_OK, storage->get_TotalSize(&total));
            ASSERT_EQ(S_OK, storage->get_FreeSize(&free));
            ASSERT_EQ(S_OK, storage->get_Unformatted(&unformatted));
            ASSERT_EQ(S_OK, storage->get_ReadOnly(&readOnly));
            const bool in = type == ZAVTST_INT;
            EXPECT_EQ(static_cast<long>(in ? context->GetInternalTotalBytes() : context->GetExternalTotalBytes()),
                      total);
            EXPECT_EQ(static_cast<long>(in ? context->GetInternalFreeBytes() : context->GetExternalFreeBytes()), free);
            EXPECT_GT(total, 0) << s.what;
            EXPECT_GT(free, 0) << s.what;
            EXPECT_LE(free, total) << s.what;
            EXPECT_EQ(0, unformatted) << s.what;
            EXPECT_EQ(0, readOnly) << s.what;
            long device = -1;
            ASSERT_EQ(S_OK, storage->get_ParentDeviceID(&device));
            EXPECT_EQ(0, device);
        }
        const struct {
            ZAVTStorageType type;
            HRESULT result;
        } odd[] = {{static_cast<ZAVTStorageType>(5), S_OK}, {ZAVTST_VOID, static_cast<HRESULT>(0x80040302)}};
        for (const auto& o : odd) {
            CComObject<CZAVTStorage>* object = nullptr;
            ASSERT_EQ(S_OK, CComObject<CZAVTStorage>::CreateInstance(&object));
            CComPtr<IZAVTStorage> storage(static_cast<IZAVTStorage*>(object));
            ASSERT_EQ(S_OK, object->Init(L"Unknown", o.type, 0));
            long value = -1;
            EXPECT_EQ(o.result, storage->get_TotalSize(&value)) << o.type;
            EXPECT_EQ(0, value);
            EXPECT_EQ(E_INVALIDARG, storage->Download(CComBSTR(L"C:\\x.bin"), CComBSTR(L"")));
        }
        CComPtr<IZAVTStorage> storage = StorageOf(rig, ZAVTST_INT);
        EXPECT_EQ(S_OK, storage->CancelOperation());
        context.reset();
        rig.DropControl();
        long value = -1;
        EXPECT_EQ(static_cast<HRESULT>(0x80040302), storage->get_FreeSize(&value));
        EXPECT_EQ(L"Storage initialization failed. ", LastError().first);
        EXPECT_EQ(0, value);
        EXPECT_EQ(static_cast<HRESULT>(0x80040301), storage->CancelOperation());
        IZAVTFolder* root = reinterpret_cast<IZAVTFolder*>(1);
        EXPECT_EQ(static_cast<HRESULT>(0x80040301), storage->get_RootFolder(&root));
        EXPECT_EQ(nullptr, root);
    }
}

TEST_F(ZavtObjectsTest, RootFolders)
{
    for (const Setting& s : kFolderSettings) {
        DeviceRig rig(s.model, s.card, true);
        ASSERT_TRUE(rig.ok()) << s.what;
        CComPtr<IZAVTStorage> storage = StorageOf(rig, s.storage);
        CComPtr<IZAVTFolder> a = RootOf(storage), b = RootOf(storage);
        ASSERT_TRUE(a && b) << s.what;
        EXPECT_NE(static_cast<IZAVTFolder*>(a), static_cast<IZAVTFolder*>(b));
        long root = 0, id = -1, supports = 0;
        ASSERT_EQ(S_OK, a->get_IsRootFolder(&root));
        ASSERT_EQ(S_OK, a->get_FileSystemID(&id));
        ASSERT_EQ(S_OK, a->get_SupportsFolders(&supports));
        EXPECT_EQ(1, root);
        EXPECT_EQ(0, id);
        EXPECT_EQ(1, supports);
        EXPECT_EQ(L"\\", NameOf(a));
        EXPECT_EQ(L"\\", PathOf(a));
        DATE date = 1;
        ASSERT_EQ(S_OK, a->get_DateLastModified(&date));
        EXPECT_EQ(0.0, date);
        IZAVTFolder* parent = reinterpret_cast<IZAVTFolder*>(1);
        EXPECT_EQ(S_FALSE, a->get_ParentFolder(&parent));
        EXPECT_EQ(nullptr, parent);
        CComPtr<IZAVTStorage> back;
        ASSERT_EQ(S_OK, a->get_Storage(&back));
        ZAVTStorageType type = ZAVTST_VOID;
        ASSERT_EQ(S_OK, back->get_Type(&type));
        EXPECT_EQ(s.storage, type);
        // A root is no entry: it is neither deleted, renamed nor moved.
        EXPECT_EQ(E_INVALIDARG, a->Delete()) << s.what;
        EXPECT_EQ(E_INVALIDARG, a->put_Name(CComBSTR(L"X"))) << s.what;
        EXPECT_EQ(E_INVALIDARG, b->MoveFolderInside(a)) << s.what;
        EXPECT_EQ(S_OK, a->put_Name(CComBSTR(L"\\"))) << "the same name is no change";
        // Null out-parameters.
        EXPECT_EQ(E_INVALIDARG, a->get_Size(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->get_Attributes(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->get_DateCreated(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->get_SupportsFolders(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->get_FileSystemID(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->get_PlayIndex(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->MoveFolderInside(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->MoveFileInside(nullptr));
        EXPECT_EQ(E_INVALIDARG, a->CreateNewFile(CComBSTR(L"N.BIN"), nullptr));
        EXPECT_EQ(E_INVALIDARG, a->get_SubFolders(nullptr));
    }
}

// A download by path goes into the folder the path names, made when absent, and replaces a file of
// the same name there only: a file of that name in the current folder stays as it was.
TEST_F(ZavtObjectsTest, StorageDownloadByPath)
{
    Setting settings[std::size(kFolderSettings) + 1];
    std::copy(std::begin(kFolderSettings), std::end(kFolderSettings), settings);
    settings[std::size(kFolderSettings)] = {"one folder level, internal memory", 2, 0, ZAVTST_INT};
    for (const Setting& s : settings) {
        DeviceRig rig(s.model, s.card, s.model >= 9);
        ASSERT_TRUE(rig.ok()) << s.what;
        const bool nested = s.model >= 9;
        const std::uint32_t st = s.storage == ZAVTST_EXT ? 1 : 0;
        CComPtr<IZAVTStorage> storage = StorageOf(rig, s.storage);
        ASSERT_TRUE(storage) << s.what;
        EventLog log;
        CComPtr<IConnectionPoint> cp;
        ASSERT_EQ(S_OK, rig.controlObject()->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, cp->Advise(&log, &cookie));

        const Bytes first = Pattern(3000, 1), second = Pattern(5000, 2);
        CComBSTR src = rig.Pc(L"Song.bin", first);
        ASSERT_EQ(S_OK, storage->Download(src, CComBSTR(L""))) << s.what;
        EXPECT_EQ((std::vector<DISPID>{10, 11}), log.Outline());
        EXPECT_FALSE(log.objects);
        // The root is current; the same name goes into MUSIC, and the root's file stays whole.
        src = rig.Pc(L"SONG.BIN", second);
        ASSERT_EQ(S_OK, storage->Download(src, CComBSTR(L"\\MUSIC\\"))) << s.what;
        EXPECT_EQ(first, PlayerFile(rig, st, {}, L"Song.bin")) << s.what;
        EXPECT_EQ(second, PlayerFile(rig, st, {L"MUSIC"}, L"SONG.BIN")) << s.what;
        // With MUSIC current, a download into the root replaces the root's file only.
        ASSERT_EQ(0u, rig.Context()->SelectFolder(st, 0));
        engine::DirRecord r;
        ASSERT_EQ(0, rig.Context()->FindEntryByName(st, L"MUSIC", &r));
        ASSERT_EQ(0u, rig.Context()->SelectFolder(st, r.firstCluster));
        ASSERT_EQ(S_OK, storage->Download(src, CComBSTR(L"\\"))) << s.what;
        EXPECT_EQ(second, PlayerFile(rig, st, {}, L"Song.bin")) << s.what;
        EXPECT_EQ(second, PlayerFile(rig, st, {L"MUSIC"}, L"SONG.BIN")) << s.what;

        // Paths of several levels are walked, folder by folder, on the stores that nest folders.
        const HRESULT deep = storage->Download(src, CComBSTR(L"\\A\\B\\C\\x.mp3"));
        if (nested) {
            ASSERT_EQ(S_OK, deep) << s.what;
            EXPECT_EQ(second, PlayerFile(rig, st, {L"A", L"B", L"C"}, L"SONG.BIN")) << s.what;
            CComPtr<IZAVTFolder> root = RootOf(storage);
            EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"A", L"\\A"}, {L"MUSIC", L"\\MUSIC"}}), SubFolders(root))
                << s.what;
            CComPtr<IZAVTFolder> a = Child(root, L"A");
            ASSERT_TRUE(a);
            EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"B", L"\\A\\B"}}), SubFolders(a)) << s.what;
        }
        // No name with a separator, a dot name or a path past the platform's limit.
        const std::wstring longPath = L"\\" + std::wstring(300, L'D') + L"\\";
        const wchar_t* refused[] = {L"\\..\\", L"\\A\\.\\", longPath.c_str()};
        for (const wchar_t* dst : refused)
            EXPECT_EQ(E_INVALIDARG, storage->Download(src, CComBSTR(dst))) << s.what;
        ASSERT_EQ(0u, rig.Context()->SelectFolder(st, 0));
        for (const std::wstring& name : rig.Names(st))
            EXPECT_EQ(std::wstring::npos, name.find(L'\\')) << s.what;
        cp->Unadvise(cookie);
    }
}

// Listings, creation, download, rename, play index and delete through folder objects.
TEST_F(ZavtObjectsTest, FolderOperations)
{
    for (const Setting& s : kFolderSettings) {
        DeviceRig rig(s.model, s.card, true);
        ASSERT_TRUE(rig.ok()) << s.what;
        CComPtr<IZAVTStorage> storage = StorageOf(rig, s.storage);
        CComPtr<IZAVTFolder> root = RootOf(storage);
        ASSERT_TRUE(root) << s.what;
        EventLog log;
        CComPtr<IConnectionPoint> cp;
        ASSERT_EQ(S_OK, rig.controlObject()->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, cp->Advise(&log, &cookie));

        ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"Old"))) << s.what;
        EXPECT_EQ(E_INVALIDARG, root->CreateSubfolder(CComBSTR(L"A\\B"))) << s.what;
        EXPECT_EQ(static_cast<HRESULT>(0x80040315), root->CreateSubfolder(CComBSTR(L"Old"))) << s.what;
        CComPtr<IZAVTFolder> old = Child(root, L"Old");
        ASSERT_TRUE(old) << s.what;
        EXPECT_EQ(L"\\Old", PathOf(old));
        long id = 0;
        ASSERT_EQ(S_OK, old->get_FileSystemID(&id));
        EXPECT_NE(0, id);
        DATE modified = 0;
        ASSERT_EQ(S_OK, old->get_DateLastModified(&modified));
        EXPECT_GT(modified, 29221.0) << "a date after 1980";

        // Download into the subfolder, twice: replaced, one entry, the events heard.
        const Bytes data = Pattern(4000, 3);
        CComBSTR src = rig.Pc(L"Track.bin", data);
        log.ids.clear();
        ASSERT_EQ(S_OK, old->Download(src)) << s.what;
        ASSERT_EQ(S_OK, old->Download(CComBSTR(rig.Pc(L"TRACK.BIN", data)))) << s.what;
        EXPECT_EQ((std::vector<DISPID>{10, 11, 10, 11}), log.Outline());
        EXPECT_EQ(1u, Files(old).size()) << s.what;
        EXPECT_TRUE(Files(root).empty()) << s.what;

        // Renaming keeps the path true, for the object and for what it lists later.
        ASSERT_EQ(S_OK, old->put_Name(CComBSTR(L"New"))) << s.what;
        EXPECT_EQ(L"New", NameOf(old));
        EXPECT_EQ(L"\\New", PathOf(old));
        auto files = Files(old);
        ASSERT_EQ(1u, files.size());
        EXPECT_EQ(L"\\New\\" + files.begin()->first, files.begin()->second);
        ASSERT_EQ(S_OK, old->CreateSubfolder(CComBSTR(L"Deep"))) << s.what;
        EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"Deep", L"\\New\\Deep"}}), SubFolders(old));
        CComPtr<IZAVTFolder> deep = Child(old, L"Deep");
        ASSERT_TRUE(deep);
        CComPtr<IZAVTFolder> parent;
        ASSERT_EQ(S_OK, deep->get_ParentFolder(&parent));
        EXPECT_EQ(L"\\New", PathOf(parent));
        ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"Other"))) << s.what;
        EXPECT_EQ(static_cast<HRESULT>(0x80040315), old->put_Name(CComBSTR(L"Other"))) << s.what;
        EXPECT_EQ(L"\\New", PathOf(old)) << "a refused rename changes nothing";

        // A new file object: identity only, nothing on the player.
        CComPtr<IZAVTFile> made;
        ASSERT_EQ(S_OK, old->CreateNewFile(CComBSTR(L"Fresh.bin"), &made));
        CComBSTR madePath;
        ASSERT_EQ(S_OK, made->get_Path(&madePath));
        EXPECT_EQ(L"\\New\\Fresh.bin", Text(madePath));
        IZAVTFile* none = reinterpret_cast<IZAVTFile*>(1);
        EXPECT_EQ(E_INVALIDARG, old->CreateNewFile(CComBSTR(L"a\\b"), &none));
        EXPECT_EQ(nullptr, none);
        EXPECT_EQ(E_INVALIDARG, root->MoveFileInside(made)) << "a file not yet written has no entry to move";

        // Delete with contents: both events, no more listed.
        log.ids.clear();
        ASSERT_EQ(S_OK, old->Delete()) << s.what;
        EXPECT_EQ((std::vector<DISPID>{1, 2}), log.ids);
        EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"Other", L"\\Other"}}), SubFolders(root)) << s.what;
        cp->Unadvise(cookie);
    }
}

// Moves: files and folders between folders; a root, a folder into itself or below itself, and an
// entry of the other storage are refused before anything changes.
TEST_F(ZavtObjectsTest, FolderMoves)
{
    DeviceRig rig(10, 2, true);
    ASSERT_TRUE(rig.ok());
    CComPtr<IZAVTFolder> root = RootOf(StorageOf(rig, ZAVTST_INT));
    CComPtr<IZAVTFolder> cardRoot = RootOf(StorageOf(rig, ZAVTST_EXT));
    ASSERT_TRUE(root && cardRoot);
    ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"A")));
    CComPtr<IZAVTFolder> a = Child(root, L"A");
    ASSERT_TRUE(a);
    ASSERT_EQ(S_OK, a->CreateSubfolder(CComBSTR(L"B")));
    CComPtr<IZAVTFolder> b = Child(a, L"B");
    ASSERT_TRUE(b);
    ASSERT_EQ(S_OK, b->CreateSubfolder(CComBSTR(L"C")));
    CComPtr<IZAVTFolder> c = Child(b, L"C");
    ASSERT_TRUE(c);
    ASSERT_EQ(S_OK, cardRoot->CreateSubfolder(CComBSTR(L"X")));
    CComPtr<IZAVTFolder> x = Child(cardRoot, L"X");
    ASSERT_TRUE(x);
    const Bytes data = Pattern(2500, 4);
    ASSERT_EQ(S_OK, root->Download(rig.Pc(L"F.BIN", data)));
    ASSERT_EQ(S_OK, cardRoot->Download(rig.Pc(L"G.BIN", data)));

    struct Refused {
        const char* what;
        IZAVTFolder* target;
        IZAVTFolder* moved;
    };
    const Refused refused[] = {
        {"a root", a, root},
        {"into itself", a, a},
        {"into its child", b, a},
        {"into its grandchild", c, a},
        {"card folder into internal memory", root, x},
        {"internal folder onto the card", x, b},
    };
    for (const Refused& r : refused)
        EXPECT_EQ(E_INVALIDARG, r.target->MoveFolderInside(r.moved)) << r.what;
    CComPtr<IZAVTFile> cardFile = FileIn(cardRoot, L"G.BIN");
    ASSERT_TRUE(cardFile);
    EXPECT_EQ(E_INVALIDARG, a->MoveFileInside(cardFile));
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"A", L"\\A"}}), SubFolders(root));
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"B", L"\\A\\B"}}), SubFolders(a));
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"X", L"\\X"}}), SubFolders(cardRoot));

    // What may move does: C up to the root, the file into A; a second file of the name is refused.
    ASSERT_EQ(S_OK, root->MoveFolderInside(c));
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"A", L"\\A"}, {L"C", L"\\C"}}), SubFolders(root));
    EXPECT_TRUE(SubFolders(b).empty());
    CComPtr<IZAVTFile> file = FileIn(root, L"F.BIN");
    ASSERT_TRUE(file);
    ASSERT_EQ(S_OK, a->MoveFileInside(file));
    EXPECT_TRUE(Files(root).empty());
    EXPECT_EQ(data, PlayerFile(rig, 0, {L"A"}, L"F.BIN"));
    ASSERT_EQ(S_OK, root->Download(rig.Pc(L"F.BIN", data)));
    CComPtr<IZAVTFile> again = FileIn(root, L"F.BIN");
    ASSERT_TRUE(again);
    EXPECT_EQ(static_cast<HRESULT>(0x80040315), a->MoveFileInside(again));
}

// Dates come from the record's date words; a zero or impossible date is no date.
TEST_F(ZavtObjectsTest, FolderDates)
{
    DeviceRig rig(9, 0, true);
    ASSERT_TRUE(rig.ok());
    struct Row {
        int year, month, day;
        double expected;
    };
    const Row rows[] = {
        {2004, 1, 1, 37987.0}, {2000, 2, 29, 36585.0}, {1980, 0, 0, 0.0}, {2004, 13, 1, 0.0},
        {2003, 2, 29, 0.0},    {2004, 4, 31, 0.0},     {2004, 6, 0, 0.0},
    };
    for (const Row& row : rows) {
        engine::DirRecord record{};
        record.writeDate = static_cast<std::uint16_t>(((row.year - 1980) << 9) | (row.month << 5) | row.day);
        record.createDate = record.writeDate;
        record.firstCluster = 7;
        CComObject<CZAVTFolder>* object = nullptr;
        ASSERT_EQ(S_OK, CComObject<CZAVTFolder>::CreateInstance(&object));
        CComPtr<IZAVTFolder> folder(static_cast<IZAVTFolder*>(object));
        ASSERT_EQ(S_OK, object->Init(L"D", L"\\D", 0, record, ZAVTST_INT, 0, nullptr));
        DATE modified = -1, created = -1;
        ASSERT_EQ(S_OK, folder->get_DateLastModified(&modified));
        ASSERT_EQ(S_OK, folder->get_DateCreated(&created));
        EXPECT_EQ(row.expected, modified) << row.year << "-" << row.month << "-" << row.day;
        EXPECT_EQ(row.expected, created);
    }
}

// The older stores: one folder level lists and makes folders in the root only; the flat store lists
// no folders and its files are those of the current folder.
TEST_F(ZavtObjectsTest, FoldersOfTheOlderStores)
{
    {
        DeviceRig rig(2);
        ASSERT_TRUE(rig.ok());
        CComPtr<IZAVTFolder> root = RootOf(StorageOf(rig, ZAVTST_INT));
        ASSERT_TRUE(root);
        ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"SUB")));
        CComPtr<IZAVTFolder> sub = Child(root, L"SUB");
        ASSERT_TRUE(sub);
        EXPECT_EQ(static_cast<HRESULT>(0x8004030B), sub->CreateSubfolder(CComBSTR(L"X")));
        const Bytes data = Pattern(1500, 5);
        ASSERT_EQ(S_OK, sub->Download(rig.Pc(L"IN.BIN", data)));
        EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"IN.BIN", L"\\SUB\\IN.BIN"}}), Files(sub));
        EXPECT_TRUE(Files(root).empty());
        EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"SUB", L"\\SUB"}}), SubFolders(root));
        EXPECT_EQ(data, PlayerFile(rig, 0, {L"SUB"}, L"IN.BIN"));
    }
    {
        DeviceRig rig(1);
        ASSERT_TRUE(rig.ok());
        CComPtr<IZAVTFolder> root = RootOf(StorageOf(rig, ZAVTST_INT));
        ASSERT_TRUE(root);
        long supports = -1;
        ASSERT_EQ(S_OK, root->get_SupportsFolders(&supports));
        EXPECT_EQ(0, supports);
        EXPECT_EQ(static_cast<HRESULT>(0x8004030B), root->CreateSubfolder(CComBSTR(L"SUB")));
        ASSERT_EQ(S_OK, root->Download(rig.Pc(L"A.BIN", Pattern(800, 6))));
        EXPECT_TRUE(SubFolders(root).empty());
        EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"A.BIN", L"\\A.BIN"}}), Files(root));
    }
}

// Sizes go through the interface's long and are never negative: what a long holds is exact, a storage
// of 2 GiB or more reads as the largest long. Unformatted MMC/SD cards report the size their register
// tells (the host reads it in 32 bits, a register of 4 GiB as 4 GiB less one byte).
TEST_F(ZavtObjectsTest, StorageSizesAreNeverNegative)
{
    struct Row {
        const char* what;
        std::uint32_t sectors;
        bool registerSaysFourGiB;
        std::uint32_t contextTotal;  // the figure the context holds, as the engine reads the card
        long total;
    };
    const Row rows[] = {
        {"unformatted 64 MiB card", 131072, false, 67108864u, 67108864},
        {"unformatted 2 GiB card", 4194304, false, 0x80000000u, LONG_MAX},
        {"card whose size register says 4 GiB", 4194304, true, 0xFFFFFFFFu, LONG_MAX},
    };
    DeviceRig rig(SmallPlayer(10), 2, true);
    ASSERT_TRUE(rig.ok());
    auto context = rig.Context();
    // A new card is a media change: the refresh's pauses are no part of this test.
    context->SetSleep([](DWORD) {});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(rig.player().Player().InsertSectorCard(row.sectors, false));
        if (row.registerSaysFourGiB) {
            // READ_BL_LEN, bits 80-83 of the register (bits 16-19 of its second word): 2048-byte blocks
            // double the size the other fields give.
            rig.player().Player().EditConfig([](sim::PlayerConfig& config) {
                config.csd[6] = static_cast<std::uint8_t>((config.csd[6] & 0xF0) | 11);
            });
        }
        ASSERT_EQ(S_OK, context->ReadDeviceInfo());
        CComPtr<IZAVTStorage> card = StorageOf(rig, ZAVTST_EXT);
        ASSERT_TRUE(card);
        long total = -1, free = -1, unformatted = 0;
        ASSERT_EQ(S_OK, card->get_TotalSize(&total));
        ASSERT_EQ(S_OK, card->get_FreeSize(&free));
        ASSERT_EQ(S_OK, card->get_Unformatted(&unformatted));
        ASSERT_EQ(row.contextTotal, context->GetExternalTotalBytes());
        EXPECT_EQ(row.total, total);
        EXPECT_EQ(0, free);
        EXPECT_EQ(1, unformatted);
    }
    // A free figure above what a long holds is clamped the same way: a formatted 2 GiB card.
    ASSERT_TRUE(rig.player().Player().InsertSectorCard(4194304, true));
    ASSERT_EQ(S_OK, context->ReadDeviceInfo());
    CComPtr<IZAVTStorage> card = StorageOf(rig, ZAVTST_EXT);
    ASSERT_TRUE(card);
    long total = -1, free = -1;
    ASSERT_EQ(S_OK, card->get_TotalSize(&total));
    ASSERT_EQ(S_OK, card->get_FreeSize(&free));
    EXPECT_EQ(static_cast<long>(std::min<std::uint32_t>(context->GetExternalTotalBytes(), LONG_MAX)), total);
    EXPECT_EQ(static_cast<long>(std::min<std::uint32_t>(context->GetExternalFreeBytes(), LONG_MAX)), free);
    EXPECT_GT(free, 0);
    EXPECT_LE(free, total);
}

namespace {

// Names FAT long names forbid: each refused character, control characters, and the ends Windows drops.
const wchar_t* const kBadNames[] = {L"C:D", L"G*H",       L"Why?", L"say \"hi\"", L"a<b", L"a>b",
                                    L"a|b", L"tab\there", L"dot.", L"space ",     L"x/y", L"x\\y"};

// A store with a folder KEEP (where it has folders) and a file keep.bin in its root.
struct NameStore {
    const char* what;
    int model;
    int card;
    ZAVTStorageType storage;
};

}  // namespace

// Every operation that names a new entry refuses what FAT long names forbid, on every store, with the
// error it gives for a bad name (E_INVALIDARG) and a description, and changes nothing.
TEST_F(ZavtObjectsTest, NamesFatForbidsAreRefusedOnEveryStore)
{
    const NameStore stores[] = {
        {"folder objects, internal memory", 9, 0, ZAVTST_INT}, {"folder objects, NAND-type card", 9, 1, ZAVTST_EXT},
        {"folder objects, MMC/SD card", 10, 2, ZAVTST_EXT},    {"one folder level, internal memory", 2, 0, ZAVTST_INT},
        {"flat store, internal memory", 1, 0, ZAVTST_INT},     {"flat store, NAND-type card", 1, 1, ZAVTST_EXT},
    };
    for (const NameStore& s : stores) {
        SCOPED_TRACE(s.what);
        DeviceRig rig(SmallPlayer(s.model), s.card, s.model >= 9);
        ASSERT_TRUE(rig.ok());
        const std::uint32_t st = s.storage == ZAVTST_EXT ? 1 : 0;
        CComPtr<IZAVTStorage> storage = StorageOf(rig, s.storage);
        CComPtr<IZAVTFolder> root = RootOf(storage);
        ASSERT_TRUE(root);
        long folders = 0;
        ASSERT_EQ(S_OK, root->get_SupportsFolders(&folders));
        if (folders) {
            ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"KEEP")));
        }
        ASSERT_EQ(S_OK, root->Download(rig.Pc(L"keep.bin", Pattern(500, 1))));
        CComPtr<IZAVTFolder> keep = folders ? Child(root, L"KEEP") : nullptr;
        CComPtr<IZAVTFile> file = FileIn(root, L"keep.bin");
        ASSERT_TRUE(file);
        ASSERT_TRUE(!folders || keep);
        // A PC file whose name Windows opens without its last dot or blank.
        const CComBSTR song = rig.Pc(L"Song", Pattern(300, 2));
        const std::wstring songPath(song.get());
        ASSERT_EQ(0u, rig.Context()->SelectFolder(st, 0));
        const std::vector<std::wstring> before = rig.Names(st);

        auto refused = [&](const char* operation, const std::wstring& name, HRESULT hr) {
            EXPECT_EQ(E_INVALIDARG, hr) << operation << " " << std::string(name.begin(), name.end());
            EXPECT_FALSE(LastError().first.empty()) << operation << " carries a description";
        };
        for (const wchar_t* bad : kBadNames) {
            const std::wstring name(bad);
            refused("CreateSubfolder", name, root->CreateSubfolder(CComBSTR(bad)));
            if (keep)
                refused("folder rename", name, keep->put_Name(CComBSTR(bad)));
            refused("file rename", name, file->put_Name(CComBSTR(bad)));
            CComPtr<IZAVTFile> made;
            refused("CreateNewFile", name, root->CreateNewFile(CComBSTR(bad), &made));
            if (name.find_first_of(L"\\/") == std::wstring::npos) {
                const CComBSTR into((L"\\" + name + L"\\").c_str());
                refused("storage Download into", name, storage->Download(song, into));
                refused("device Download into", name, rig.device()->Download(s.storage, song, into));
            }
        }
        for (const wchar_t* end : {L".", L" "}) {
            const CComBSTR src((songPath + end).c_str());
            refused("folder Download of", src.get(), root->Download(src));
            refused("storage Download of", src.get(), storage->Download(src, CComBSTR(L"")));
            refused("device Download of", src.get(), rig.device()->Download(s.storage, src, CComBSTR(L"")));
        }
        ASSERT_EQ(0u, rig.Context()->SelectFolder(st, 0));
        EXPECT_EQ(before, rig.Names(st)) << "nothing was made or renamed";
        // The same operations with good names still work.
        ASSERT_EQ(S_OK, file->put_Name(CComBSTR(L"KEPT.BIN")));
        ASSERT_EQ(S_OK, root->Download(song));
    }
}

// The device's and the storage's downloads by path follow one rule: the folder part's names are walked
// (made when absent) from the root when the path begins with a separator, from the current folder
// otherwise; a path naming no folder is the root; a name held by a file, or by a folder in another
// case, never gets a second entry.
TEST_F(ZavtObjectsTest, DownloadsByPathFollowOneRule)
{
    struct Row {
        const wchar_t* dst;
        bool fromMusic;                    // MUSIC is current before the download
        std::vector<std::wstring> folder;  // where the file lands, from the root
    };
    const Row rows[] = {
        {L"", true, {}},
        {L"\\", true, {}},
        {L"\\MUSIC", false, {L"MUSIC"}},
        {L"\\music\\", false, {L"MUSIC"}},
        {L"\\A\\B\\", false, {L"A", L"B"}},
        {L"\\A\\B\\x.mp3", true, {L"A", L"B"}},
        {L"C\\", true, {L"MUSIC", L"C"}},
        {L"D", true, {L"MUSIC", L"D"}},
    };
    DeviceRig rig(SmallPlayer(9), 0, true);
    ASSERT_TRUE(rig.ok());
    auto context = rig.Context();
    CComPtr<IZAVTStorage> storage = StorageOf(rig, ZAVTST_INT);
    ASSERT_TRUE(storage);
    ASSERT_EQ(S_OK, RootOf(storage)->CreateSubfolder(CComBSTR(L"MUSIC")));
    engine::DirRecord music;
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    ASSERT_EQ(0, context->FindEntryByName(0, L"MUSIC", &music));
    int n = 0;
    for (const Row& row : rows) {
        for (const bool byDevice : {false, true}) {
            const std::string what =
                std::string(byDevice ? "device " : "storage ") + std::string(row.dst, row.dst + std::wcslen(row.dst));
            const Bytes data = Pattern(700, static_cast<std::uint32_t>(++n));
            const std::wstring name = L"F" + std::to_wstring(n) + L".BIN";
            CComBSTR src = rig.Pc(name.c_str(), data);
            ASSERT_EQ(0u, context->SelectFolder(0, row.fromMusic ? music.firstCluster : 0));
            const HRESULT hr = byDevice ? rig.device()->Download(ZAVTST_INT, src, CComBSTR(row.dst))
                                        : storage->Download(src, CComBSTR(row.dst));
            ASSERT_EQ(S_OK, hr) << what;
            EXPECT_EQ(data, PlayerFile(rig, 0, row.folder, name.c_str())) << what;
        }
    }
    // One MUSIC, one A below the root.
    ASSERT_EQ(0u, context->SelectFolder(0, 0));
    std::vector<std::wstring> names = rig.Names(0);
    EXPECT_EQ(1, std::count(names.begin(), names.end(), L"MUSIC"));
    EXPECT_EQ(1, std::count(names.begin(), names.end(), L"A"));

    // A file holds the name: refused with 789, nothing made.
    ASSERT_EQ(S_OK, storage->Download(rig.Pc(L"TAKEN", Pattern(10, 99)), CComBSTR(L"")));
    for (const bool byDevice : {false, true}) {
        CComBSTR src = rig.Pc(L"G.BIN", Pattern(10, 98));
        const HRESULT hr = byDevice ? rig.device()->Download(ZAVTST_INT, src, CComBSTR(L"\\TAKEN\\"))
                                    : storage->Download(src, CComBSTR(L"\\TAKEN\\"));
        EXPECT_EQ(E_FAIL, hr) << byDevice;
        EXPECT_EQ(L"Name already exist", LastError().first);
        ASSERT_EQ(0u, context->SelectFolder(0, 0));
        names = rig.Names(0);
        EXPECT_EQ(1, std::count(names.begin(), names.end(), L"TAKEN"));
    }
}
