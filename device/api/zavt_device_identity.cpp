// The device object's identity records in the player's system dump (PersonalID, MarkID, serial number)
// and its unique id, and the session handshake: the MarkID crosses the interface enciphered under the
// API's session key together with the current session id, so only a client that holds the key and the
// current session can set it.
#include "device/api/zavt_device.h"

#include "device/api/device_context.h"
#include "device/api/zavt_context.h"
#include "device/fs/blowfish.h"
#include "device/fs/engine_status.h"

#include <cstring>
#include <mutex>

namespace {

constexpr std::uint8_t kSessionKey[16] = {0x5d, 0x2e, 0x8a, 0x91, 0x7c, 0x04, 0xb3, 0xf6,
                                          0xe1, 0x9a, 0x20, 0xc7, 0x5b, 0x8d, 0x4e, 0x63};

// The mark record as it crosses the interface: the MarkID, then the session id.
constexpr std::size_t kMarkRecordBytes = kDumpMarkIdBytes + sizeof(GUID);
static_assert(kMarkRecordBytes == 48);

std::mutex g_sessionMutex;
GUID g_session{};

bool SessionCipher(bool encrypt, const std::uint8_t* in, std::uint8_t* out, std::size_t length)
{
    if (!in || !out || length == 0 || length % engine::Blowfish::kBlockBytes != 0)
        return false;
    try {
        const engine::Blowfish cipher(kSessionKey, sizeof kSessionKey);
        if (encrypt)
            cipher.EncryptCopy(in, out, length, engine::Blowfish::kModeEcb);
        else
            cipher.DecryptCopy(in, out, length, engine::Blowfish::kModeEcb);
        return true;
    } catch (...) {
        return false;
    }
}

// Runs `use` on the ready context with internal memory's root current (the dump lives there) and the
// internal lock held, so a read of the dump, a change and its write are one step for other callers.
// `use` answers the method's result; a root that cannot be made current is a failed read (`failed`).
template <class Use, class Failed>
HRESULT WithDump(ZavtAddress address, Use use, Failed failed)
{
    if (FAILED(ZavtCheckAddress(static_cast<ZavtUAddress>(address))))
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    CriticalSectionGuard hold(DeviceContext::InternalLock());
    if (context->SelectFolder(0, 0) != engine::kStatusOk)
        return failed();
    return use(*context);
}

// Reads the dump and copies one field of it to the client (zeros when the read failed).
HRESULT GetDumpField(ZavtAddress address, std::uint32_t offset, std::uint32_t size)
{
    std::uint8_t* out = ZavtBuffer(address);
    return WithDump(
        address,
        [&](DeviceContext& context) {
            const engine::EngineStatus code = context.ReadSystemDump();
            std::memcpy(out, context.SystemDump().data() + offset, size);
            return ZavtStatusResult<CZAVTDevice>(code, E_FAIL);
        },
        [&] {
            std::memset(out, 0, size);
            return E_FAIL;
        });
}

// Writes one field from the client's bytes; the other fields stay as the player holds them.
HRESULT PutDumpField(ZavtAddress address, std::uint32_t offset, std::uint32_t size)
{
    const std::uint8_t* in = ZavtBuffer(address);
    return WithDump(
        address,
        [&](DeviceContext& context) {
            return ZavtStatusResult<CZAVTDevice>(context.UpdateSystemDump(offset, in, size), E_FAIL);
        },
        [] { return E_FAIL; });
}

}  // namespace

GUID ZavtSessionGuid()
{
    std::lock_guard<std::mutex> hold(g_sessionMutex);
    return g_session;
}

GUID ZavtNewSessionGuid()
{
    GUID session{};
    if (FAILED(CoCreateGuid(&session)))
        session = GUID{};
    std::lock_guard<std::mutex> hold(g_sessionMutex);
    g_session = session;
    return session;
}

bool ZavtSessionEncrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length)
{
    return SessionCipher(true, in, out, length);
}

bool ZavtSessionDecrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length)
{
    return SessionCipher(false, in, out, length);
}

STDMETHODIMP CZAVTDevice::get_DeviceUniqueID(BSTR* pVal)
{
    // The player has no unique id: the empty string, never an unwritten out-parameter.
    if (pVal)
        *pVal = nullptr;
    return S_OK;
}

STDMETHODIMP CZAVTDevice::put_DeviceUniqueID(BSTR)
{
    return S_OK;
}

STDMETHODIMP CZAVTDevice::GetPersonalID(ZavtAddress lpcID)
{
    return GetDumpField(lpcID, kDumpPersonalIdOffset, kDumpPersonalIdBytes);
}

STDMETHODIMP CZAVTDevice::PutPersonalID(ZavtAddress lpcID)
{
    return PutDumpField(lpcID, kDumpPersonalIdOffset, kDumpPersonalIdBytes);
}

STDMETHODIMP CZAVTDevice::GetSN(ZavtAddress lpcSN)
{
    return GetDumpField(lpcSN, kDumpSerialOffset, kDumpSerialBytes);
}

STDMETHODIMP CZAVTDevice::PutSN(ZavtAddress lpcSN)
{
    return PutDumpField(lpcSN, kDumpSerialOffset, kDumpSerialBytes);
}

STDMETHODIMP CZAVTDevice::GetMarkID(ZavtAddress lpcMarkID)
{
    std::uint8_t* out = ZavtBuffer(lpcMarkID);
    // The record carries the MarkID read (zeros when the read failed) and the current session id.
    auto copyOut = [out](const std::uint8_t* markId) {
        std::uint8_t record[kMarkRecordBytes] = {};
        std::memcpy(record, markId, kDumpMarkIdBytes);
        const GUID session = ZavtSessionGuid();
        std::memcpy(record + kDumpMarkIdBytes, &session, sizeof session);
        if (!ZavtSessionEncrypt(record, record, sizeof record))
            return false;
        std::memcpy(out, record, sizeof record);
        return true;
    };
    return WithDump(
        lpcMarkID,
        [&](DeviceContext& context) {
            const engine::EngineStatus code = context.ReadSystemDump();
            if (!copyOut(context.SystemDump().data() + kDumpMarkIdOffset))
                return E_FAIL;
            return ZavtStatusResult<CZAVTDevice>(code, E_FAIL);
        },
        [&] {
            const std::uint8_t zeros[kDumpMarkIdBytes] = {};
            copyOut(zeros);
            return E_FAIL;
        });
}

STDMETHODIMP CZAVTDevice::PutMarkID(ZavtAddress lpcMarkID)
{
    const std::uint8_t* in = ZavtBuffer(lpcMarkID);
    return WithDump(
        lpcMarkID,
        [&](DeviceContext& context) {
            std::uint8_t record[kMarkRecordBytes];
            if (!ZavtSessionDecrypt(in, record, sizeof record))
                return E_FAIL;
            // Only a record made for the current session is taken; nothing is written otherwise.
            const GUID session = ZavtSessionGuid();
            if (std::memcmp(record + kDumpMarkIdBytes, &session, sizeof session) != 0)
                return E_ACCESSDENIED;
            const engine::EngineStatus code = context.UpdateSystemDump(kDumpMarkIdOffset, record, kDumpMarkIdBytes);
            return ZavtStatusResult<CZAVTDevice>(code, E_FAIL);
        },
        [] { return E_FAIL; });
}
