// A simulated folder-object player with its internal root directory made and loaded, and helpers to
// list folders and count blocks.
#pragma once

#include "tests/device/fs/legacy/legacy_fixture.h"

#include "device/fs/engine_status.h"
#include "device/fs/internal/internal_folder.h"

#include <memory>
#include <string>
#include <vector>

namespace internaltest {

using namespace legacytest;

struct Entry {
    std::wstring name;
    std::uint32_t id = 0;
    std::uint8_t attributes = 0;
    std::uint32_t size = 0;
    bool operator==(const Entry&) const = default;
};

inline std::vector<Entry> List(engine::FatFolder& folder)
{
    std::vector<Entry> out;
    engine::DirRecord r;
    for (std::int32_t s = folder.FindFirst(&r); s == 0; s = folder.FindNext(&r))
        out.push_back({reinterpret_cast<const wchar_t*>(r.name), r.firstCluster, r.attributes, r.size});
    return out;
}

inline std::vector<std::wstring> Names(engine::FatFolder& folder)
{
    std::vector<std::wstring> out;
    for (const Entry& e : List(folder))
        out.push_back(e.name);
    return out;
}

inline bool Has(engine::FatFolder& folder, const std::wstring& name)
{
    for (const Entry& e : List(folder)) {
        if (e.name == name)
            return true;
    }
    return false;
}

inline std::uint32_t IdOf(engine::FatFolder& folder, const std::wstring& name)
{
    for (const Entry& e : List(folder)) {
        if (e.name == name)
            return e.id;
    }
    ADD_FAILURE() << "no entry named " << std::string(name.begin(), name.end());
    return 0;
}

// Sets the cancel flag at the given progress step, as CancelOperation would from another thread.
class CancelAtStep : public ProgressRecorder {
public:
    explicit CancelAtStep(std::uint32_t step) : step_(step) {}
    void FireProgress() override
    {
        ++fired;
        if (step_ != 0 && counters_.done >= step_)
            engine::Engine.CancelRequested.store(1);
    }

private:
    std::uint32_t step_;
};

struct SinkScope {
    explicit SinkScope(engine::ProgressSink* sink) { engine::SetProgressSink(sink); }
    ~SinkScope() { engine::SetProgressSink(nullptr); }
};

// A fresh player of a folder-object model with an empty root directory written and loaded.
struct InternalPlayer {
    explicit InternalPlayer(int model) : lp(model)
    {
        if (!lp.Ready())
            return;
        root = std::make_unique<engine::InternalFolder>(engine::Engine.InternalRootEntries, 1, 1, 1);
        if (root->Load() != engine::kStatusFolderError)
            return;
        // A fresh medium has no root directory: it gets an empty one.
        engine::LegacyStore.freeBlockCount = engine::LegacyCountFreeBlocks();
        if (root->WriteNewDirectory() != engine::kStatusOk || root->Load() != engine::kStatusOk)
            return;
        blockBytes = root->GetBlockBytes();
        ready = blockBytes != 0;
    }

    std::unique_ptr<engine::InternalFolder> Open(std::uint32_t id)
    {
        auto f = std::make_unique<engine::InternalFolder>(engine::Engine.InternalFolderEntries, id, 1, 0);
        EXPECT_EQ(f->Load(), engine::kStatusOk) << "folder " << id;
        return f;
    }
    // The root as a later session finds it on the medium.
    std::unique_ptr<engine::InternalFolder> ReloadRoot()
    {
        auto f = std::make_unique<engine::InternalFolder>(engine::Engine.InternalRootEntries, 1, 1, 1);
        EXPECT_EQ(f->Load(), engine::kStatusOk);
        return f;
    }
    // Erased blocks as the host's copy of the spare records tells them.
    std::uint32_t FreeBlocks() const { return engine::LegacyCountFreeBlocks(); }
    std::uint32_t Blocks(std::size_t bytes) const
    {
        return static_cast<std::uint32_t>((bytes + blockBytes - 1) / blockBytes);
    }

    LegacyPlayer lp;
    std::unique_ptr<engine::InternalFolder> root;
    std::uint32_t blockBytes = 0;
    bool ready = false;
};

}  // namespace internaltest
