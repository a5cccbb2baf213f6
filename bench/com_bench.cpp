// The COM client of the benchmark: ZAVTCTRL.dll loaded into this process and its control made by the
// DLL's own class object (no registration), driven through the object model as a client would (the
// control's devices, the device's storages, the storage's root folder, folders and files), against a
// simulated player served in this process. The DLL holds its own copy of the engine; the player's
// counters see only what crosses the wire.
#include "bench/bench_common.h"

#include "platform/atl/atlbase.h"
#include "resources/zavtctrl.h"
#include "sim/sim_nand.h"
#include "sim/sim_sector_card.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
GetClassObjectFn g_getClassObject = nullptr;

std::wstring Text(const CComBSTR& s)
{
    return s.get() ? std::wstring(s.get(), s.Length()) : std::wstring();
}

// The control, the one device and one of its storages, with the player they reach.
class Session {
public:
    // storageType: 0 internal memory, 1 the card.
    HRESULT Open(long storageType)
    {
        CComPtr<IClassFactory> factory;
        HRESULT hr = g_getClassObject(CLSID_ZAVTControl, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr))
            return hr;
        if (FAILED(hr = factory->CreateInstance(nullptr, IID_IZAVTControl, reinterpret_cast<void**>(&control_))))
            return hr;
        CComPtr<IZAVTDeviceCollection> devices;
        if (FAILED(hr = control_->get_Devices(&devices)))
            return hr;
        long count = 0;
        if (FAILED(hr = devices->get_Count(&count)) || count != 1)
            return FAILED(hr) ? hr : E_FAIL;
        if (FAILED(hr = devices->get_Item(1, &device_)))
            return hr;
        CComPtr<IZAVTStorageCollection> storages;
        if (FAILED(hr = device_->get_Storages(&storages)) || FAILED(hr = storages->get_Count(&count)))
            return hr;
        for (long i = 1; i <= count && !storage_; ++i) {
            CComPtr<IZAVTStorage> storage;
            ZAVTStorageType type = ZAVTST_VOID;
            if (FAILED(hr = storages->get_Item(i, &storage)) || FAILED(hr = storage->get_Type(&type)))
                return hr;
            if (type == storageType)
                storage_ = storage;
        }
        if (!storage_)
            return E_FAIL;
        return storage_->get_RootFolder(&root_);
    }
    IZAVTFolder* Root() { return root_; }

private:
    CComPtr<IZAVTControl> control_;
    CComPtr<IZAVTDevice> device_;
    CComPtr<IZAVTStorage> storage_;
    CComPtr<IZAVTFolder> root_;
};

// The folder's subfolders or files by name.
template <class Collection, class Item>
HRESULT ByName(Collection* collection, std::map<std::wstring, CComPtr<Item>>& out)
{
    long count = 0;
    HRESULT hr = collection->get_Count(&count);
    for (long i = 1; SUCCEEDED(hr) && i <= count; ++i) {
        CComPtr<Item> item;
        CComBSTR name;
        if (SUCCEEDED(hr = collection->get_Item(i, &item)) && SUCCEEDED(hr = item->get_Name(&name)))
            out[Text(name)] = item;
    }
    return hr;
}

HRESULT SubFolders(IZAVTFolder* folder, std::map<std::wstring, CComPtr<IZAVTFolder>>& out)
{
    CComPtr<IZAVTFolderCollection> list;
    const HRESULT hr = folder->get_SubFolders(&list);
    return FAILED(hr) ? hr : ByName(list.get(), out);
}

HRESULT Files(IZAVTFolder* folder, std::map<std::wstring, CComPtr<IZAVTFile>>& out)
{
    CComPtr<IZAVTFileCollection> list;
    const HRESULT hr = folder->get_Files(&list);
    return FAILED(hr) ? hr : ByName(list.get(), out);
}

std::string Utf8(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// ---- plug-in to first listing ----

std::uint32_t Le16(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p)
{
    return Le16(p) | (Le16(p + 2) << 16);
}

// Sectors of the card's volume the host must read to mount it and list its root: the master boot
// record, the boot sector, one whole FAT (the free space is counted from it) and the root directory.
// Nothing when `head` (the card's first sectors) holds no volume.
std::optional<std::uint64_t> VolumeFloorSectors(const std::vector<std::uint8_t>& head)
{
    if (head.size() < 512)
        return std::nullopt;
    const std::uint64_t boot = std::uint64_t{Le32(head.data() + 454)} * 512;
    if (boot + 512 > head.size())
        return std::nullopt;
    const std::uint8_t* b = head.data() + boot;
    return 2 + std::uint64_t{Le16(b + 22)} + (std::uint64_t{Le16(b + 17)} * 32 + 511) / 512;
}

// Spare records of every erase block of the player's chips (the card chip included): 16 bytes each,
// the least the host reads to find its blocks.
std::uint64_t SpareFloorBytes(const sim::PlayerConfig& config)
{
    std::uint64_t bytes = 0;
    for (const auto& [maker, device] : config.nandIds) {
        if (const auto g = sim::GeometryForId(maker, device))
            bytes += std::uint64_t{g->rows} * 256 / g->sectorsPerBlock * 16;
    }
    return bytes;
}

struct Card {
    const char* kind;
    int model;
    std::uint8_t nandDevice;    // NAND-type card: the card chip's device code (maker 0xEC)
    std::uint32_t sectors;      // MMC/SD card: its 512-byte sectors
    std::uint64_t Bytes() const
    {
        if (sectors)
            return std::uint64_t{sectors} * 512;
        const auto g = sim::GeometryForId(0xEC, nandDevice);
        return g ? std::uint64_t{g->rows} * 128 * 1024 : 0;
    }
};

bool PlugInRow(const Card& card)
{
    const std::string title = std::string(card.kind) + " " + std::to_string(card.Bytes() >> 20) + " MiB (" +
                              std::to_string(card.model) + ")";
    auto fail = [&](const char* what, long code) { return Fail("COM", what, title.c_str(), code); };
    sim::TestPlayer player(card.model);
    if (!player.Ok())
        return fail("starting the simulated player", 0);
    const bool inserted = card.sectors ? player.Player().InsertSectorCard(card.sectors)
                                       : player.Player().InsertNandCard(0xEC, card.nandDevice);
    if (!inserted)
        return fail("inserting the card", 0);
    std::optional<std::vector<std::uint8_t>> head =
        card.sectors ? sim::FormattedSectorCardHead(card.sectors) : player.Player().ExportCard();
    const std::optional<std::uint64_t> volume = head ? VolumeFloorSectors(*head) : std::nullopt;
    if (!volume)
        return fail("reading the card's volume", 0);
    const std::uint64_t floor = 64 + SpareFloorBytes(player.Player().Config()) + *volume * 512;

    Phase plugIn;
    HRESULT hr = S_OK;
    const char* step = "identification and the card's storage";
    long entries = 0;
    const DWORD wallStart = GetTickCount();
    const bool listed = MeasurePhase(player, plugIn, [&] {
        Session session;
        if (FAILED(hr = session.Open(1)))
            return false;
        CComPtr<IZAVTFolderCollection> folders;
        CComPtr<IZAVTFileCollection> files;
        long n = 0;
        step = "listing the root's folders";
        if (FAILED(hr = session.Root()->get_SubFolders(&folders)) || FAILED(hr = folders->get_Count(&n)))
            return false;
        entries += n;
        step = "listing the root's files";
        if (FAILED(hr = session.Root()->get_Files(&files)) || FAILED(hr = files->get_Count(&n)))
            return false;
        entries += n;
        return true;
    });
    const double wall = (GetTickCount() - wallStart) / 1e3;
    if (!listed)
        return fail(step, hr);
    const sim::RunCost& cost = plugIn.cost;
    const sim::DeviceTime time = cost.Time();
    const double modelled = time.Microseconds() / 1e6;
    const double floorSeconds = static_cast<double>(floor) / static_cast<double>(sim::kUsbMostBytesPerSecond);
    std::printf("%-24s %5ld %9llu %9llu %9llu %7llu %7llu %7llu %8.3f %7.3f %7.3f %6.3f %6.2f %6.2f\n", title.c_str(),
                entries, static_cast<unsigned long long>(cost.wire.bytesIn), static_cast<unsigned long long>(floor),
                static_cast<unsigned long long>(cost.wire.hostWrites + cost.wire.hostReads),
                static_cast<unsigned long long>(cost.nand.spareReads),
                static_cast<unsigned long long>(cost.nand.pageReads + cost.nand.cardSectorsRead),
                static_cast<unsigned long long>(*volume), modelled, time.UsbMicroseconds() / 1e6, floorSeconds,
                floorSeconds / modelled, plugIn.cpuSeconds, wall);
    std::fflush(stdout);
    return true;
}

}  // namespace

bool LoadServer()
{
    std::wstring path = L"Z:";
    for (const char c : std::string(KWEP_ZAVTCTRL_PATH))
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "transfer_bench: CoInitializeEx failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }
    // Kept loaded until the process ends.
    const HMODULE dll = LoadLibraryW(path.c_str());
    if (dll)
        g_getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (!g_getClassObject) {
        std::fprintf(stderr, "transfer_bench: cannot load %ls (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    return true;
}

bool RunComWorkload(Workload& w, const fs::path& temp, Run& run)
{
    auto fail = [&](const char* what, long code) { return Fail("COM", what, w.title, code); };
    sim::TestPlayer player(kModel);
    if (!player.Ok())
        return fail("starting the simulated player", 0);
    if (const std::uint32_t status = WriteInternalRoot())
        return fail("writing the internal root", static_cast<long>(status));

    Session session;
    HRESULT hr = session.Open(0);
    if (FAILED(hr))
        return fail("reaching the internal storage's root", hr);
    for (const std::wstring& name : w.folders) {
        if (FAILED(hr = session.Root()->CreateSubfolder(CComBSTR(name.c_str()))))
            return fail("creating a folder", hr);
    }
    std::map<std::wstring, CComPtr<IZAVTFolder>> folders;
    if (FAILED(hr = SubFolders(session.Root(), folders)))
        return fail("listing the root's folders", hr);
    folders[L""] = session.Root();
    for (const std::wstring& name : w.folders) {
        if (!folders.count(name))
            return fail(("finding folder " + Utf8(name)).c_str(), 0);
    }
    const std::uint64_t payload = WritePcFiles(w, temp);
    if (payload == 0)
        return fail("writing a PC file", 0);

    run.down.payload = run.up.payload = payload;
    const bool downloaded = MeasurePhase(player, run.down, [&] {
        for (const PcFile& f : w.files) {
            if (FAILED(hr = folders[f.folder]->Download(CComBSTR(f.Source(temp).wstring().c_str()))))
                return false;
        }
        return true;
    });
    if (!downloaded)
        return fail("a download", hr);

    // The file objects, listed folder by folder.
    std::map<std::wstring, std::map<std::wstring, CComPtr<IZAVTFile>>> files;
    for (auto& [name, folder] : folders) {
        if (FAILED(hr = Files(folder, files[name])))
            return fail("listing a folder's files", hr);
    }
    for (const PcFile& f : w.files) {
        if (!files[f.folder].count(f.name))
            return fail(("finding " + Utf8(f.name)).c_str(), 0);
    }

    const bool uploaded = MeasurePhase(player, run.up, [&] {
        for (const PcFile& f : w.files) {
            if (FAILED(hr = files[f.folder][f.name]->UploadTo(CComBSTR(f.Upload(temp).wstring().c_str()))))
                return false;
        }
        return true;
    });
    if (!uploaded)
        return fail("an upload", hr);
    return CheckUploads(w, temp) || fail("comparing an upload with its download", 0);
}

bool RunPlugInRows()
{
    // The NAND-type card chips go up to 1024 rows (128 MiB); the host reads a sector card's size in
    // 32 bits, so 2 GiB is the largest it takes.
    const Card cards[] = {
        {"NAND-type", kModel, 0x76, 0},        {"NAND-type", kModel, 0x79, 0},
        {"MMC/SD", 10, 0, 64u << 11},          {"MMC/SD", 10, 0, 512u << 11},
        {"MMC/SD", 10, 0, 4194304},
    };
    std::printf("\n# Plug-in to first listing: a control made, its device's storages (identification with the card's\n"
                "# mount), the card's root folder and both its listings; a fresh player with a freshly formatted card.\n"
                "# floor = the information block, a 16-byte spare record per erase block of every chip, the card's\n"
                "# boot record, boot sector, one FAT and root directory (floor sectors), at the bus rate; sectors read\n"
                "# counts the card's pages and sectors sent; wall = this run under Wine.\n");
    std::printf("%-24s %5s %9s %9s %9s %7s %7s %7s %8s %7s %7s %6s %6s %6s\n", "card (model)", "items", "bytes in",
                "floor", "transfers", "spares", "sectors", "floor", "modelled", "bus", "floor", "effic.", "CPU", "wall");
    std::printf("%-24s %5s %9s %9s %9s %7s %7s %7s %8s %7s %7s %6s %6s %6s\n", "", "", "", "bytes", "", "read", "read",
                "sectors", "s", "s", "s", "", "s", "s");
    bool ok = true;
    for (const Card& card : cards)
        ok = PlugInRow(card) && ok;
    return ok;
}

}  // namespace bench
