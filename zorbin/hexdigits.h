// Hex digits of sixteen bytes at a time: the engine's vector code, and a plain scalar twin
// that tests hold it against.
#pragma once

#include <cstring>

namespace zb {

// Upper-case digits of s[0..15] into p[0..31], two per byte, high nibble first.
//
// In 16-lane byte vectors (SSE2 on x86-64, plain scalar code where a target has none): split
// the nibbles, interleave them into digit order, and make each nibble n the digit '0' + n,
// plus 7 more when n > 9.
inline void hex16(char* p, const unsigned char* s)
{
    using lanes16 = unsigned char __attribute__((vector_size(16)));
    lanes16 x;
    std::memcpy(&x, s, 16);
    const lanes16 hi = x >> 4, lo = x & 15;
    lanes16 a = __builtin_shufflevector(hi, lo, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22,
                                        7, 23);
    lanes16 b = __builtin_shufflevector(hi, lo, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14,
                                        30, 15, 31);
    a = a + '0' + (reinterpret_cast<lanes16>(a > 9) & 7);
    b = b + '0' + (reinterpret_cast<lanes16>(b > 9) & 7);
    std::memcpy(p, &a, 16);
    std::memcpy(p + 16, &b, 16);
}

inline void hex16_scalar(char* p, const unsigned char* s)
{
    constexpr char digits[] = "0123456789ABCDEF";
    for (int k = 0; k < 16; ++k) {
        p[2 * k] = digits[s[k] >> 4];
        p[2 * k + 1] = digits[s[k] & 15];
    }
}

}  // namespace zb
