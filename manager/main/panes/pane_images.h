// The images the panes share, owned by the main window and lent to each pane: the system's small-icon
// image list (row and tree icons are its indexes), the small-icon size, and the folder overlay icon.
#pragma once

#include <windows.h>
#include <commctrl.h>

class CPaneImages {
public:
    CPaneImages();
    ~CPaneImages();
    CPaneImages(const CPaneImages&) = delete;
    CPaneImages& operator=(const CPaneImages&) = delete;

    // The system's small-icon image list (not ours to destroy); fetched on first use and again after a
    // failed attempt; null while the shell cannot give it.
    HIMAGELIST SystemSmallImageList();
    // SM_CXSMICON by SM_CYSMICON, read once.
    SIZE SmallIconSize() const { return m_smallIcon; }
    // The overlay drawn over folders that hold subfolders (small icon of icon group 240 of the program's
    // file), loaded on first use; null when it cannot be loaded.
    HICON FolderOverlayIcon();

private:
    HIMAGELIST m_system = nullptr;
    SIZE m_smallIcon{};
    HICON m_overlay = nullptr;
    bool m_overlayTried = false;
};

// The small-icon size of the shared images, or the system's when a pane has none lent to it.
inline SIZE PaneSmallIconSize(const CPaneImages* images)
{
    if (images != nullptr)
        return images->SmallIconSize();
    return SIZE{GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)};
}
