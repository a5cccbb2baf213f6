// Memory in another process, for test programs that read a control of another process through its own
// messages: item records and text buffers must lie in the control's process (Wine carries no pointers
// across processes for these messages).
#pragma once

#include <windows.h>

namespace test_support {

// A block of memory in another process, freed at the end.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, SIZE_T size)
        : m_process(process), m_address(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE))
    {}
    ~RemoteBlock()
    {
        if (m_address != nullptr)
            VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    BYTE* Get() const { return static_cast<BYTE*>(m_address); }

private:
    HANDLE m_process;
    void* m_address;
};

// Whole copies into and out of another process: false unless every byte was moved.
inline bool WriteRemote(HANDLE process, void* to, const void* from, SIZE_T size)
{
    SIZE_T written = 0;
    return WriteProcessMemory(process, to, from, size, &written) && written == size;
}

inline bool ReadRemote(HANDLE process, const void* from, void* to, SIZE_T size)
{
    SIZE_T read = 0;
    return ReadProcessMemory(process, from, to, size, &read) && read == size;
}

}  // namespace test_support
