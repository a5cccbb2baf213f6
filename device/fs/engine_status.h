// Result codes of the storage engine, shared by every store and mapped to messages by the device API.
#pragma once

#include <cstdint>

namespace engine {

enum EngineStatus : std::uint32_t {
    kStatusOk = 0,
    kStatusFolderError = 1,  // also: entry not found, no room in a directory, refused in the recording folder
    kStatusFileError = 2,    // file not found or I/O error; also a stream not open in the needed mode
    kStatusStorageFull = 3,  // also out of memory
    kStatusUsbError = 4,
    kStatusNoStorage = 5,
    kStatusMbrError = 6,
    kStatusPartitionError = 7,
    kStatusWriteProtected = 8,
    kStatusNotSupported = 9,
    kStatusInvalidCard = 10,
    kStatusRecordFolder = 11,
    kStatusNameExists = 12,
};

}  // namespace engine
