// The CRC-32 of entry data. zlib's table-driven CRC costs a sizeable share
// of an extraction once inflate is done; on processors with carry-less
// multiplication the bulk of the data is folded 64 bytes at a time instead,
// and zlib takes what the folding leaves (a piece shorter than 64 bytes
// whole, and the tail below 16 bytes of a longer one), so both give the same
// value for any split.
//
// The folding is the standard one for the reflected polynomial 0xEDB88320:
// four 128-bit lanes are multiplied forward by x^(512+32) and x^(512-32+...)
// constants, folded into one lane, reduced to 64 and 32 bits, and the last
// step is a Barrett reduction by the polynomial. Where the processor
// multiplies four lanes in one instruction (VPCLMULQDQ on 512-bit
// registers), sixteen lanes, 256 bytes, are folded at a time first, by
// x^(2048+-32), and folded into the four of the narrow way: on a large
// entry written behind, the CRC is about a third of its writer's work.

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "zip/reader.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

// Folding constants for the reflected CRC-32 polynomial, as pairs
// (low quadword, high quadword).
constexpr std::uint64_t kFold16Low = 0x11542778a;  // x^(16*128+32) mod P, reflected
constexpr std::uint64_t kFold16High = 0x1322d1430; // x^(16*128-32) mod P, reflected
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

// Folds the rest of the data, `size` bytes (a multiple of 16), into the
// four lanes holding what came before, and reduces them to the raw CRC
// register.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FinishFold(__m128i x1, __m128i x2, __m128i x3, __m128i x4,
                                                                  const std::uint8_t* p, std::size_t size) {
    auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
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

// The raw CRC register (not inverted) after `size` bytes, size a multiple
// of 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldCrc(std::uint32_t crc, const std::uint8_t* p,
                                                               std::size_t size) {
    auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    const __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    return FinishFold(x1, load(p + 16), load(p + 32), load(p + 48), p + 64, size - 64);
}

#define SORVANE_WIDE_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

SORVANE_WIDE_TARGET inline __m512i FoldWide(__m512i x, __m512i k, __m512i next) {
    // 0x96: the exclusive or of all three.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11),
                                     next, 0x96);
}

SORVANE_WIDE_TARGET inline __m512i Broadcast(std::uint64_t low, std::uint64_t high) {
    const auto h = static_cast<long long>(high);
    const auto l = static_cast<long long>(low);
    return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

// FoldCrc, sixteen lanes at a time; size at least 256.
SORVANE_WIDE_TARGET std::uint32_t FoldCrcWide(std::uint32_t crc, const std::uint8_t* p, std::size_t size) {
    __m512i z1 = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z2 = _mm512_loadu_si512(p + 64);
    __m512i z3 = _mm512_loadu_si512(p + 128);
    __m512i z4 = _mm512_loadu_si512(p + 192);
    p += 256;
    size -= 256;
    const __m512i fold16 = Broadcast(kFold16Low, kFold16High);
    while (size >= 256) {
        z1 = FoldWide(z1, fold16, _mm512_loadu_si512(p));
        z2 = FoldWide(z2, fold16, _mm512_loadu_si512(p + 64));
        z3 = FoldWide(z3, fold16, _mm512_loadu_si512(p + 128));
        z4 = FoldWide(z4, fold16, _mm512_loadu_si512(p + 192));
        p += 256;
        size -= 256;
    }
    // Each register 64 bytes ahead of the one before: folded into the last.
    const __m512i fold4 = Broadcast(kFold4Low, kFold4High);
    z2 = FoldWide(z1, fold4, z2);
    z3 = FoldWide(z2, fold4, z3);
    z4 = FoldWide(z3, fold4, z4);
    // (The zeroing forms: GCC 12 warns about the others' undefined filler.)
    return FinishFold(_mm512_maskz_extracti32x4_epi32(0xF, z4, 0), _mm512_maskz_extracti32x4_epi32(0xF, z4, 1),
                      _mm512_maskz_extracti32x4_epi32(0xF, z4, 2), _mm512_maskz_extracti32x4_epi32(0xF, z4, 3), p,
                      size);
}

#undef SORVANE_WIDE_TARGET

CrcWay BestCrcWay() {
    static const CrcWay best = [] {
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) return CrcWay::kZlib;
        // The check for AVX-512 includes the system saving its registers.
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq")) return CrcWay::kFold16;
        return CrcWay::kFold4;
    }();
    return best;
}

}  // namespace

bool CrcWayAvailable(CrcWay way) { return way <= BestCrcWay(); }

std::uint32_t UpdateCrc32Way(CrcWay way, std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    way = std::min(way, BestCrcWay());
    if (way == CrcWay::kZlib || size < 64) return static_cast<std::uint32_t>(crc32_z(crc, data, size));
    const std::size_t body = size & ~std::size_t{15};
    crc = ~(way == CrcWay::kFold16 && body >= 256 ? FoldCrcWide(~crc, data, body) : FoldCrc(~crc, data, body));
    return static_cast<std::uint32_t>(crc32_z(crc, data + body, size - body));
}

#else

bool CrcWayAvailable(CrcWay way) { return way == CrcWay::kZlib; }

std::uint32_t UpdateCrc32Way(CrcWay, std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}

#endif

// The widest way asked for: UpdateCrc32Way takes the best the processor has.
std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return UpdateCrc32Way(CrcWay::kFold16, crc, data, size);
}
