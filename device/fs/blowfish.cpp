#include "device/fs/blowfish.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

std::uint32_t LoadBigEndian32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

void StoreBigEndian32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

}  // namespace

Blowfish::Blowfish(const std::uint8_t* key, std::size_t keyLength, std::uint32_t chainLeft, std::uint32_t chainRight)
{
    if (keyLength == 0 || key == nullptr)
        throw BlowfishError("Incorrect key length");
    const std::size_t used = std::min(keyLength, kMaxKeyBytes);

    chain1_[0] = chain2_[0] = chainLeft;
    chain1_[1] = chain2_[1] = chainRight;
    std::memcpy(p_, kBlowfishInitialP, sizeof p_);
    std::memcpy(s_, kBlowfishInitialS, sizeof s_);

    std::size_t k = 0;
    for (std::uint32_t& word : p_) {
        std::uint32_t keyWord = 0;
        for (int i = 0; i < 4; ++i) {
            keyWord = (keyWord << 8) | key[k];
            k = (k + 1) % used;
        }
        word ^= keyWord;
    }

    std::uint32_t left = 0, right = 0;
    for (int i = 0; i < kRounds + 2; i += 2) {
        EncryptBlock(left, right);
        p_[i] = left;
        p_[i + 1] = right;
    }
    for (auto& box : s_) {
        for (int i = 0; i < 256; i += 2) {
            EncryptBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

std::uint32_t Blowfish::Round(std::uint32_t x) const
{
    return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
}

void Blowfish::EncryptBlock(std::uint32_t& left, std::uint32_t& right) const
{
    std::uint32_t l = left, r = right;
    for (int i = 0; i < kRounds; ++i) {
        l ^= p_[i];
        r ^= Round(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p_[kRounds];
    l ^= p_[kRounds + 1];
    left = l;
    right = r;
}

void Blowfish::DecryptBlock(std::uint32_t& left, std::uint32_t& right) const
{
    std::uint32_t l = left, r = right;
    for (int i = kRounds + 1; i > 1; --i) {
        l ^= p_[i];
        r ^= Round(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p_[1];
    l ^= p_[0];
    left = l;
    right = r;
}

void Blowfish::Process(const std::uint8_t* input, std::uint8_t* output, std::size_t length, int mode,
                       bool encrypt) const
{
    if (length == 0 || length % kBlockBytes != 0 || input == nullptr || output == nullptr)
        throw BlowfishError("Incorrect buffer length");

    std::uint32_t chainL = chain2_[0], chainR = chain2_[1];
    for (std::size_t at = 0; at < length; at += kBlockBytes) {
        // Both halves are read before anything is stored, so input and output may be the same buffer.
        const std::uint32_t inL = LoadBigEndian32(input + at);
        const std::uint32_t inR = LoadBigEndian32(input + at + 4);
        std::uint32_t outL, outR;
        if (mode == kModeCbc) {
            if (encrypt) {
                outL = inL ^ chainL;
                outR = inR ^ chainR;
                EncryptBlock(outL, outR);
                chainL = outL;
                chainR = outR;
            } else {
                outL = inL;
                outR = inR;
                DecryptBlock(outL, outR);
                outL ^= chainL;
                outR ^= chainR;
                chainL = inL;
                chainR = inR;
            }
        } else if (mode == kModeCfb) {
            std::uint32_t keyL = chainL, keyR = chainR;
            EncryptBlock(keyL, keyR);
            outL = inL ^ keyL;
            outR = inR ^ keyR;
            // The register always takes the ciphertext block.
            chainL = encrypt ? outL : inL;
            chainR = encrypt ? outR : inR;
        } else {
            outL = inL;
            outR = inR;
            if (encrypt)
                EncryptBlock(outL, outR);
            else
                DecryptBlock(outL, outR);
        }
        StoreBigEndian32(output + at, outL);
        StoreBigEndian32(output + at + 4, outR);
    }
}

void Blowfish::Encrypt(std::uint8_t* buffer, std::size_t length, int mode) const
{
    Process(buffer, buffer, length, mode, true);
}

void Blowfish::Decrypt(std::uint8_t* buffer, std::size_t length, int mode) const
{
    Process(buffer, buffer, length, mode, false);
}

void Blowfish::EncryptCopy(const std::uint8_t* input, std::uint8_t* output, std::size_t length, int mode) const
{
    Process(input, output, length, mode, true);
}

void Blowfish::DecryptCopy(const std::uint8_t* input, std::uint8_t* output, std::size_t length, int mode) const
{
    Process(input, output, length, mode, false);
}

}  // namespace engine
