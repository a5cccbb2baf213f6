// The session's sink of the control's 15 events: an IDispatch of our own. Events raised on the thread
// that made the sink reach the session's handlers at once; events raised on any other thread (the device
// API raises them on the thread that runs the operation) are posted to that thread and handled there.
#pragma once

#include "platform/atl/atlbase.h"
#include "resources/zavtctrl.h"

#include <windows.h>

class CDeviceSession;

// The private message that carries a posted event to the sink's window.
constexpr UINT WM_DEVICE_EVENT = WM_APP + 0x2101;

class DeviceEventSink final : public IDispatch {
public:
    // A sink for the session, with its window on the calling thread; null when the window cannot be made.
    static DeviceEventSink* Create(CDeviceSession* session);
    // The session is going: later events are dropped, queued ones are released unhandled and the window
    // is destroyed. On the thread that made the sink.
    void Detach();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

private:
    struct Event {
        DISPID id = 0;
        CComPtr<IZAVTFile> file;
        CComPtr<IZAVTStorage> storage;
        long first = 0;
        long second = 0;
    };

    DeviceEventSink() = default;
    ~DeviceEventSink();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HRESULT Deliver(const Event& event);
    void DiscardQueued();

    volatile LONG refs_ = 1;
    CRITICAL_SECTION lock_;  // the session pointer against posts from other threads
    CDeviceSession* session_ = nullptr;
    HWND window_ = nullptr;
    DWORD thread_ = 0;
};
