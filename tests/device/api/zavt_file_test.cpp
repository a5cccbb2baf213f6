// The file object in-process, against the simulated player: identity, rename, delete, copies to the
// PC, play order, audio header and streams, on internal memory of both store kinds and on both card
// kinds, with the events a C++ sink hears; and the refusals that keep a stream, an entry or a PC
// folder from being taken by the wrong caller.
#include "device/api/zavt_file.h"
#include "device/api/zavt_folder.h"
#include "device/api/zavt_storage.h"
#include "tests/device/api/zavt_rig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr HRESULT kNoDevice = static_cast<HRESULT>(0x80040301);
constexpr HRESULT kFolderError = static_cast<HRESULT>(0x8004030B);
constexpr HRESULT kNameExists = static_cast<HRESULT>(0x80040315);
constexpr HRESULT kFileError = static_cast<HRESULT>(0x80040306);

// A player setting: model, card kind (0 none, 1 NAND-type, 2 MMC/SD), the storage under test, and
// whether its store has streams (the card of the flat store's models has none).
struct Setting {
    const char* what;
    int model;
    int card;
    ZAVTStorageType storage;
    bool streams = true;
};

void PrintTo(const Setting& s, std::ostream* out)
{
    *out << s.what;
}

// The events the control fires, with the object each carried and the thread it came on.
class FileEvents : public EventLog {
public:
    STDMETHOD(Invoke)(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* info, UINT* arg) override
    {
        const VARIANT* object = params->cArgs ? &params->rgvarg[params->cArgs - 1] : nullptr;
        senders.push_back(object && object->vt == VT_DISPATCH ? object->pdispVal : nullptr);
        threads.insert(GetCurrentThreadId());
        return EventLog::Invoke(id, iid, lcid, flags, params, result, info, arg);
    }
    void Clear()
    {
        ids.clear();
        senders.clear();
        threads.clear();
        objects = false;
    }
    // The start and end events with their objects; a Percent event (3, 9, 12) must carry no object and
    // lie between a start and its end, or it shows as {0, null}.
    std::vector<std::pair<DISPID, IDispatch*>> Outline() const
    {
        std::vector<std::pair<DISPID, IDispatch*>> outline;
        DISPID running = 0;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const DISPID id = ids[i];
            if (id == 3 || id == 9 || id == 12) {
                if (running != id - 2 || senders[i] != nullptr)
                    outline.emplace_back(0, nullptr);
                continue;
            }
            running = (id == 1 || id == 7 || id == 10) ? id : 0;
            outline.emplace_back(id, senders[i]);
        }
        return outline;
    }
    std::vector<IDispatch*> senders;
    std::set<DWORD> threads;
};

// The sink advised on the rig's control for one scope.
class Listening {
public:
    Listening(DeviceRig& rig, IDispatch* sink)
    {
        if (rig.controlObject() &&
            SUCCEEDED(rig.controlObject()->FindConnectionPoint(DIID__IZAVTControlEvents, &point_)))
            point_->Advise(sink, &cookie_);
    }
    ~Listening() { Stop(); }
    void Stop()
    {
        if (point_ && cookie_)
            point_->Unadvise(cookie_);
        point_.Release();
        cookie_ = 0;
    }
    bool ok() const { return cookie_ != 0; }

private:
    CComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

IDispatch* AsDispatch(IZAVTFile* file)
{
    return static_cast<IDispatch*>(file);
}

CComPtr<IZAVTFolder> RootFolder(ZAVTStorageType type)
{
    CComObject<CZAVTStorage>* object = nullptr;
    if (FAILED(CComObject<CZAVTStorage>::CreateInstance(&object)))
        return nullptr;
    CComPtr<IZAVTStorage> storage(static_cast<IZAVTStorage*>(object));
    CComPtr<IZAVTFolder> root;
    if (FAILED(object->Init(L"S", type, 0)) || storage->get_RootFolder(&root) != S_OK)
        return nullptr;
    return root;
}

std::wstring NameOf(IZAVTFile* file)
{
    CComBSTR name;
    file->get_Name(&name);
    return Text(name);
}

// The files a folder lists, by name.
std::map<std::wstring, CComPtr<IZAVTFile>> FilesOf(IZAVTFolder* folder)
{
    std::map<std::wstring, CComPtr<IZAVTFile>> files;
    CComPtr<IZAVTFileCollection> list;
    long count = 0;
    if (folder->get_Files(&list) != S_OK || list->get_Count(&count) != S_OK)
        return {{L"<failed>", nullptr}};
    for (long i = 1; i <= count; ++i) {
        CComPtr<IZAVTFile> item;
        if (list->get_Item(i, &item) != S_OK)
            return {{L"<failed item>", nullptr}};
        files[NameOf(item)] = item;
    }
    return files;
}

// The record of `name` in folder `folderId` (0 the root) of the storage, as the store's own walk finds it.
bool Find(DeviceRig& rig, std::uint32_t storage, std::uint32_t folderId, const wchar_t* name, engine::DirRecord* record)
{
    auto context = rig.Context();
    return context->SelectFolder(storage, folderId) == 0 && context->LookUp(storage, name, record) == 0;
}

// The bytes of that file, read by the store's own copy to the PC.
Bytes Stored(DeviceRig& rig, std::uint32_t storage, std::uint32_t folderId, const wchar_t* name)
{
    engine::DirRecord record;
    if (!Find(rig, storage, folderId, name, &record))
        return {};
    const auto back = rig.PcPath(L"stored.bin");
    DeleteFileW(back.wstring().c_str());
    if (rig.Context()->UploadFile(storage, record.firstCluster, back.wstring().c_str()) != 0)
        return {};
    return ReadFile(back);
}

// Days since 30 Dec 1899 of a record's date word, 0 for no date.
double DaysOf(std::uint16_t word)
{
    using namespace std::chrono;
    const year_month_day date{year{1980 + (word >> 9)}, month{(word >> 5) & 15u}, day{word & 31u}};
    if (!date.ok())
        return 0;
    return static_cast<double>((sys_days{date} - sys_days{year{1899} / December / 30}).count());
}

ZavtUAddress AddressOf(const void* data)
{
    return static_cast<ZavtUAddress>(reinterpret_cast<std::uintptr_t>(data));
}

// Writes the bytes through the file's stream in pieces of the given sizes (the last takes the rest).
HRESULT WriteInPieces(IZAVTFile* file, const Bytes& data, const std::vector<std::size_t>& pieces)
{
    HRESULT hr = file->OpenFile(fmWrite);
    if (FAILED(hr))
        return hr;
    std::size_t at = 0;
    for (std::size_t i = 0; i <= pieces.size() && SUCCEEDED(hr); ++i) {
        const std::size_t n = i < pieces.size() ? std::min(pieces[i], data.size() - at) : data.size() - at;
        hr = file->Write(AddressOf(data.data() + at), static_cast<ULONG>(n));
        at += n;
    }
    const HRESULT closed = file->CloseFile();
    return FAILED(hr) ? hr : closed;
}

// Reads the whole file through its stream in pieces of `piece` bytes.
HRESULT ReadAll(IZAVTFile* file, std::size_t piece, Bytes* out)
{
    out->clear();
    HRESULT hr = file->OpenFile(fmRead);
    if (FAILED(hr))
        return hr;
    Bytes buffer(piece);
    for (;;) {
        ULONG got = 0;
        hr = file->Read(AddressOf(buffer.data()), static_cast<ULONG>(buffer.size()), &got);
        if (FAILED(hr) || got == 0)
            break;
        out->insert(out->end(), buffer.begin(), buffer.begin() + got);
    }
    const HRESULT closed = file->CloseFile();
    return FAILED(hr) ? hr : closed;
}

class ZavtFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

// A rig with three files in a folder of the storage: "Music" on the folder-object models, the root on
// the flat store. The root stays current, so each file's own calls must find their folder.
class FileRig {
public:
    explicit FileRig(const Setting& s) : setting(s), rig(s.model, s.card, s.model >= 9)
    {
        storage = s.storage == ZAVTST_EXT ? 1 : 0;
        if (!rig.ok() || !(root = RootFolder(s.storage)))
            return;
        folder = root;
        if (s.model >= 9) {
            CComPtr<IZAVTFolderCollection> list;
            long count = 0;
            if (root->CreateSubfolder(CComBSTR(L"Music")) != S_OK || root->get_SubFolders(&list) != S_OK ||
                list->get_Count(&count) != S_OK || count != 1)
                return;
            folder.Release();
            long id = 0;
            if (list->get_Item(1, &folder) != S_OK || folder->get_FileSystemID(&id) != S_OK)
                return;
            folderId = static_cast<std::uint32_t>(id);
            folderPath = L"\\Music";
        }
        for (const auto& [name, bytes] : contents) {
            if (folder->Download(rig.Pc(name.c_str(), bytes)) != S_OK)
                return;
        }
        files = FilesOf(folder);
        ok_ = files.size() == contents.size() && rig.Context()->SelectFolder(storage, 0) == 0 && listening.ok();
        events.Clear();
    }
    bool ok() const { return ok_; }
    std::wstring PathOf(const wchar_t* name) const { return folderPath + L"\\" + name; }

    const Setting setting;
    DeviceRig rig;
    FileEvents events;
    Listening listening{rig, &events};
    const std::map<std::wstring, Bytes> contents{
        {L"A.BIN", Pattern(5000, 1)}, {L"B.BIN", Pattern(40000, 2)}, {L"C.BIN", Pattern(700, 3)}};
    std::uint32_t storage = 0;
    std::uint32_t folderId = 0;
    std::wstring folderPath;
    CComPtr<IZAVTFolder> root;
    CComPtr<IZAVTFolder> folder;
    std::map<std::wstring, CComPtr<IZAVTFile>> files;

private:
    bool ok_ = false;
};

const Setting kSettings[] = {
    {"folder objects, internal memory", 9, 0, ZAVTST_INT},
    {"folder objects, NAND-type card", 9, 1, ZAVTST_EXT},
    {"folder objects, MMC/SD card", 10, 2, ZAVTST_EXT},
    {"flat store, internal memory", 1, 0, ZAVTST_INT},
    {"flat store, NAND-type card", 1, 1, ZAVTST_EXT, false},
};

class ZavtFileSettings : public ::testing::TestWithParam<Setting> {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

}  // namespace

// Identity, storage, parent, copies to the PC, rename, play order and delete of listed files, with the
// events each fires carrying the file itself, on the caller's thread.
TEST_P(ZavtFileSettings, ListedFiles)
{
    FileRig f(GetParam());
    ASSERT_TRUE(f.ok());
    FileEvents& events = f.events;
    IZAVTFile* a = f.files[L"A.BIN"];

    // What the record says.
    for (const auto& [name, file] : f.files) {
        engine::DirRecord record;
        ASSERT_TRUE(Find(f.rig, f.storage, f.folderId, name.c_str(), &record));
        ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
        CComBSTR path;
        ASSERT_EQ(S_OK, file->get_Path(&path));
        EXPECT_EQ(f.PathOf(name.c_str()), Text(path));
        long size = -1, id = -1;
        ZAVTFileAttribute attributes = Normal;
        DATE modified = -1, created = -1;
        ASSERT_EQ(S_OK, file->get_Size(&size));
        ASSERT_EQ(S_OK, file->get_FileSystemID(&id));
        ASSERT_EQ(S_OK, file->get_Attributes(&attributes));
        ASSERT_EQ(S_OK, file->get_DateLastModified(&modified));
        ASSERT_EQ(S_OK, file->get_DateCreated(&created));
        EXPECT_EQ(static_cast<long>(f.contents.at(name).size()), size);
        EXPECT_EQ(record.firstCluster, id);
        EXPECT_NE(0, id);
        EXPECT_EQ(record.attributes, attributes);
        EXPECT_EQ(DaysOf(record.writeDate), modified);
        EXPECT_EQ(DaysOf(record.createDate), created);
        EXPECT_GT(modified, 29221.0) << "a date after 1980";
    }
    EXPECT_EQ(E_NOTIMPL, a->put_Attributes(Archive));

    CComPtr<IZAVTStorage> storage;
    ASSERT_EQ(S_OK, a->get_Storage(&storage));
    ZAVTStorageType type = ZAVTST_VOID;
    ASSERT_EQ(S_OK, storage->get_Type(&type));
    EXPECT_EQ(GetParam().storage, type);
    CComPtr<IZAVTFolder> parent;
    ASSERT_EQ(S_OK, a->get_ParentFolder(&parent));
    EXPECT_EQ(static_cast<IZAVTFolder*>(f.folder), static_cast<IZAVTFolder*>(parent));

    // Copies to the PC: into a folder under the file's name, and to a path of the caller's choice.
    const auto pc = f.rig.PcPath(L"out");
    std::filesystem::create_directories(pc);
    events.Clear();
    ASSERT_EQ(S_OK, a->Upload(CComBSTR(pc.wstring().c_str())));
    ASSERT_EQ(S_OK, a->UploadTo(CComBSTR((pc / L"copy.bin").wstring().c_str())));
    EXPECT_EQ(f.contents.at(L"A.BIN"), ReadFile(pc / L"A.BIN"));
    EXPECT_EQ(f.contents.at(L"A.BIN"), ReadFile(pc / L"copy.bin"));
    EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{7, AsDispatch(a)}, {8, AsDispatch(a)}, {7, AsDispatch(a)},
                                                          {8, AsDispatch(a)}}),
              events.Outline());
    EXPECT_EQ((std::set<DWORD>{GetCurrentThreadId()}), events.threads);
    EXPECT_EQ(kZavtOperationNone, f.rig.controlObject()->OperationKind());

    // Rename: the object's name and path follow; the PC copy keeps the record's name; a name the
    // folder holds is refused and changes nothing.
    ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
    ASSERT_EQ(S_OK, a->put_Name(CComBSTR(L"R.BIN")));
    EXPECT_EQ(L"R.BIN", NameOf(a));
    CComBSTR renamedPath;
    ASSERT_EQ(S_OK, a->get_Path(&renamedPath));
    EXPECT_EQ(f.PathOf(L"R.BIN"), Text(renamedPath));
    EXPECT_EQ(f.contents.at(L"A.BIN"), Stored(f.rig, f.storage, f.folderId, L"R.BIN"));
    const auto again = pc / L"again";
    std::filesystem::create_directories(again);
    ASSERT_EQ(S_OK, a->Upload(CComBSTR(again.wstring().c_str())));
    EXPECT_EQ(f.contents.at(L"A.BIN"), ReadFile(again / L"A.BIN"));
    EXPECT_EQ(kNameExists, a->put_Name(CComBSTR(L"B.BIN")));
    EXPECT_EQ(L"R.BIN", NameOf(a));
    EXPECT_EQ(S_OK, a->put_Name(CComBSTR(L"R.BIN"))) << "the same name is no change";
    for (const wchar_t* bad : {L"", L"x\\y.bin", L"..", L"a/b"})
        EXPECT_EQ(E_INVALIDARG, a->put_Name(CComBSTR(bad))) << Text(CComBSTR(bad));

    // Play order: each file has its own place, and a file put at another's place is found there.
    std::map<std::wstring, long> places;
    std::set<long> distinct;
    for (const auto& [name, file] : f.files) {
        ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
        long index = -1;
        ASSERT_EQ(S_OK, file->get_PlayIndex(&index)) << NameOf(file);
        places[name] = index;
        distinct.insert(index);
    }
    EXPECT_EQ(f.files.size(), distinct.size());
    ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
    ASSERT_EQ(S_OK, f.files[L"C.BIN"]->put_PlayIndex(places[L"A.BIN"]));
    long moved = -1;
    ASSERT_EQ(S_OK, f.files[L"C.BIN"]->get_PlayIndex(&moved));
    EXPECT_EQ(places[L"A.BIN"], moved);

    // Delete: both events with the file itself; the entry is gone, the others stay whole.
    events.Clear();
    ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
    IZAVTFile* c = f.files[L"C.BIN"];
    ASSERT_EQ(S_OK, c->Delete());
    EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{1, AsDispatch(c)}, {2, AsDispatch(c)}}), events.Outline());
    EXPECT_EQ(kZavtOperationNone, f.rig.controlObject()->OperationKind());
    std::set<std::wstring> left;
    for (const auto& [name, file] : FilesOf(f.folder))
        left.insert(name);
    EXPECT_EQ((std::set<std::wstring>{L"B.BIN", L"R.BIN"}), left);
    EXPECT_EQ(f.contents.at(L"B.BIN"), Stored(f.rig, f.storage, f.folderId, L"B.BIN"));
}

// A stream writes a new file in pieces and reads it back, byte for byte as the store holds it, with
// DownloadFile events around the write and UploadFile events around the read.
TEST_P(ZavtFileSettings, StreamRoundTrip)
{
    FileRig f(GetParam());
    ASSERT_TRUE(f.ok());
    FileEvents& events = f.events;

    CComPtr<IZAVTFile> made;
    ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(L"S.BIN"), &made));
    long size = -1, id = -1;
    ZAVTFileAttribute attributes = Archive;
    ASSERT_EQ(S_OK, made->get_Size(&size));
    ASSERT_EQ(S_OK, made->get_FileSystemID(&id));
    ASSERT_EQ(S_OK, made->get_Attributes(&attributes));
    EXPECT_EQ(0, size);
    EXPECT_EQ(0, id);
    EXPECT_EQ(Normal, attributes);

    const Bytes data = Pattern(50000, 9);
    events.Clear();
    if (!GetParam().streams) {
        // Refused by the store, reported, and ended by the close like any failed open.
        EXPECT_EQ(kFileError, made->OpenFile(fmWrite));
        EXPECT_EQ(kFileError, made->Write(AddressOf(data.data()), 100));
        EXPECT_EQ(kFileError, made->CloseFile());
        EXPECT_EQ(kFileError, f.files[L"A.BIN"]->OpenFile(fmRead));
        EXPECT_EQ(kFileError, f.files[L"A.BIN"]->CloseFile());
        EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{10, AsDispatch(made)},
                                                              {11, AsDispatch(made)},
                                                              {7, AsDispatch(f.files[L"A.BIN"])},
                                                              {8, AsDispatch(f.files[L"A.BIN"])}}),
                  events.Outline());
        EXPECT_EQ(3u, FilesOf(f.folder).size());
        return;
    }
    // Pieces smaller than, across and exactly at the store's blocks, and an empty one.
    ASSERT_EQ(S_OK, WriteInPieces(made, data, {1, 0, 4095, 16384, 20000}));
    EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{10, AsDispatch(made)}, {11, AsDispatch(made)}}),
              events.Outline());
    EXPECT_EQ(kZavtOperationNone, f.rig.controlObject()->OperationKind());
    EXPECT_EQ(data, Stored(f.rig, f.storage, f.folderId, L"S.BIN"));
    ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
    // The new object's record stays empty until the folder is listed again.
    size = id = -1;
    ASSERT_EQ(S_OK, made->get_Size(&size));
    ASSERT_EQ(S_OK, made->get_FileSystemID(&id));
    EXPECT_EQ(0, size);
    EXPECT_EQ(0, id);

    auto listed = FilesOf(f.folder);
    ASSERT_TRUE(listed.count(L"S.BIN"));
    IZAVTFile* s = listed[L"S.BIN"];
    ASSERT_EQ(S_OK, s->get_Size(&size));
    EXPECT_EQ(static_cast<long>(data.size()), size);
    ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, 0));
    events.Clear();
    Bytes back;
    ASSERT_EQ(S_OK, ReadAll(s, 3000, &back));
    EXPECT_EQ(data, back);
    EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{7, AsDispatch(s)}, {8, AsDispatch(s)}}), events.Outline());
    EXPECT_EQ((std::set<DWORD>{GetCurrentThreadId()}), events.threads);
    // A listed file read in one piece larger than itself.
    ASSERT_EQ(S_OK, ReadAll(listed[L"B.BIN"], 65536, &back));
    EXPECT_EQ(f.contents.at(L"B.BIN"), back);
}

INSTANTIATE_TEST_SUITE_P(Stores, ZavtFileSettings, ::testing::ValuesIn(kSettings));

// Open modes, wrong modes, null addresses and a name the folder holds already.
TEST_F(ZavtFileTest, StreamArguments)
{
    FileRig f(kSettings[0]);
    ASSERT_TRUE(f.ok());
    IZAVTFile* a = f.files[L"A.BIN"];
    const struct {
        long mode;
        HRESULT result;
    } modes[] = {{fmNormal, E_INVALIDARG}, {fmAppend, E_NOTIMPL}, {3, E_INVALIDARG}, {5, E_INVALIDARG}};
    for (const auto& m : modes)
        EXPECT_EQ(m.result, a->OpenFile(static_cast<ZAVTFileMode>(m.mode))) << m.mode;
    Bytes buffer(100);
    ULONG got = 7;
    EXPECT_EQ(E_INVALIDARG, a->Read(AddressOf(buffer.data()), 100, &got)) << "not open";
    EXPECT_EQ(0u, got);
    EXPECT_EQ(E_INVALIDARG, a->CloseFile()) << "not open";

    ASSERT_EQ(S_OK, a->OpenFile(fmRead));
    EXPECT_EQ(E_INVALIDARG, a->Write(AddressOf(buffer.data()), 10)) << "open for reading";
    EXPECT_EQ(E_INVALIDARG, a->Read(0, 100, &got));
    EXPECT_EQ(E_INVALIDARG, a->Read(AddressOf(buffer.data()), 100, nullptr));
    EXPECT_EQ(E_ACCESSDENIED, a->OpenFile(fmRead)) << "open already";
    ASSERT_EQ(S_OK, a->Read(AddressOf(buffer.data()), 100, &got));
    EXPECT_EQ(100u, got);
    EXPECT_EQ(Bytes(f.contents.at(L"A.BIN").begin(), f.contents.at(L"A.BIN").begin() + 100), buffer);
    ASSERT_EQ(S_OK, a->CloseFile());

    CComPtr<IZAVTFile> made;
    ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(L"N.BIN"), &made));
    ASSERT_EQ(S_OK, made->OpenFile(fmWrite));
    EXPECT_EQ(E_INVALIDARG, made->Read(AddressOf(buffer.data()), 10, &got)) << "open for writing";
    EXPECT_EQ(E_INVALIDARG, made->Write(0, 10));
    ASSERT_EQ(S_OK, made->Write(AddressOf(buffer.data()), 10));
    ASSERT_EQ(S_OK, made->CloseFile());

    // A stream never makes a second entry of a name: neither the same letters nor another case.
    for (const wchar_t* name : {L"N.BIN", L"b.bin"}) {
        CComPtr<IZAVTFile> twin;
        ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(name), &twin));
        EXPECT_EQ(kNameExists, twin->OpenFile(fmWrite)) << Text(CComBSTR(name));
        EXPECT_EQ(E_INVALIDARG, twin->CloseFile()) << "a refused open opens nothing";
    }
    const auto listed = FilesOf(f.folder);
    EXPECT_EQ(4u, listed.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Stored(f.rig, 0, f.folderId, L"N.BIN"));
    EXPECT_EQ(f.contents.at(L"B.BIN"), Stored(f.rig, 0, f.folderId, L"B.BIN"));
}

// One open stream per storage (both storages share one on the flat store's models), used and closed
// by its owner only; the next opens once it is closed.
TEST_F(ZavtFileTest, StreamOwnership)
{
    const struct {
        Setting setting;
        bool cardShares;
    } cases[] = {{{"folder objects", 10, 2, ZAVTST_INT}, false}, {{"flat store", 1, 1, ZAVTST_INT}, true}};
    for (const auto& c : cases) {
        FileRig f(c.setting);
        ASSERT_TRUE(f.ok()) << c.setting.what;
        CComPtr<IZAVTFolder> cardRoot = RootFolder(ZAVTST_EXT);
        ASSERT_TRUE(cardRoot);
        CComPtr<IZAVTFile> first, second, onCard;
        ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(L"ONE.BIN"), &first));
        ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(L"TWO.BIN"), &second));
        ASSERT_EQ(S_OK, cardRoot->CreateNewFile(CComBSTR(L"CARD.BIN"), &onCard));
        const Bytes one = Pattern(30000, 11), two = Pattern(2000, 12);

        ASSERT_EQ(S_OK, first->OpenFile(fmWrite)) << c.setting.what;
        ASSERT_EQ(S_OK, first->Write(AddressOf(one.data()), 10000));
        EXPECT_EQ(E_ACCESSDENIED, second->OpenFile(fmWrite)) << c.setting.what;
        EXPECT_EQ(E_ACCESSDENIED, f.files[L"A.BIN"]->OpenFile(fmRead)) << c.setting.what;
        EXPECT_EQ(E_INVALIDARG, second->Write(AddressOf(two.data()), 2000)) << "not its stream";
        EXPECT_EQ(E_INVALIDARG, second->CloseFile()) << "not its stream";
        const HRESULT card = onCard->OpenFile(fmWrite);
        if (c.cardShares) {
            EXPECT_EQ(E_ACCESSDENIED, card) << c.setting.what;
        } else {
            ASSERT_EQ(S_OK, card) << c.setting.what;
            ASSERT_EQ(S_OK, onCard->Write(AddressOf(two.data()), 2000));
            ASSERT_EQ(S_OK, onCard->CloseFile());
        }
        ASSERT_EQ(S_OK, first->Write(AddressOf(one.data() + 10000), 20000));
        ASSERT_EQ(S_OK, first->CloseFile());

        ASSERT_EQ(S_OK, WriteInPieces(second, two, {}));
        EXPECT_EQ(one, Stored(f.rig, f.storage, f.folderId, L"ONE.BIN")) << c.setting.what;
        EXPECT_EQ(two, Stored(f.rig, f.storage, f.folderId, L"TWO.BIN")) << c.setting.what;
        if (!c.cardShares) {
            EXPECT_EQ(two, Stored(f.rig, 1, 0, L"CARD.BIN"));
        }
    }
}

// The last reference to a file with an open stream closes it: what was written is kept, the end
// event comes (with no object, which is going), and the storage's stream is free again.
TEST_F(ZavtFileTest, ReleaseClosesTheStream)
{
    FileRig f(kSettings[2]);
    ASSERT_TRUE(f.ok());
    FileEvents& events = f.events;
    const Bytes data = Pattern(20000, 13);
    IDispatch* sent = nullptr;
    {
        CComPtr<IZAVTFile> made;
        ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(L"KEPT.BIN"), &made));
        events.Clear();
        ASSERT_EQ(S_OK, made->OpenFile(fmWrite));
        ASSERT_EQ(S_OK, made->Write(AddressOf(data.data()), static_cast<ULONG>(data.size())));
        sent = AsDispatch(made);
    }
    EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{10, sent}, {11, nullptr}}), events.Outline());
    EXPECT_EQ(kZavtOperationNone, f.rig.controlObject()->OperationKind());
    EXPECT_EQ(data, Stored(f.rig, f.storage, f.folderId, L"KEPT.BIN"));
    Bytes back;
    auto listed = FilesOf(f.folder);
    ASSERT_TRUE(listed.count(L"KEPT.BIN"));
    ASSERT_EQ(S_OK, ReadAll(listed[L"KEPT.BIN"], 8192, &back));
    EXPECT_EQ(data, back);
}

// A failed open still leaves the file open in its mode: the following close ends it, with its event.
TEST_F(ZavtFileTest, FailedOpenIsClosed)
{
    FileRig f(kSettings[0]);
    ASSERT_TRUE(f.ok());
    // The entry goes behind the back of this object.
    IZAVTFile* stale = f.files[L"C.BIN"];
    auto second = FilesOf(f.folder);
    ASSERT_EQ(S_OK, second[L"C.BIN"]->Delete());
    FileEvents& events = f.events;
    events.Clear();
    const HRESULT opened = stale->OpenFile(fmRead);
    EXPECT_TRUE(FAILED(opened));
    EXPECT_NE(E_INVALIDARG, opened);
    EXPECT_NE(E_ACCESSDENIED, opened);
    EXPECT_EQ(kZavtOperationUpload, f.rig.controlObject()->OperationKind());
    Bytes buffer(10);
    ULONG got = 0;
    EXPECT_TRUE(FAILED(stale->Read(AddressOf(buffer.data()), 10, &got)));
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(FAILED(stale->CloseFile()));
    EXPECT_EQ((std::vector<std::pair<DISPID, IDispatch*>>{{7, AsDispatch(stale)}, {8, AsDispatch(stale)}}),
              events.Outline());
    EXPECT_EQ(kZavtOperationNone, f.rig.controlObject()->OperationKind());
    EXPECT_EQ(E_INVALIDARG, stale->CloseFile()) << "closed";
    Bytes back;
    ASSERT_EQ(S_OK, ReadAll(f.files[L"B.BIN"], 4096, &back));
    EXPECT_EQ(f.contents.at(L"B.BIN"), back);
}

// A folder that cannot be made current stops every call on its files before anything starts: no
// start event without its end, no operation kind left behind, no stream left claimed.
TEST_F(ZavtFileTest, FolderThatCannotBeSelected)
{
    FileRig f(kSettings[0]);
    ASSERT_TRUE(f.ok());
    engine::DirRecord record;
    ASSERT_TRUE(Find(f.rig, 0, f.folderId, L"A.BIN", &record));
    ASSERT_EQ(0u, f.rig.Context()->SelectFolder(0, 0));
    engine::DirRecord nowhere{};
    nowhere.attributes = FILE_ATTRIBUTE_DIRECTORY;
    nowhere.firstCluster = 0xFFF0;
    CComObject<CZAVTFolder>* folderObject = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTFolder>::CreateInstance(&folderObject));
    CComPtr<IZAVTFolder> gone(static_cast<IZAVTFolder*>(folderObject));
    ASSERT_EQ(S_OK, folderObject->Init(L"Gone", L"\\Gone", 0, nowhere, ZAVTST_INT, 0, f.root));
    CComObject<CZAVTFile>* object = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTFile>::CreateInstance(&object));
    CComPtr<IZAVTFile> file(static_cast<IZAVTFile*>(object));
    ASSERT_EQ(S_OK, object->Init(L"A.BIN", L"\\Gone\\A.BIN", record, nullptr, ZAVTST_INT, 0, gone));

    const auto pc = f.rig.PcPath(L"gone");
    std::filesystem::create_directories(pc);
    f.events.Clear();
    EXPECT_EQ(kFolderError, file->Upload(CComBSTR(pc.wstring().c_str())));
    EXPECT_EQ(kFolderError, file->UploadTo(CComBSTR((pc / L"a.bin").wstring().c_str())));
    EXPECT_EQ(kFolderError, file->Delete());
    EXPECT_EQ(kFolderError, file->OpenFile(fmRead));
    EXPECT_TRUE(f.events.ids.empty());
    EXPECT_EQ(kZavtOperationNone, f.rig.controlObject()->OperationKind());
    EXPECT_TRUE(std::filesystem::is_empty(pc));
    Bytes back;
    ASSERT_EQ(S_OK, ReadAll(f.files[L"A.BIN"], 8192, &back)) << "the refused open claimed nothing";
    EXPECT_EQ(f.contents.at(L"A.BIN"), back);
}

// A file not yet written has record id 0, which names no entry of its own: every call that would act
// on an entry by its id is refused, nothing on the player changes and the player is not asked.
TEST_F(ZavtFileTest, RecordIdZeroIsRefused)
{
    for (const Setting& s : {kSettings[0], kSettings[3]}) {
        FileRig f(s);
        ASSERT_TRUE(f.ok()) << s.what;
        CComPtr<IZAVTFile> made;
        ASSERT_EQ(S_OK, f.folder->CreateNewFile(CComBSTR(L"NEW.BIN"), &made));
        const auto pc = f.rig.PcPath(L"zero");
        std::filesystem::create_directories(pc);
        const auto before = f.rig.player().Player().Counters();
        EXPECT_EQ(E_INVALIDARG, made->Delete()) << s.what;
        EXPECT_EQ(E_INVALIDARG, made->Upload(CComBSTR(pc.wstring().c_str())));
        EXPECT_EQ(E_INVALIDARG, made->UploadTo(CComBSTR((pc / L"x.bin").wstring().c_str())));
        EXPECT_EQ(E_INVALIDARG, made->put_Name(CComBSTR(L"OTHER.BIN")));
        EXPECT_EQ(E_INVALIDARG, made->put_PlayIndex(0));
        EXPECT_EQ(E_INVALIDARG, made->OpenFile(fmRead));
        long index = 5, channels = 5;
        EXPECT_EQ(E_INVALIDARG, made->get_PlayIndex(&index));
        EXPECT_EQ(-1, index);
        ASSERT_EQ(S_OK, made->get_Channels(&channels));
        EXPECT_EQ(0, channels);
        EXPECT_EQ(before.commandBlocks, f.rig.player().Player().Counters().commandBlocks) << s.what;
        EXPECT_EQ(L"NEW.BIN", NameOf(made));
        EXPECT_TRUE(std::filesystem::is_empty(pc));
        EXPECT_EQ(3u, FilesOf(f.folder).size()) << s.what;
        for (const auto& [name, bytes] : f.contents)
            EXPECT_EQ(bytes, Stored(f.rig, f.storage, f.folderId, name.c_str())) << s.what;
    }
}

// A name from the player that would lead out of the PC folder is never joined into a path: the copy is
// refused before it starts, and nothing is written anywhere.
TEST_F(ZavtFileTest, HostileNamesNeverReachThePc)
{
    for (const Setting& s : {kSettings[0], kSettings[3]}) {
        FileRig f(s);
        ASSERT_TRUE(f.ok()) << s.what;
        FileEvents& events = f.events;
        long id = 0;
        ASSERT_EQ(S_OK, f.files[L"A.BIN"]->get_FileSystemID(&id));
        const auto top = f.rig.PcPath(L"pc");
        const auto inner = top / L"inner";
        std::filesystem::create_directories(inner);
        const bool wide = s.model >= 9;
        for (const char* name : {"..\\A.BIN", "..", "x..y", "sub/A.BIN", "C:A.BIN", "\\A.BIN", ""}) {
            engine::DirRecord record{};
            record.firstCluster = static_cast<std::uint16_t>(id);
            record.size = 5000;
            for (std::size_t i = 0; name[i]; ++i) {
                if (wide)
                    reinterpret_cast<wchar_t*>(record.name)[i] = static_cast<wchar_t>(name[i]);
                else
                    record.name[i] = static_cast<std::uint8_t>(name[i]);
            }
            CComObject<CZAVTFile>* object = nullptr;
            ASSERT_EQ(S_OK, CComObject<CZAVTFile>::CreateInstance(&object));
            CComPtr<IZAVTFile> file(static_cast<IZAVTFile*>(object));
            ASSERT_EQ(S_OK, object->Init(L"A.BIN", L"\\A.BIN", record, nullptr, s.storage, 0, f.folder));
            events.Clear();
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), file->Upload(CComBSTR(inner.wstring().c_str())))
                << s.what << " " << name;
            EXPECT_TRUE(events.ids.empty()) << name;
        }
        EXPECT_TRUE(std::filesystem::is_empty(inner)) << s.what;
        EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(top), std::filesystem::directory_iterator()))
            << "the folder above holds only the target folder";
    }
}

// A name Windows opens as a device (from the player's record, or in the path a client gives) is never
// written to: Upload, UploadTo and the device's Upload refuse it as they refuse a name that leads out
// of the folder, before anything starts; names that only look like one are copied. A target path the
// platform cannot name is the store's file error (774).
TEST_F(ZavtFileTest, DeviceNamesNeverReachThePc)
{
    const HRESULT kInvalidName = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    struct Row {
        const char* name;
        bool device;
    };
    const Row rows[] = {
        {"NUL", true},      {"nul.mp3", true},  {"Con", true},       {"AUX.bin", true},       {"COM1", true},
        {"lpt9.wav", true}, {"PRN ", true},     {"NULL.BIN", false}, {"CONSOLE.mp3", false}, {"COM10", false},
    };
    for (const Setting& s : {kSettings[0], kSettings[3]}) {
        SCOPED_TRACE(s.what);
        FileRig f(s);
        ASSERT_TRUE(f.ok());
        long id = 0;
        ASSERT_EQ(S_OK, f.files[L"A.BIN"]->get_FileSystemID(&id));
        const auto pc = f.rig.PcPath(L"pc");
        std::filesystem::create_directories(pc);
        const bool wide = s.model >= 9;
        std::set<std::wstring> written;
        for (const Row& row : rows) {
            const std::wstring name(row.name, row.name + std::strlen(row.name));
            engine::DirRecord record{};
            record.firstCluster = static_cast<std::uint16_t>(id);
            record.size = 5000;
            for (std::size_t i = 0; row.name[i]; ++i) {
                if (wide)
                    reinterpret_cast<wchar_t*>(record.name)[i] = static_cast<wchar_t>(row.name[i]);
                else
                    record.name[i] = static_cast<std::uint8_t>(row.name[i]);
            }
            CComObject<CZAVTFile>* object = nullptr;
            ASSERT_EQ(S_OK, CComObject<CZAVTFile>::CreateInstance(&object));
            CComPtr<IZAVTFile> file(static_cast<IZAVTFile*>(object));
            ASSERT_EQ(S_OK, object->Init(name.c_str(), L"\\X", record, nullptr, s.storage, 0, f.folder));
            const std::wstring into = pc.wstring() + L"\\" + name;
            const std::wstring below = pc.wstring() + L"\\" + name + L"\\x.bin";
            f.events.Clear();
            if (row.device) {
                EXPECT_EQ(kInvalidName, file->Upload(CComBSTR(pc.wstring().c_str()))) << row.name;
                EXPECT_EQ(L"File not found or I/O Error.", LastError().first);
                EXPECT_EQ(kInvalidName, file->UploadTo(CComBSTR(into.c_str()))) << row.name;
                EXPECT_EQ(kInvalidName, f.files[L"B.BIN"]->UploadTo(CComBSTR(below.c_str()))) << row.name;
                // The device's Upload takes the name from the current folder.
                ASSERT_EQ(0u, f.rig.Context()->SelectFolder(f.storage, f.folderId));
                EXPECT_EQ(kInvalidName, f.rig.device()->Upload(s.storage, CComBSTR(L"A.BIN"), CComBSTR(into.c_str())))
                    << row.name;
                EXPECT_TRUE(f.events.ids.empty()) << row.name;
            } else {
                EXPECT_EQ(S_OK, file->Upload(CComBSTR(pc.wstring().c_str()))) << row.name;
                EXPECT_EQ(f.contents.at(L"A.BIN"), ReadFile(pc / name)) << row.name;
                written.insert(name);
            }
        }
        std::set<std::wstring> found;
        for (const auto& entry : std::filesystem::directory_iterator(pc))
            found.insert(entry.path().filename().wstring());
        EXPECT_EQ(written, found);

        // Paths the platform cannot name.
        const std::wstring tooLong = pc.wstring() + L"\\" + std::wstring(300, L'x');
        for (const std::wstring& odd : {std::wstring(), std::wstring(L"a\0b", 3), tooLong}) {
            CComBSTR path;
            path.Attach(SysAllocStringLen(odd.data(), static_cast<UINT>(odd.size())));
            EXPECT_EQ(kFileError, f.files[L"A.BIN"]->UploadTo(path)) << odd.size();
            EXPECT_EQ(L"File not found or I/O Error.", LastError().first);
        }
    }
}

// The audio header: asked of the player once per object, whichever of the three is read first and
// however often; a failed query leaves all three 0 for the object's life; the flat store has none.
TEST_F(ZavtFileTest, AudioHeader)
{
    for (const Setting& s : {kSettings[0], kSettings[2], kSettings[3]}) {
        FileRig f(s);
        ASSERT_TRUE(f.ok()) << s.what;
        long a = 0, b = 0;
        ASSERT_EQ(S_OK, f.files[L"A.BIN"]->get_FileSystemID(&a));
        ASSERT_EQ(S_OK, f.files[L"B.BIN"]->get_FileSystemID(&b));
        const auto st = static_cast<std::uint8_t>(f.storage);
        f.rig.player().Player().EditConfig([&](sim::PlayerConfig& config) {
            config.audioHeaders.push_back({st, static_cast<std::uint16_t>(a), 2, 44100, 192000});
            config.audioHeaders.push_back({st, static_cast<std::uint16_t>(b), 1, 22050, 64000});
        });
        const bool asks = s.model >= 9;
        const auto blocks = [&] { return f.rig.player().Player().Counters().commandBlocks; };

        std::uint64_t start = blocks();
        long channels = -1, rate = -1, bits = -1;
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(S_OK, f.files[L"A.BIN"]->get_Bitrate(&bits));
            ASSERT_EQ(S_OK, f.files[L"A.BIN"]->get_SampleRate(&rate));
            ASSERT_EQ(S_OK, f.files[L"A.BIN"]->get_Channels(&channels));
        }
        EXPECT_EQ(asks ? 1u : 0u, blocks() - start) << s.what;
        EXPECT_EQ(asks ? 2 : 0, channels) << s.what;
        EXPECT_EQ(asks ? 44100 : 0, rate);
        EXPECT_EQ(asks ? 192000 : 0, bits);
        if (!asks)
            continue;

        // The query of B fails on the wire; the player is never asked again for this object.
        f.rig.player().Server().InjectFault(sim::FaultKind::Fail, 1);
        start = blocks();
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(S_OK, f.files[L"B.BIN"]->get_Channels(&channels));
            ASSERT_EQ(S_OK, f.files[L"B.BIN"]->get_SampleRate(&rate));
            ASSERT_EQ(S_OK, f.files[L"B.BIN"]->get_Bitrate(&bits));
            EXPECT_EQ(0, channels);
            EXPECT_EQ(0, rate);
            EXPECT_EQ(0, bits);
        }
        EXPECT_EQ(0u, blocks() - start) << s.what;
        f.rig.player().Server().ClearFault();
        // A new object of the same file asks again.
        auto listed = FilesOf(f.folder);
        ASSERT_EQ(S_OK, listed[L"B.BIN"]->get_SampleRate(&rate));
        EXPECT_EQ(22050, rate);
        EXPECT_EQ(E_INVALIDARG, listed[L"B.BIN"]->get_Channels(nullptr));
    }
}

// Dates come from the record's date words; a zero or impossible date is no date.
TEST_F(ZavtFileTest, Dates)
{
    DeviceRig rig(9, 0, true);
    ASSERT_TRUE(rig.ok());
    const struct {
        std::uint16_t word;
        double expected;
    } rows[] = {{0, 0.0}, {static_cast<std::uint16_t>((24 << 9) | (1 << 5) | 1), 37987.0},
                {static_cast<std::uint16_t>((23 << 9) | (2 << 5) | 29), 0.0}};
    for (const auto& row : rows) {
        engine::DirRecord record{};
        record.writeDate = row.word;
        record.createDate = row.word;
        record.firstCluster = 7;
        CComObject<CZAVTFile>* object = nullptr;
        ASSERT_EQ(S_OK, CComObject<CZAVTFile>::CreateInstance(&object));
        CComPtr<IZAVTFile> file(static_cast<IZAVTFile*>(object));
        ASSERT_EQ(S_OK, object->Init(L"D.BIN", L"\\D.BIN", record, nullptr, ZAVTST_INT, 0, nullptr));
        DATE modified = -1, created = -1;
        ASSERT_EQ(S_OK, file->get_DateLastModified(&modified));
        ASSERT_EQ(S_OK, file->get_DateCreated(&created));
        EXPECT_EQ(row.expected, modified) << row.word;
        EXPECT_EQ(row.expected, created) << row.word;
    }
}

// Without a device context every member that needs the player answers 769; the record's own values
// and null out-parameters are answered as before.
TEST_F(ZavtFileTest, NoDevice)
{
    FileRig f(kSettings[0]);
    ASSERT_TRUE(f.ok());
    CComPtr<IZAVTFile> a = f.files[L"A.BIN"];
    CComPtr<IZAVTFile> open = f.files[L"B.BIN"];
    ASSERT_EQ(S_OK, open->OpenFile(fmRead));
    f.files.clear();
    f.folder.Release();
    f.root.Release();
    f.listening.Stop();
    f.rig.DropControl();
    ASSERT_EQ(nullptr, DeviceContext::Current());

    const auto pc = f.rig.PcPath(L"none");
    long value = -1;
    DATE date = -1;
    CComPtr<IZAVTStorage> storage;
    CComPtr<IZAVTFolder> parent;
    Bytes buffer(10);
    ULONG got = 0;
    EXPECT_EQ(kNoDevice, a->Delete());
    EXPECT_EQ(kNoDevice, a->Upload(CComBSTR(pc.wstring().c_str())));
    EXPECT_EQ(kNoDevice, a->UploadTo(CComBSTR((pc / L"a.bin").wstring().c_str())));
    EXPECT_EQ(kNoDevice, a->put_Name(CComBSTR(L"X.BIN")));
    EXPECT_EQ(kNoDevice, a->get_PlayIndex(&value));
    EXPECT_EQ(kNoDevice, a->put_PlayIndex(0));
    EXPECT_EQ(kNoDevice, a->get_DateLastModified(&date));
    EXPECT_EQ(0.0, date);
    EXPECT_EQ(kNoDevice, a->get_Channels(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(kNoDevice, a->get_Storage(&storage));
    EXPECT_EQ(kNoDevice, a->get_ParentFolder(&parent));
    EXPECT_EQ(kNoDevice, a->OpenFile(fmRead));
    EXPECT_EQ(kNoDevice, open->Read(AddressOf(buffer.data()), 10, &got));
    EXPECT_EQ(kNoDevice, open->Write(AddressOf(buffer.data()), 10));
    EXPECT_EQ(kNoDevice, open->CloseFile());
    EXPECT_EQ(L"No Device object or initialized inproperly.", LastError().first);
    EXPECT_FALSE(std::filesystem::exists(pc));

    ASSERT_EQ(S_OK, a->get_Size(&value));
    EXPECT_EQ(5000, value);
    EXPECT_EQ(E_NOTIMPL, a->put_Attributes(Normal));
    EXPECT_EQ(E_INVALIDARG, a->get_Name(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_Path(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_Attributes(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_Size(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_FileSystemID(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_DateCreated(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_Bitrate(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_PlayIndex(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_Storage(nullptr));
    EXPECT_EQ(E_INVALIDARG, a->get_ParentFolder(nullptr));
}
