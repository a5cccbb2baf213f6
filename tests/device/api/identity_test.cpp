// The device's identity records and the session handshake over the simulated player, with the host's
// openssl as the client's cipher: the session id it deciphers is the process's current one, a mark
// record it enciphers is taken, one of an earlier session is refused with the player's dump unchanged;
// every writer keeps the other fields, on both kinds of internal memory and with a subfolder current.
#include "tests/device/api/zavt_rig.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using test_support::ShellQuote;

constexpr char kSessionKeyHex[] = "5d2e8a917c04b3f6e19a20c75b8d4e63";

class IdentityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(test_support::HostHasProgram("openssl")) << "openssl is needed on the host";
    }
    void TearDown() override { CoUninitialize(); }
};

// The client's side of the handshake: Blowfish in ECB mode under the session key, by openssl.
Bytes Openssl(bool encrypt, const Bytes& in)
{
    test_support::TempFolder folder;
    WriteFile(folder.File("in.bin"), in);
    const std::string command = std::string("openssl enc -bf-ecb -nopad -provider legacy -provider default ") +
                                (encrypt ? "-e" : "-d") + " -K " + kSessionKeyHex + " -in " +
                                ShellQuote(folder.UnixFile("in.bin")) + " -out " +
                                ShellQuote(folder.UnixFile("out.bin"));
    const test_support::ShellResult run = test_support::RunShell(command);
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.out << run.err;
    return ReadFile(folder.File("out.bin"));
}

ZavtAddress Address(std::uint8_t* buffer)
{
    return static_cast<ZavtAddress>(reinterpret_cast<std::uintptr_t>(buffer));
}

Bytes SessionBytes()
{
    const GUID session = ZavtSessionGuid();
    const auto* p = reinterpret_cast<const std::uint8_t*>(&session);
    return Bytes(p, p + sizeof session);
}

Bytes Joined(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A member of the device that takes a raw buffer address.
using AddressMember = HRESULT (STDMETHODCALLTYPE IZAVTDevice::*)(ZavtAddress);

// A device member that fills a caller buffer of `size` bytes, prefilled so that every byte is seen.
Bytes Got(HRESULT expected, AddressMember get, IZAVTDevice* device, std::size_t size)
{
    Bytes buffer(size, 0xCC);
    EXPECT_EQ(expected, (device->*get)(Address(buffer.data())));
    return buffer;
}

TEST_F(IdentityTest, SessionIdDeciphersToTheCurrentSession)
{
    DeviceRig rig(SmallPlayer(1));
    ASSERT_TRUE(rig.ok());
    Bytes first(16), second(16);
    ASSERT_EQ(S_OK, rig.control()->GetSessionID(Address(first.data())));
    EXPECT_EQ(SessionBytes(), Openssl(false, first));
    ASSERT_EQ(S_OK, rig.control()->GetSessionID(Address(second.data())));
    EXPECT_EQ(SessionBytes(), Openssl(false, second));
    EXPECT_NE(first, second);
    EXPECT_EQ(E_INVALIDARG, rig.control()->GetSessionID(0));
}

// A MarkID put under the current session is read back with it; the PersonalID and serial number are
// written as their twins are and keep each other; a record of an earlier session changes nothing.
TEST_F(IdentityTest, HandshakeAndRecords)
{
    for (int model : {1, 9}) {
        SCOPED_TRACE(model);
        DeviceRig rig(SmallPlayer(model), 0, model >= 9);
        ASSERT_TRUE(rig.ok());
        IZAVTDevice* device = rig.device();
        auto context = rig.Context();
        if (model >= 9) {
            // A subfolder is current: the records are the root's all the same.
            CComPtr<IZAVTStorage> storage = StorageOf(rig, ZAVTST_INT);
            ASSERT_EQ(S_OK, storage->Download(rig.Pc(L"Song.bin", Pattern(2000, 1)), CComBSTR(L"\\MUSIC\\")));
        }
        Bytes personal = Pattern(kDumpPersonalIdBytes, 2), serial = Pattern(kDumpSerialBytes, 3);
        ASSERT_EQ(S_OK, device->PutPersonalID(Address(personal.data())));
        ASSERT_EQ(S_OK, device->PutSN(Address(serial.data())));

        Bytes session(16);
        ASSERT_EQ(S_OK, rig.control()->GetSessionID(Address(session.data())));
        const Bytes mark = Pattern(kDumpMarkIdBytes, 4);
        Bytes record = Openssl(true, Joined(mark, Openssl(false, session)));
        ASSERT_EQ(S_OK, device->PutMarkID(Address(record.data())));

        EXPECT_EQ(Joined(mark, SessionBytes()), Openssl(false, Got(S_OK, &IZAVTDevice::GetMarkID, device, 48)));
        EXPECT_EQ(personal, Got(S_OK, &IZAVTDevice::GetPersonalID, device, kDumpPersonalIdBytes));
        EXPECT_EQ(serial, Got(S_OK, &IZAVTDevice::GetSN, device, kDumpSerialBytes));
        // The player's own dump, read afresh.
        ASSERT_EQ(S_OK, context->ReadDeviceInfo());
        ASSERT_EQ(0u, context->SelectFolder(0, 0));
        ASSERT_EQ(0u, context->ReadSystemDump());
        const auto dump = context->SystemDump();
        EXPECT_TRUE(std::equal(mark.begin(), mark.end(), dump.begin() + kDumpMarkIdOffset));
        EXPECT_TRUE(std::equal(serial.begin(), serial.end(), dump.begin() + kDumpSerialOffset));
        EXPECT_TRUE(std::equal(personal.begin(), personal.end(), dump.begin() + kDumpPersonalIdOffset));

        // A record made for the session before the current one.
        Bytes stale = Openssl(true, Joined(Pattern(kDumpMarkIdBytes, 5), SessionBytes()));
        ASSERT_EQ(S_OK, rig.control()->GetSessionID(Address(session.data())));
        EXPECT_EQ(E_ACCESSDENIED, device->PutMarkID(Address(stale.data())));
        ASSERT_EQ(0u, context->SelectFolder(0, 0));
        ASSERT_EQ(0u, context->ReadSystemDump());
        EXPECT_EQ(dump, context->SystemDump());
    }
}

// A transfer that fails anywhere in a read leaves no stale bytes behind: the field, zeros with E_FAIL, or
// (the player not ready) the error 769 with the buffer untouched.
TEST_F(IdentityTest, FailedReadsGiveZeros)
{
    DeviceRig rig(SmallPlayer(1));
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    Bytes personal = Pattern(kDumpPersonalIdBytes, 6);
    ASSERT_EQ(S_OK, device->PutPersonalID(Address(personal.data())));
    // Each transfer of the call in turn, until the call has fewer transfers than the fault waits for.
    sim::WireServer& server = rig.player().Server();
    bool reached = true;
    int failed = 0;
    for (std::uint64_t nth = 1; nth < 200 && reached; ++nth) {
        SCOPED_TRACE(nth);
        const std::uint64_t before = server.Counters().failedTransfers;
        server.InjectFault(sim::FaultKind::Fail, nth);
        Bytes got(kDumpPersonalIdBytes, 0xCC);
        const HRESULT hr = device->GetPersonalID(Address(got.data()));
        server.ClearFault();
        reached = server.Counters().failedTransfers != before;
        if (hr == S_OK) {
            EXPECT_EQ(personal, got);
        } else if (hr == E_FAIL) {
            EXPECT_EQ(Bytes(kDumpPersonalIdBytes, 0), got);
            ++failed;
        } else {
            EXPECT_EQ(static_cast<HRESULT>(0x80040000 + IDS_ERR_NO_DEVICE), hr);
            EXPECT_EQ(Bytes(kDumpPersonalIdBytes, 0xCC), got);
        }
    }
    EXPECT_FALSE(reached);
    EXPECT_GT(failed, 0) << "no fault reached the dump's read";
}

// A player without a dump reads as zeros; a null buffer is refused first, then a missing device.
TEST_F(IdentityTest, AbsentDumpNullBuffersAndNoDevice)
{
    DeviceRig rig(SmallPlayer(1));
    ASSERT_TRUE(rig.ok());
    IZAVTDevice* device = rig.device();
    EXPECT_EQ(Bytes(kDumpPersonalIdBytes, 0), Got(S_OK, &IZAVTDevice::GetPersonalID, device, kDumpPersonalIdBytes));
    EXPECT_EQ(Bytes(kDumpSerialBytes, 0), Got(S_OK, &IZAVTDevice::GetSN, device, kDumpSerialBytes));
    EXPECT_EQ(Joined(Bytes(kDumpMarkIdBytes, 0), SessionBytes()),
              Openssl(false, Got(S_OK, &IZAVTDevice::GetMarkID, device, 48)));

    const AddressMember members[] = {&IZAVTDevice::GetPersonalID, &IZAVTDevice::PutPersonalID, &IZAVTDevice::GetMarkID,
                                     &IZAVTDevice::PutMarkID,     &IZAVTDevice::GetSN,         &IZAVTDevice::PutSN};
    for (auto member : members)
        EXPECT_EQ(E_INVALIDARG, (device->*member)(0));
    DeviceContext::Discard();
    for (auto member : members) {
        std::uint8_t buffer[48] = {};
        EXPECT_EQ(static_cast<HRESULT>(0x80040000 + IDS_ERR_NO_DEVICE), (device->*member)(Address(buffer)));
    }
}

}  // namespace
