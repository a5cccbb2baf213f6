// Builds in-memory dialog templates for tests (DLGTEMPLATE with DLGITEMTEMPLATE items).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, const wchar_t* title)
    {
        PutDword(style | DS_SETFONT);
        PutDword(0);  // extended style
        m_countAt = m_bytes.size();
        PutWord(0);  // item count, filled in by AddItem
        PutWord(10);
        PutWord(10);
        PutWord(static_cast<WORD>(cx));
        PutWord(static_cast<WORD>(cy));
        PutWord(0);  // no menu
        PutWord(0);  // the dialog class
        PutText(title);
        PutWord(8);  // font size
        PutText(L"MS Shell Dlg");
    }

    // className: a predefined class atom (0x0080 button, 0x0081 edit, 0x0082 static).
    void AddItem(WORD classAtom, WORD id, DWORD style, short x, short y, short cx, short cy, const wchar_t* text)
    {
        Align();
        PutDword(style | WS_CHILD | WS_VISIBLE);
        PutDword(0);
        PutWord(static_cast<WORD>(x));
        PutWord(static_cast<WORD>(y));
        PutWord(static_cast<WORD>(cx));
        PutWord(static_cast<WORD>(cy));
        PutWord(id);
        PutWord(0xFFFF);
        PutWord(classAtom);
        PutText(text);
        PutWord(0);  // no creation data
        WORD count;
        std::memcpy(&count, &m_bytes[m_countAt], sizeof(count));
        ++count;
        std::memcpy(&m_bytes[m_countAt], &count, sizeof(count));
    }

    LPCDLGTEMPLATEW Get()
    {
        m_aligned.assign((m_bytes.size() + 3) / 4, 0);
        std::memcpy(m_aligned.data(), m_bytes.data(), m_bytes.size());
        return reinterpret_cast<LPCDLGTEMPLATEW>(m_aligned.data());
    }

private:
    void PutWord(WORD w)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(&w);
        m_bytes.insert(m_bytes.end(), p, p + sizeof(w));
    }
    void PutDword(DWORD d)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(&d);
        m_bytes.insert(m_bytes.end(), p, p + sizeof(d));
    }
    void PutText(const wchar_t* text)
    {
        for (const wchar_t* c = text; c != nullptr && *c != 0; ++c)
            PutWord(static_cast<WORD>(*c));
        PutWord(0);
    }
    void Align()
    {
        while (m_bytes.size() % 4 != 0)
            m_bytes.push_back(0);
    }

    std::vector<uint8_t> m_bytes;
    std::vector<uint32_t> m_aligned;
    size_t m_countAt = 0;
};

// Pumps what waits in this thread's queue.
inline void PumpWaiting()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
