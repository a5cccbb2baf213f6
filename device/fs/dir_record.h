// The record in which every folder walk hands one file or folder to the object model.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

#pragma pack(push, 1)
struct DirRecord {
    // NUL-terminated; UTF-16LE from a folder-object walk, ANSI from the legacy store and the card
    // volume of the older models. Zeroed by the walk before the name goes in.
    std::uint8_t name[1024];
    // From here on, the bytes of the short directory entry from its attribute byte on.
    std::uint8_t attributes;
    std::uint8_t reserved;
    std::uint8_t createTenths;
    std::uint16_t createTime;
    std::uint16_t createDate;
    std::uint16_t accessDate;
    std::uint8_t unused1;  // never written
    std::uint16_t firstClusterHigh;
    std::uint16_t writeTime;
    std::uint16_t writeDate;
    std::uint16_t firstCluster;  // the record id (FileSystemID of the object model)
    std::uint16_t unused2;       // never written
    std::uint32_t size;
};
#pragma pack(pop)

static_assert(sizeof(DirRecord) == 1048);
static_assert(offsetof(DirRecord, attributes) == 1024);
static_assert(offsetof(DirRecord, createTenths) == 1026);
static_assert(offsetof(DirRecord, createDate) == 1029);
static_assert(offsetof(DirRecord, accessDate) == 1031);
static_assert(offsetof(DirRecord, firstClusterHigh) == 1034);
static_assert(offsetof(DirRecord, writeTime) == 1036);
static_assert(offsetof(DirRecord, writeDate) == 1038);
static_assert(offsetof(DirRecord, firstCluster) == 1040);
static_assert(offsetof(DirRecord, size) == 1044);

}  // namespace engine
