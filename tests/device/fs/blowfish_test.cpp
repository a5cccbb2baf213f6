#include "device/fs/blowfish.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using engine::Blowfish;
using engine::BlowfishError;
using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

Blowfish MakeCipher(const Bytes& key, std::uint32_t chainLeft = 0, std::uint32_t chainRight = 0)
{
    return Blowfish(key.data(), key.size(), chainLeft, chainRight);
}

// Eric Young's published ECB set: key, clear text, cipher text.
struct EcbVector {
    const char* key;
    const char* clear;
    const char* cipher;
};

// clang-format off
constexpr EcbVector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};
// clang-format on

TEST(FsBlowfish, PublishedEcbSetEncryptsAndDecrypts)
{
    for (const EcbVector& v : kEcbVectors) {
        SCOPED_TRACE(std::string("key ") + v.key + " clear " + v.clear);
        const Blowfish cipher = MakeCipher(FromHex(v.key));
        Bytes block = FromHex(v.clear);
        cipher.Encrypt(block.data(), block.size(), Blowfish::kModeEcb);
        EXPECT_EQ(ToHex(block), v.cipher);
        cipher.Decrypt(block.data(), block.size(), Blowfish::kModeEcb);
        EXPECT_EQ(ToHex(block), v.clear);
    }
}

TEST(FsBlowfish, BlockHalvesAreBigEndian)
{
    // Zero key and block give 4EF997456198DD78: bytes 0..3 are the left half, most significant first.
    const Blowfish cipher = MakeCipher(FromHex("0000000000000000"));
    std::uint32_t left = 0, right = 0;
    cipher.EncryptBlock(left, right);
    EXPECT_EQ(left, 0x4EF99745u);
    EXPECT_EQ(right, 0x6198DD78u);
    cipher.DecryptBlock(left, right);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(right, 0u);
}

TEST(FsBlowfish, PublishedVariableKeyLengthSet)
{
    static const char* const kCiphers[] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
        "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
        "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
        "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
        "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
    };
    const Bytes fullKey = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    for (std::size_t length = 1; length <= std::size(kCiphers); ++length) {
        SCOPED_TRACE("key length " + std::to_string(length));
        const Blowfish cipher(fullKey.data(), length);
        Bytes block = FromHex("FEDCBA9876543210");
        cipher.Encrypt(block.data(), block.size(), Blowfish::kModeEcb);
        EXPECT_EQ(ToHex(block), kCiphers[length - 1]);
    }
}

// The published chaining example: "7654321 Now is the time for " with its NUL, zero-padded to whole blocks.
const Bytes kChainKey = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
const Bytes kChainClear = FromHex("37363534333231204E6F77206973207468652074696D6520666F722000000000");
constexpr std::uint32_t kChainIvLeft = 0xFEDCBA98, kChainIvRight = 0x76543210;

TEST(FsBlowfish, PublishedCbcExampleAndChainRestartsOnEveryCall)
{
    const Blowfish cipher = MakeCipher(kChainKey, kChainIvLeft, kChainIvRight);
    const std::string expected = "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC";
    for (int call = 0; call < 2; ++call) {
        Bytes out(kChainClear.size());
        cipher.EncryptCopy(kChainClear.data(), out.data(), out.size(), Blowfish::kModeCbc);
        EXPECT_EQ(ToHex(out), expected) << "call " << call;
    }
    // In place: each cipher block must be kept as the next chain before it is overwritten.
    Bytes buffer = FromHex(expected);
    cipher.Decrypt(buffer.data(), buffer.size(), Blowfish::kModeCbc);
    EXPECT_EQ(buffer, kChainClear);
}

TEST(FsBlowfish, PublishedCfb64Example)
{
    const Blowfish cipher = MakeCipher(kChainKey, kChainIvLeft, kChainIvRight);
    // Whole blocks only: the first 24 of the example's 29 bytes.
    Bytes buffer(kChainClear.begin(), kChainClear.begin() + 24);
    cipher.Encrypt(buffer.data(), buffer.size(), Blowfish::kModeCfb);
    EXPECT_EQ(ToHex(buffer), "E73214A2822139CAF26ECF6D2EB9E76E3DA3DE04D1517200");
    Bytes back(buffer.size());
    cipher.DecryptCopy(buffer.data(), back.data(), back.size(), Blowfish::kModeCfb);
    EXPECT_EQ(back, Bytes(kChainClear.begin(), kChainClear.begin() + 24));
}

TEST(FsBlowfish, EveryModeRoundTripsAndUnknownModesMeanEcb)
{
    const Blowfish cipher = MakeCipher(FromHex("00112233445566778899AABBCCDDEEFF"), 0x01020304, 0x05060708);
    Bytes clear(48);
    for (std::size_t i = 0; i < clear.size(); ++i)
        clear[i] = std::uint8_t(i * 7 + 3);
    // Identical blocks show whether a mode chains.
    std::memcpy(clear.data() + 8, clear.data(), 8);

    for (int mode : {Blowfish::kModeEcb, Blowfish::kModeCbc, Blowfish::kModeCfb}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Bytes buffer = clear;
        cipher.Encrypt(buffer.data(), buffer.size(), mode);
        EXPECT_NE(buffer, clear);
        EXPECT_EQ(std::memcmp(buffer.data(), buffer.data() + 8, 8) == 0, mode == Blowfish::kModeEcb);
        cipher.Decrypt(buffer.data(), buffer.size(), mode);
        EXPECT_EQ(buffer, clear);
    }

    Bytes ecb(clear.size()), other(clear.size());
    cipher.EncryptCopy(clear.data(), ecb.data(), ecb.size(), Blowfish::kModeEcb);
    cipher.EncryptCopy(clear.data(), other.data(), other.size(), 7);
    EXPECT_EQ(other, ecb);
    cipher.EncryptCopy(clear.data(), other.data(), other.size(), -1);
    EXPECT_EQ(other, ecb);
}

TEST(FsBlowfish, LengthErrorsThrowBeforeAnyByteChanges)
{
    try {
        const std::uint8_t key[1] = {0};
        Blowfish cipher(key, 0);
        FAIL() << "a key of length 0 was accepted";
    } catch (const BlowfishError& e) {
        EXPECT_STREQ(e.what(), "Incorrect key length");
    }

    const Blowfish cipher = MakeCipher(FromHex("0123456789ABCDEF"));
    for (std::size_t length : {std::size_t(0), std::size_t(12), std::size_t(7), std::size_t(17)}) {
        SCOPED_TRACE("length " + std::to_string(length));
        Bytes buffer(24, 0x5A);
        Bytes out(24, 0xA5);
        for (int mode : {Blowfish::kModeEcb, Blowfish::kModeCbc, Blowfish::kModeCfb}) {
            try {
                cipher.Encrypt(buffer.data(), length, mode);
                ADD_FAILURE() << "Encrypt accepted the length";
            } catch (const BlowfishError& e) {
                EXPECT_STREQ(e.what(), "Incorrect buffer length");
            }
            EXPECT_THROW(cipher.Decrypt(buffer.data(), length, mode), BlowfishError);
            EXPECT_THROW(cipher.EncryptCopy(buffer.data(), out.data(), length, mode), BlowfishError);
            EXPECT_THROW(cipher.DecryptCopy(buffer.data(), out.data(), length, mode), BlowfishError);
        }
        EXPECT_EQ(buffer, Bytes(24, 0x5A));
        EXPECT_EQ(out, Bytes(24, 0xA5));
    }
}

TEST(FsBlowfish, KeysBeyond56BytesUseTheFirst56)
{
    Bytes key(60);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = std::uint8_t(0x11 * i + 1);
    const Blowfish full(key.data(), 60);
    const Blowfish cut(key.data(), 56);
    const Blowfish shorter(key.data(), 55);
    Bytes a = FromHex("0011223344556677"), b = a, c = a;
    full.Encrypt(a.data(), 8, Blowfish::kModeEcb);
    cut.Encrypt(b.data(), 8, Blowfish::kModeEcb);
    shorter.Encrypt(c.data(), 8, Blowfish::kModeEcb);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

// The three modes against the host's openssl (Blowfish lives in its legacy provider), on data and keys
// that appear in no published table.
TEST(FsBlowfish, MatchesOpensslLegacyProvider)
{
    using namespace test_support;
    ASSERT_TRUE(HostHasProgram("openssl")) << "openssl is needed on the host";
    const std::string keyHex = "9A3B5C7D1E2F40516273849506A7B8C9";
    const std::string ivHex = "0F1E2D3C4B5A6978";
    const Bytes key = FromHex(keyHex);
    Bytes clear(72);
    for (std::size_t i = 0; i < clear.size(); ++i)
        clear[i] = std::uint8_t((i * 131 + 17) ^ (i >> 2));

    TempFolder folder;
    {
        std::ofstream out(folder.File("clear.bin"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(clear.data()), std::streamsize(clear.size()));
    }
    struct Case {
        int mode;
        const char* openssl;
    };
    for (const Case c :
         {Case{Blowfish::kModeEcb, "bf-ecb"}, Case{Blowfish::kModeCbc, "bf-cbc"}, Case{Blowfish::kModeCfb, "bf-cfb"}}) {
        SCOPED_TRACE(c.openssl);
        const std::string outName = std::string(c.openssl) + ".bin";
        std::string command =
            "openssl enc -" + std::string(c.openssl) + " -provider legacy -provider default -nopad -K " + keyHex;
        if (c.mode != Blowfish::kModeEcb)
            command += " -iv " + ivHex;
        command += " -in " + ShellQuote(folder.UnixFile("clear.bin")) + " -out " + ShellQuote(folder.UnixFile(outName));
        const ShellResult run = RunShell(command);
        ASSERT_TRUE(run.finished) << run.err;
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

        std::ifstream in(folder.File(outName), std::ios::binary);
        const Bytes reference((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

        const Blowfish cipher(key.data(), key.size(), 0x0F1E2D3C, 0x4B5A6978);
        Bytes ours(clear.size());
        cipher.EncryptCopy(clear.data(), ours.data(), ours.size(), c.mode);
        EXPECT_EQ(ToHex(ours), ToHex(reference));
    }
}

}  // namespace
