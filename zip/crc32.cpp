// The CRC-32 of entry data. zlib's table-driven CRC costs a sizeable share
// of an extraction once inflate is done; on processors with carry-less
// multiplication the bulk of the data is folded 64 bytes at a time instead,
// and zlib takes the rest (the head below 64 bytes and the tail below 16),
// so both give the same value for any split.
//
// The folding is the standard one for the reflected polynomial 0xEDB88320:
// four 128-bit lanes are multiplied forward by x^(512+32) and x^(512-32+...)
// constants, folded into one lane, reduced to 64 and 32 bits, and the last
// step is a Barrett reduction by the polynomial.

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "zip/reader.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

// Folding constants for the reflected CRC-32 polynomial, as pairs
// (low quadword, high quadword).
constexpr std::uint64_t kFold4Low = 0x154442bd4;   // x^(4*128+32) mod P, reflected
constexpr std::uint64_t kFold4High = 0x1c6e41596;  // x^(4*128-32) mod P, reflected
constexpr std::uint64_t kFold1Low = 0x1751997d0;   // x^(128+32) mod P, reflected
constexpr std::uint64_t kFold1High = 0x0ccaa009e;  // x^(128-32) mod P, reflected
constexpr std::uint64_t kFold64 = 0x163cd6124;     // x^64 mod P, reflected
constexpr std::uint64_t kPoly = 0x1db710641;       // P, reflected
constexpr std::uint64_t kBarrett = 0x1f7011641;    // floor(x^64 / P), reflected

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// The raw CRC register (not inverted) after `size` bytes, size a multiple
// of 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldCrc(std::uint32_t crc, const std::uint8_t* p,
                                                               std::size_t size) {
    auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    size -= 64;

    const __m128i fold4 = _mm_set_epi64x(static_cast<long long>(kFold4High), static_cast<long long>(kFold4Low));
    while (size >= 64) {
        x1 = Fold(x1, fold4, load(p));
        x2 = Fold(x2, fold4, load(p + 16));
        x3 = Fold(x3, fold4, load(p + 32));
        x4 = Fold(x4, fold4, load(p + 48));
        p += 64;
        size -= 64;
    }

    const __m128i fold1 = _mm_set_epi64x(static_cast<long long>(kFold1High), static_cast<long long>(kFold1Low));
    x1 = Fold(x1, fold1, x2);
    x1 = Fold(x1, fold1, x3);
    x1 = Fold(x1, fold1, x4);
    while (size >= 16) {
        x1 = Fold(x1, fold1, load(p));
        p += 16;
        size -= 16;
    }

    // 128 bits to 64.
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, fold1, 0x10), _mm_srli_si128(x1, 8));
    // 64 bits to 32.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    const __m128i fold64 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), fold64, 0x00), _mm_srli_si128(x1, 4));
    // Barrett reduction to the 32-bit remainder.
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kBarrett), static_cast<long long>(kPoly));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool CanFold() {
    static const bool can = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return can;
}

}  // namespace

std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    if (size < 64 || !CanFold()) return static_cast<std::uint32_t>(crc32_z(crc, data, size));
    const std::size_t body = size & ~std::size_t{15};
    crc = ~FoldCrc(~crc, data, body);
    return static_cast<std::uint32_t>(crc32_z(crc, data + body, size - body));
}

#else

std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}

#endif
