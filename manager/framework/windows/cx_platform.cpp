#include "manager/framework/windows/cx_platform.h"

#include "manager/framework/windows/cx_string.h"

#include <atomic>
#include <cstdarg>
#include <cwchar>

namespace {

std::atomic<CxFatalErrorHook> g_fatalHook{nullptr};

}  // namespace

int CxW2ALength(const wchar_t* text)
{
    if (text == nullptr)
        return 0;
    return WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
}

char* CxW2ANew(const wchar_t* text, int bytes)
{
    if (text == nullptr)
        return nullptr;
    if (bytes == -1)
        bytes = CxW2ALength(text);
    if (bytes <= 0)
        return nullptr;
    auto* buffer = static_cast<char*>(CxAlloc(static_cast<size_t>(bytes)));
    if (buffer == nullptr)
        return nullptr;
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, bytes, nullptr, nullptr) == 0) {
        CxFree(buffer);
        return nullptr;
    }
    buffer[bytes - 1] = 0;
    return buffer;
}

wchar_t* CxA2WNew(const char* text, int characters)
{
    if (text == nullptr)
        return nullptr;
    if (characters == -1)
        characters = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (characters <= 0)
        return nullptr;
    auto* buffer = static_cast<wchar_t*>(CxAlloc(static_cast<size_t>(characters) * sizeof(wchar_t)));
    if (buffer == nullptr)
        return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, characters) == 0) {
        CxFree(buffer);
        return nullptr;
    }
    buffer[characters - 1] = 0;
    return buffer;
}

HRESULT CxReadModulePath(CxString* path)
{
    if (path == nullptr)
        return E_INVALIDARG;
    path->Empty();
    constexpr DWORD kRoom = 1024;
    if (CxIsNtPlatform()) {
        CxHeapPtr<wchar_t> buffer(static_cast<wchar_t*>(CxAlloc(kRoom * sizeof(wchar_t))));
        if (!buffer)
            return E_OUTOFMEMORY;
        const DWORD length = GetModuleFileNameW(nullptr, buffer.get(), kRoom);
        if (length == 0 || length >= kRoom)
            return E_UNEXPECTED;
        buffer.get()[length] = 0;
        path->Attach(buffer.release());
        return S_OK;
    }
    CxHeapPtr<char> buffer(static_cast<char*>(CxAlloc(kRoom)));
    if (!buffer)
        return E_OUTOFMEMORY;
    const DWORD length = GetModuleFileNameA(nullptr, buffer.get(), kRoom);
    if (length == 0 || length >= kRoom)
        return E_UNEXPECTED;
    buffer.get()[length] = 0;
    wchar_t* wide = CxA2WNew(buffer.get());
    if (wide == nullptr)
        return E_OUTOFMEMORY;
    path->Attach(wide);
    return S_OK;
}

HRESULT CxKeptReading::Copy(CxString* out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    std::call_once(m_once, [this] { m_result = m_reader != nullptr ? m_reader(&m_text) : E_UNEXPECTED; });
    out->Empty();
    if (FAILED(m_result))
        return m_result;
    return out->Assign(m_text);
}

HRESULT CxGetModuleFolder(CxString* path)
{
    if (path == nullptr)
        return E_INVALIDARG;
    static CxKeptReading kept(CxReadModulePath);
    return kept.Copy(path);
}

const wchar_t* CxRangeErrorFormat()
{
    return L"index [%d] is out of range [0-%d]\n\n";
}

CxFatalErrorHook CxSetFatalErrorHook(CxFatalErrorHook hook)
{
    return g_fatalHook.exchange(hook);
}

void CxFatalError(const wchar_t* format, ...)
{
    wchar_t message[1024] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(message, 1023, format, args);
    va_end(args);

    CxFatalErrorHook hook = g_fatalHook.load();
    if (hook != nullptr)
        hook(message);
    else
        MessageBoxW(nullptr, message, nullptr, MB_ICONERROR | MB_OK | MB_TASKMODAL);
    ExitProcess(3);
}
