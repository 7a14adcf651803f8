// Hex digits of eight or sixteen bytes at a time: the engine's vector code, and a plain scalar
// twin that tests hold it against.
#pragma once

#include <cstddef>
#include <cstring>

namespace zb {

// Upper-case digits of s[0..N-1] into p[0..2N-1], two per byte, high nibble first.
//
// In 16-lane byte vectors (SSE2 on x86-64, plain scalar code where a target has none): split
// the nibbles, interleave them into digit order, and make each nibble n the digit '0' + n,
// plus 7 more when n > 9.
template <std::size_t N>
inline void hex_digits(char* p, const unsigned char* s)
{
    static_assert(N == 8 || N == 16);
    using lanes16 = unsigned char __attribute__((vector_size(16)));
    lanes16 x{};
    std::memcpy(&x, s, N);
    const lanes16 hi = x >> 4, lo = x & 15;
    lanes16 a = __builtin_shufflevector(hi, lo, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22,
                                        7, 23);
    a = a + '0' + (reinterpret_cast<lanes16>(a > 9) & 7);
    std::memcpy(p, &a, 16);
    if constexpr (N == 16) {
        lanes16 b = __builtin_shufflevector(hi, lo, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29,
                                            14, 30, 15, 31);
        b = b + '0' + (reinterpret_cast<lanes16>(b > 9) & 7);
        std::memcpy(p + 16, &b, 16);
    }
}

inline void hex_digits_scalar(char* p, const unsigned char* s, std::size_t n)
{
    constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t k = 0; k < n; ++k) {
        p[2 * k] = digits[s[k] >> 4];
        p[2 * k + 1] = digits[s[k] & 15];
    }
}

}  // namespace zb
