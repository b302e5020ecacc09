// SHA-256 without a crypto library, so that the engine can prove the bytes it wrote. Where the
// processor has SHA instructions they do the work (several times faster, and the digest runs in
// line with every calculator's writes); plain C++ elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

// Feed the data in pieces of any size with Sha256Update, then take the 32 bytes once.

struct Sha256 {
    std::uint32_t state[8];
    std::uint64_t length; // bytes fed so far
    unsigned char block[64];
    std::size_t used; // bytes of block waiting for a full block
    bool accelerated; // set by Sha256Init when the processor can; cleared, the plain code runs
};

void Sha256Init(Sha256* context);
void Sha256Update(Sha256* context, const void* data, std::size_t size);
// Writes the digest and leaves the context spent: Init it again to digest other data.
void Sha256Final(Sha256* context, unsigned char digest[32]);
// The digest of one piece of data, in one call.
void Sha256Of(const void* data, std::size_t size, unsigned char digest[32]);
