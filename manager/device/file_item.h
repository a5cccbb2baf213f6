// The record behind every row of the manager's file lists and every entry of a transfer batch: a file or
// a folder, on the player (with the device API's object for it) or on the PC (by path).
#pragma once

#include "platform/atl/atlbase.h"
#include "resources/zavtctrl.h"

#include <windows.h>

#include <cstdint>

// The times, size, attribute and full name of an item, laid out as the framework's file status record.
// Player items fill only the size.
struct FileItemStatus {
    std::int32_t creationTime = 0;      // seconds since 1 January 1970, UTC
    std::int32_t modificationTime = 0;
    std::int32_t accessTime = 0;
    std::uint32_t size = 0;             // bytes; the device API's 32-bit figure read unsigned
    std::uint8_t attribute = 0;
    char fullName[MAX_PATH] = {};       // zero-terminated
};
static_assert(sizeof(FileItemStatus) == 280, "the file status record's layout");

enum FileItemKind : std::int32_t { kFileItemFile = 0, kFileItemFolder = 1 };

// Where a record stands inside a running batch (0 outside one).
enum FileTransferState : std::int32_t {
    kTransferIdle = 0,
    kTransferQueued = 4,
    kTransferErasing = 16,
    kTransferDownloading = 32,
    kTransferUploading = 64,
    kTransferFailed = 128,
    kTransferSkipped = 256,
};

class CFileItem {
public:
    CFileItem() = default;
    CFileItem(const CFileItem& other);
    CFileItem(CFileItem&& other) noexcept;
    // Copies into a temporary first and swaps, so assigning a record to itself keeps it whole.
    CFileItem& operator=(const CFileItem& other);
    CFileItem& operator=(CFileItem&& other) noexcept;
    ~CFileItem() = default;

    void Swap(CFileItem& other) noexcept;

    // False when a text of the record could not be copied (out of memory): the copy holds no texts then.
    bool TextsCopied() const { return textsCopied_; }

    std::int32_t kind = kFileItemFile;
    CComBSTR name;
    CComBSTR path;
    CComPtr<IZAVTFolder> folder;
    CComPtr<IZAVTFile> file;
    FileItemStatus information;
    std::int32_t playedMark = 0;
    std::int32_t transferState = kTransferIdle;
    std::int32_t hasSubfolders = 0;

private:
    bool textsCopied_ = true;
};

// The status-line text id of a finished record by its transfer state: "Error", "Cancelled" or "Complete".
constexpr UINT IDS_TRANSFER_ERROR = 62326;
constexpr UINT IDS_TRANSFER_CANCELLED = 62327;
constexpr UINT IDS_TRANSFER_COMPLETE = 62309;
UINT FileItemFinishedTextId(std::int32_t transferState);
