// A folder object whose directory is a byte array in memory: Load reads the array into the entry
// buffer, the two write operations store the entry buffer back into it. The storage operations that
// move files are not part of these tests and answer "not supported".
#pragma once

#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "device/fs/fat_folder.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

class MemoryFolder : public engine::FatFolder {
public:
    explicit MemoryFolder(std::uint32_t capacity, std::uint32_t folderId = 7, std::uint32_t rootFlag = 0)
        : FatFolder(capacity, folderId, 1, rootFlag)
    {}

    std::vector<std::uint8_t> stored;  // the directory "on the medium"

    engine::EngineStatus Load() override
    {
        if (!Entries())
            return engine::kStatusStorageFull;
        std::memset(Entries(), 0, Capacity() * sizeof(engine::FatDirSlot));
        std::memcpy(Entries(), stored.data(), std::min<std::size_t>(stored.size(), Capacity() * 32));
        return engine::kStatusOk;
    }
    engine::EngineStatus WriteNewDirectory() override { return Store(); }
    engine::EngineStatus RewriteDirectory() override { return Store(); }
    engine::EngineStatus CreateSubfolder(const wchar_t*, std::uint32_t*) override
    {
        return engine::kStatusNotSupported;
    }
    engine::EngineStatus RenameEntry(std::uint32_t, const wchar_t*, std::uint32_t) override
    {
        return engine::kStatusNotSupported;
    }
    engine::EngineStatus DeleteFile(std::uint32_t) override { return engine::kStatusNotSupported; }
    engine::EngineStatus DownloadFile(const wchar_t*) override { return engine::kStatusNotSupported; }
    engine::EngineStatus UploadFile(std::uint32_t, const wchar_t*) override { return engine::kStatusNotSupported; }
    engine::EngineStatus MoveEntry(std::uint32_t, std::uint32_t, std::uint32_t) override
    {
        return engine::kStatusNotSupported;
    }
    engine::EngineStatus SetPlayIndex(std::uint32_t, std::uint32_t) override { return engine::kStatusNotSupported; }

    // What a store does to add a file: slots, a free run, a unique short name, the entry set.
    // Returns the short text, or an empty string when one of the steps fails.
    std::string AddEntry(const std::wstring& name, std::uint16_t id, std::uint32_t size = 0,
                         std::uint8_t attributes = engine::kAttrPlayerFile, std::time_t time = 1700000000)
    {
        const std::uint32_t count = EntryCountForName(name.c_str());
        const std::int32_t slot = FindFreeRun(count);
        char shortText[engine::kShortTextBytes];
        if (slot < 0 || MakeShortName(name.c_str(), shortText, sizeof shortText) != 0)
            return {};
        if (WriteEntrySet(std::uint32_t(slot), count, id, name.c_str(), shortText, attributes, size, time, time,
                          time) != 0)
            return {};
        return shortText;
    }

    // Every visible entry through the walk: (name, record id).
    std::vector<std::pair<std::wstring, std::uint16_t>> Walk()
    {
        std::vector<std::pair<std::wstring, std::uint16_t>> entries;
        engine::DirRecord record;
        for (std::int32_t r = FindFirst(&record); r == 0; r = FindNext(&record))
            entries.emplace_back(RecordName(record), record.firstCluster);
        return entries;
    }

    static std::wstring RecordName(const engine::DirRecord& record)
    {
        std::wstring name;
        for (std::size_t i = 0; i + 1 < sizeof record.name; i += 2) {
            const wchar_t c = wchar_t(record.name[i] | (record.name[i + 1] << 8));
            if (c == 0)
                break;
            name += c;
        }
        return name;
    }

private:
    engine::EngineStatus Store()
    {
        if (!Entries())
            return engine::kStatusStorageFull;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(Entries());
        stored.assign(bytes, bytes + Capacity() * 32);
        return engine::kStatusOk;
    }
};

}  // namespace test_support
