#include "manager/device/file_item.h"

#include <utility>

CFileItem::CFileItem(const CFileItem& other)
    : kind(other.kind),
      name(other.name),
      path(other.path),
      folder(other.folder),
      file(other.file),
      information(other.information),
      playedMark(other.playedMark),
      transferState(other.transferState),
      hasSubfolders(other.hasSubfolders)
{
    // A text that could not be duplicated leaves both texts empty rather than half a record.
    const bool nameLost = other.name.get() && !name.get();
    const bool pathLost = other.path.get() && !path.get();
    if (nameLost || pathLost || !other.textsCopied_) {
        name = CComBSTR();
        path = CComBSTR();
        textsCopied_ = false;
    }
}

CFileItem::CFileItem(CFileItem&& other) noexcept
{
    Swap(other);
}

CFileItem& CFileItem::operator=(const CFileItem& other)
{
    CFileItem copy(other);
    Swap(copy);
    return *this;
}

CFileItem& CFileItem::operator=(CFileItem&& other) noexcept
{
    CFileItem taken(std::move(other));
    Swap(taken);
    return *this;
}

void CFileItem::Swap(CFileItem& other) noexcept
{
    std::swap(kind, other.kind);
    std::swap(name, other.name);
    std::swap(path, other.path);
    folder.Swap(other.folder);
    file.Swap(other.file);
    std::swap(information, other.information);
    std::swap(playedMark, other.playedMark);
    std::swap(transferState, other.transferState);
    std::swap(hasSubfolders, other.hasSubfolders);
    std::swap(textsCopied_, other.textsCopied_);
}

UINT FileItemFinishedTextId(std::int32_t transferState)
{
    switch (transferState) {
    case kTransferFailed:
        return IDS_TRANSFER_ERROR;
    case kTransferSkipped:
        return IDS_TRANSFER_CANCELLED;
    default:
        return IDS_TRANSFER_COMPLETE;
    }
}
