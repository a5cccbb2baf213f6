// The published Blowfish block cipher (64-bit blocks, 16 rounds, keys of 1 to 56 bytes) with ECB,
// CBC and 64-bit CFB over whole buffers. Used by the session handshake of the device API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace engine {

// Thrown for a key of length 0 and for a buffer length that is 0 or not a multiple of 8. The device
// API catches it at its COM methods; it never leaves the module.
class BlowfishError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Blowfish {
public:
    static constexpr int kRounds = 16;
    static constexpr std::size_t kMaxKeyBytes = 56;
    static constexpr std::size_t kBlockBytes = 8;

    // Buffer modes by number: anything other than Cbc or Cfb means ECB.
    static constexpr int kModeEcb = 0;
    static constexpr int kModeCbc = 1;
    static constexpr int kModeCfb = 2;

    // Key schedule over the first min(keyLength, 56) bytes. The initial chain block is given as the two
    // 32-bit halves of a block (left half first); every CBC or CFB call starts from it.
    Blowfish(const std::uint8_t* key, std::size_t keyLength, std::uint32_t chainLeft = 0, std::uint32_t chainRight = 0);

    // One block as two halves, in place.
    void EncryptBlock(std::uint32_t& left, std::uint32_t& right) const;
    void DecryptBlock(std::uint32_t& left, std::uint32_t& right) const;

    // Whole buffers; the length must be a non-zero multiple of 8, checked before any byte changes.
    // Each block is read as two big-endian halves. The object keeps no chain state between calls.
    void Encrypt(std::uint8_t* buffer, std::size_t length, int mode) const;
    void Decrypt(std::uint8_t* buffer, std::size_t length, int mode) const;
    void EncryptCopy(const std::uint8_t* input, std::uint8_t* output, std::size_t length, int mode) const;
    void DecryptCopy(const std::uint8_t* input, std::uint8_t* output, std::size_t length, int mode) const;

private:
    std::uint32_t Round(std::uint32_t x) const;
    void Process(const std::uint8_t* input, std::uint8_t* output, std::size_t length, int mode, bool encrypt) const;

    std::uint32_t chain1_[2];  // kept as given; no operation reads it
    std::uint32_t chain2_[2];  // the starting chain of every CBC or CFB call
    std::uint32_t p_[kRounds + 2];
    std::uint32_t s_[4][256];
};

// The digits of pi that seed the key schedule (blowfish_pi_digits.cpp).
extern const std::uint32_t kBlowfishInitialP[Blowfish::kRounds + 2];
extern const std::uint32_t kBlowfishInitialS[4][256];

}  // namespace engine
