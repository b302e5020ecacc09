// SHA-256, with the processor's SHA instructions where it has them.
#include "device/sha256.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QUILLON_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

const std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

std::uint32_t Rotr(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

void Compress(std::uint32_t state[8], const unsigned char* block)
{
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
               std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t t1 =
            h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 =
            (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#ifdef QUILLON_SHA_NI

bool CpuHasShaInstructions()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return ssse3 && sse41 && (b & (1u << 29)) != 0;
}

// The state is kept in the order the instructions want it (ABEF, CDGH) across all the blocks.
__attribute__((target("sha,sse4.1"))) void
CompressShaNi(std::uint32_t state[8], const unsigned char* data, std::size_t blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i cdab =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i w[4]; // the message schedule, four words per group, group g in w[g % 4]
        for (int g = 0; g < 4; ++g)
            w[g] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), byteSwap);
        for (int g = 0; g < 16; ++g) {
            if (g >= 4) {
                __m128i next = _mm_sha256msg1_epu32(w[g % 4], w[(g - 3) % 4]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(w[(g - 1) % 4], w[(g - 2) % 4], 4));
                w[g % 4] = _mm_sha256msg2_epu32(next, w[(g - 1) % 4]);
            }
            __m128i message = _mm_add_epi32(
                w[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#endif

void CompressBlocks(Sha256* context, const unsigned char* data, std::size_t blocks)
{
#ifdef QUILLON_SHA_NI
    if (context->accelerated) {
        CompressShaNi(context->state, data, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, data += 64)
        Compress(context->state, data);
}

} // namespace

void Sha256Init(Sha256* context)
{
    static const std::uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(context->state, initial, sizeof initial);
    context->length = 0;
    context->used = 0;
#ifdef QUILLON_SHA_NI
    static const bool hasSha = CpuHasShaInstructions();
    context->accelerated = hasSha;
#else
    context->accelerated = false;
#endif
}

void Sha256Update(Sha256* context, const void* data, std::size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    context->length += size;
    while (size > 0) {
        if (context->used == 0 && size >= 64) {
            const std::size_t blocks = size / 64;
            CompressBlocks(context, bytes, blocks);
            bytes += 64 * blocks;
            size -= 64 * blocks;
            continue;
        }
        std::size_t take = 64 - context->used;
        take = take < size ? take : size;
        std::memcpy(context->block + context->used, bytes, take);
        context->used += take;
        bytes += take;
        size -= take;
        if (context->used == 64) {
            CompressBlocks(context, context->block, 1);
            context->used = 0;
        }
    }
}

void Sha256Final(Sha256* context, unsigned char digest[32])
{
    const std::uint64_t bits = context->length * 8;
    const unsigned char one = 0x80;
    const unsigned char zero = 0;
    Sha256Update(context, &one, 1);
    while (context->used != 56)
        Sha256Update(context, &zero, 1);
    unsigned char tail[8];
    for (int i = 0; i < 8; ++i)
        tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Sha256Update(context, tail, 8);
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<unsigned char>(context->state[i] >> (24 - 8 * k));
    }
}

void Sha256Of(const void* data, std::size_t size, unsigned char digest[32])
{
    Sha256 context;
    Sha256Init(&context);
    Sha256Update(&context, data, size);
    Sha256Final(&context, digest);
}
