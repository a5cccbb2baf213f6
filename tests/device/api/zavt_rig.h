// What the in-process tests of the device API's objects share: PC files of known bytes, the thread's
// error information, a sink that records the control's events, and a control with its device and the
// simulated player behind them.
#pragma once

#include "device/api/device_context.h"
#include "device/api/zavt_control.h"
#include "device/api/zavt_device.h"
#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"
#include "sim/simulated_player.h"
#include "tests/device/api/internal_root.h"
#include "tests/support/pc_file_bytes.h"
#include "tests/support/unix_shell.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using test_support::Bytes;
using test_support::ReadFile;
using test_support::WriteFile;

inline Bytes Pattern(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

inline std::wstring Text(BSTR s)
{
    return s ? std::wstring(s, SysStringLen(s)) : std::wstring();
}

// The thread's error information as description and source.
inline std::pair<std::wstring, std::wstring> LastError()
{
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return {};
    CComBSTR description, source;
    info->GetDescription(&description);
    info->GetSource(&source);
    return {Text(description), Text(source)};
}

// A sink of the control's events kept by its test (no reference counting): each event goes to OnEvent.
class EventSink : public IDispatch {
public:
    virtual ~EventSink() = default;
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IZAVTControlEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();  // the connection point releases what it asked for: the count must stay whole
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // Counted, not owned: the test keeps the sink, but the control's own references (the advise, and the
    // one it takes around each call on a worker) must be gone before the sink may go.
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++held_) + 1; }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(--held_) + 1; }
    // After the unadvise: waits out a worker that has called the sink and not yet released it.
    void WaitUntilReleased() const
    {
        while (held_.load() > 0)
            SwitchToThread();
    }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        OnEvent(id, *params);
        return S_OK;
    }

protected:
    // The event's first argument is an object, not null.
    static bool CarriesObject(const DISPPARAMS& params)
    {
        const VARIANT* first = params.cArgs ? &params.rgvarg[params.cArgs - 1] : nullptr;
        return first && first->vt == VT_DISPATCH && first->pdispVal != nullptr;
    }
    virtual void OnEvent(DISPID id, const DISPPARAMS& params) = 0;

private:
    std::atomic<long> held_{0};
};

// Records the DISPIDs of the control's events and whether their object argument was null.
class EventLog : public EventSink {
public:
    // The events without the DownloadFilePercent ones, which must each lie between a DownloadFileStart and
    // its DownloadFileEnd (a 0 in place of the first that does not).
    std::vector<DISPID> Outline() const
    {
        std::vector<DISPID> outline;
        bool downloading = false;
        for (DISPID id : ids) {
            if (id == 12) {
                if (!downloading)
                    outline.push_back(0);
                continue;
            }
            downloading = id == 10 ? true : id == 11 ? false : downloading;
            outline.push_back(id);
        }
        return outline;
    }
    std::vector<DISPID> ids;
    bool objects = false;

protected:
    void OnEvent(DISPID id, const DISPPARAMS& params) override
    {
        ids.push_back(id);
        objects = objects || CarriesObject(params);
    }
};

inline bool Holds(const std::vector<std::wstring>& names, const wchar_t* name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A model with one small internal chip: identification reads every block's spare record, and a format
// erases every block.
inline sim::PlayerConfig SmallPlayer(int model)
{
    sim::PlayerConfig config = sim::DefaultConfig(model);
    for (int i = 1; i < sim::ModelChipSlots(model); ++i)
        config.nandIds[i] = {0, 0};
    config.nandIds[0] = {0xEC, 0xE6};
    return config;
}

// A control, its device and the player behind them.
class DeviceRig {
public:
    // card: 0 none, 1 (or true) a NAND-type card, 2 an MMC/SD card.
    explicit DeviceRig(int model, int card = 0, bool internalRoot = false)
        : DeviceRig(sim::DefaultConfig(model), card, internalRoot)
    {}
    explicit DeviceRig(const sim::PlayerConfig& config, int card = 0, bool internalRoot = false) : player_(config)
    {
        _Module.Init(nullptr, GetModuleHandleW(nullptr));
        if (!player_.Ok())
            return;
        if (card == 1 && !player_.Player().InsertNandCard(0xEC, 0x73))
            return;
        if (card == 2 && !player_.Player().InsertSectorCard(32768))
            return;
        if (internalRoot && !MakeInternalRoot())
            return;
        if (FAILED(CComObject<CZAVTControl>::CreateInstance(&controlObject_)))
            return;
        control_ = static_cast<IZAVTControl*>(controlObject_);
        CComPtr<IZAVTDeviceCollection> devices;
        if (control_->get_Devices(&devices) != S_OK || !devices)
            return;
        long count = 0;
        if (devices->get_Count(&count) != S_OK || count != 1)
            return;
        ok_ = devices->get_Item(1, &device_) == S_OK && device_;
    }
    ~DeviceRig()
    {
        device_.Release();
        control_.Release();
    }

    bool ok() const { return ok_; }
    IZAVTDevice* device() { return device_; }
    IZAVTControl* control() { return control_; }
    CZAVTControl* controlObject() { return controlObject_; }
    sim::TestPlayer& player() { return player_; }
    void DropControl() { control_.Release(); }
    CComBSTR Pc(const wchar_t* name, const Bytes& bytes)
    {
        WriteFile(pc_.File(name), bytes);
        return CComBSTR(pc_.File(name).wstring().c_str());
    }
    std::filesystem::path PcPath(const wchar_t* name) const { return pc_.File(name); }
    std::shared_ptr<DeviceContext> Context() const { return DeviceContext::Current(); }
    // The names in the storage's current folder.
    std::vector<std::wstring> Names(std::uint32_t storage = 0)
    {
        std::vector<std::wstring> out;
        auto context = Context();
        engine::DirRecord r;
        for (std::int32_t s = storage ? context->FindFirstExternal(&r) : context->FindFirstInternal(&r); s == 0;
             s = storage ? context->FindNextExternal(&r) : context->FindNextInternal(&r)) {
            if (context->UsesFolderObjects()) {
                // A subfolder's own "." and ".." entries are not its contents.
                if (r.name[0] != '.')
                    out.emplace_back(reinterpret_cast<const wchar_t*>(r.name));
            } else {
                std::string n(reinterpret_cast<const char*>(r.name));
                out.emplace_back(n.begin(), n.end());
            }
        }
        return out;
    }

private:
    test_support::PrivateTemp temp_;
    sim::TestPlayer player_;
    test_support::TempFolder pc_;
    CComObject<CZAVTControl>* controlObject_ = nullptr;
    CComPtr<IZAVTControl> control_;
    CComPtr<IZAVTDevice> device_;
    bool ok_ = false;
};

// The device's storage of a type, or null.
inline CComPtr<IZAVTStorage> StorageOf(DeviceRig& rig, ZAVTStorageType type)
{
    CComPtr<IZAVTStorageCollection> storages;
    if (rig.device()->get_Storages(&storages) != S_OK)
        return nullptr;
    long count = 0;
    storages->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        CComPtr<IZAVTStorage> storage;
        ZAVTStorageType t = ZAVTST_VOID;
        if (storages->get_Item(i, &storage) == S_OK && storage->get_Type(&t) == S_OK && t == type)
            return storage;
    }
    return nullptr;
}

}  // namespace
