// Filling runs of bytes with one value, without a call into the C
// runtime: a chart's rows are mostly runs of a few to a few dozen pixels,
// and on Windows the runtime's memset (msvcrt) is a plain loop under some
// hosts. SSE2 is the baseline of every build.
#pragma once

#include <cstdint>
#include <cstring>
#include <immintrin.h>

// The 16-byte pattern of one byte value.
inline __m128i fill_pattern(uint8_t value) { return _mm_set1_epi8(static_cast<char>(value)); }

// dst[0, n) = value, and nothing outside it: overlapping stores of the
// largest size that fits.
inline void fill_exact(uint8_t *dst, uint8_t value, std::size_t n) {
    if (n >= 16) {
        const __m128i v = fill_pattern(value);
        std::size_t k = 0;
        for (; k + 16 <= n; k += 16) _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k), v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + n - 16), v);
    } else if (n >= 8) {
        const uint32_t v = value * 0x01010101u;
        std::memcpy(dst, &v, 4);
        std::memcpy(dst + 4, &v, 4);
        std::memcpy(dst + n - 8, &v, 4);
        std::memcpy(dst + n - 4, &v, 4);
    } else if (n >= 4) {
        const uint32_t v = value * 0x01010101u;
        std::memcpy(dst, &v, 4);
        std::memcpy(dst + n - 4, &v, 4);
    } else if (n >= 2) {
        const uint16_t v = static_cast<uint16_t>(value * 0x0101u);
        std::memcpy(dst, &v, 2);
        std::memcpy(dst + n - 2, &v, 2);
    } else if (n == 1) {
        dst[0] = value;
    }
}

// dst[0, n) = value in whole 16-byte stores: may write up to 15 bytes past
// dst + n, which the caller must own and not yet need.
inline void fill_overshooting(uint8_t *dst, __m128i pattern, std::size_t n) {
    std::size_t k = 0;
    do {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k), pattern);
        k += 16;
    } while (k < n);
}

// Runs are mostly a few to a few dozen pixels, of lengths no branch can
// guess: a masked store (AVX-512) fills any of them up to 32 pixels in one
// go, where the plain fill picks among store sizes. dst[0, n) = value for
// n >= 1, and nothing outside it.
__attribute__((target("avx512bw,avx512vl,bmi2"), always_inline)) inline void fill_masked(uint8_t *dst, uint8_t value,
                                                                                          int32_t n) {
    __m256i pattern = _mm256_set1_epi8(static_cast<char>(value));
    __asm__("" : "+x"(pattern));   // a loop of known bytes would become a call to memset
    for (; n > 32; n -= 32, dst += 32) _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), pattern);
    _mm256_mask_storeu_epi8(dst, _bzhi_u32(~0u, static_cast<unsigned>(n)), pattern);
}
