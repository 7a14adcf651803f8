// Table-driven checksums, eight bytes a step where the polynomial allows (slicing by 8), so a
// CRC over a large image costs little beside writing its records.
#include "image/crc.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZB_CLMUL 1
#endif

namespace zb {

namespace {

using table8 = std::array<std::array<std::uint32_t, 256>, 8>;

// Reflected CRC-32 (polynomial 0xEDB88320): t[0] is the byte table, t[k] the same byte k
// places further back.
constexpr table8 reflected = [] {
    table8 t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? (c >> 1) ^ 0xEDB88320 : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}();

// Non-reflected CRC-32 (polynomial 0x04C11DB7), most significant bit first.
constexpr table8 forward = [] {
    table8 t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b << 24;
        for (int k = 0; k < 8; ++k)
            c = c & 0x80000000 ? (c << 1) ^ 0x04C11DB7 : c << 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
    return t;
}();

// CRC-16/XMODEM (polynomial 0x1021), most significant bit first.
constexpr std::array<std::uint16_t, 256> xmodem = [] {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b << 8;
        for (int k = 0; k < 8; ++k)
            c = c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1;
        t[b] = static_cast<std::uint16_t>(c);
    }
    return t;
}();

std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

#ifdef ZB_CLMUL
// Folding by carry-less multiplication, 64 bytes a step, where the processor has it: about
// five times the table's speed, so a checksum over a large image costs little beside writing
// it. The constants are x^(k) mod P for the reflected polynomial (k1..k5), and P with its
// Barrett constant. n is a multiple of 16, at least 64; c is the register, not yet inverted.
[[gnu::target("pclmul,sse4.1")]] inline __m128i load(const unsigned char* q)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x multiplied on by k, its two halves apart, and added to next.
[[gnu::target("pclmul,sse4.1")]] inline __m128i fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

[[gnu::target("pclmul,sse4.1")]] std::uint32_t fold_reflected(std::uint32_t c,
                                                               const unsigned char* p,
                                                               std::size_t n)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    for (p += 64, n -= 64; n >= 64; p += 64, n -= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(fold(fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; n >= 16; p += 16, n -= 16)
        x1 = fold(x1, k3k4, load(p));

    // 128 bits to 64, then Barrett reduction to 32.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k5k0, 0x00),
                      _mm_srli_si128(x, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

const bool has_clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif

std::uint32_t add_reflected(std::uint32_t c, const unsigned char* p, std::size_t n)
{
#ifdef ZB_CLMUL
    if (has_clmul && n >= 256) {
        const std::size_t m = n & ~std::size_t{15};
        c = fold_reflected(c, p, m);
        p += m;
        n -= m;
    }
#endif
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t a = le32(p) ^ c, b = le32(p + 4);
        c = reflected[7][a & 0xFF] ^ reflected[6][(a >> 8) & 0xFF] ^
            reflected[5][(a >> 16) & 0xFF] ^ reflected[4][a >> 24] ^
            reflected[3][b & 0xFF] ^ reflected[2][(b >> 8) & 0xFF] ^
            reflected[1][(b >> 16) & 0xFF] ^ reflected[0][b >> 24];
    }
    for (; n > 0; --n, ++p)
        c = (c >> 8) ^ reflected[0][(c ^ *p) & 0xFF];
    return c;
}

// Whole 32-bit little-endian words, each fed most significant byte first, two a step.
std::uint32_t add_words(std::uint32_t c, const unsigned char* p, std::size_t words)
{
    for (; words >= 2; words -= 2, p += 8) {
        const std::uint32_t a = le32(p) ^ c, b = le32(p + 4);
        c = forward[7][a >> 24] ^ forward[6][(a >> 16) & 0xFF] ^ forward[5][(a >> 8) & 0xFF] ^
            forward[4][a & 0xFF] ^ forward[3][b >> 24] ^ forward[2][(b >> 16) & 0xFF] ^
            forward[1][(b >> 8) & 0xFF] ^ forward[0][b & 0xFF];
    }
    if (words == 1) {
        const std::uint32_t a = le32(p) ^ c;
        c = forward[3][a >> 24] ^ forward[2][(a >> 16) & 0xFF] ^ forward[1][(a >> 8) & 0xFF] ^
            forward[0][a & 0xFF];
    }
    return c;
}

std::uint32_t add_xmodem(std::uint32_t c, const unsigned char* p, std::size_t n)
{
    for (; n > 0; --n, ++p)
        c = ((c << 8) ^ xmodem[((c >> 8) ^ *p) & 0xFF]) & 0xFFFF;
    return c;
}

}  // namespace

crc_state crc_start(crc_kind kind)
{
    return {kind, kind == crc_kind::crc16 ? 0u : 0xFFFFFFFFu};
}

void crc_add(crc_state& s, std::span<const unsigned char> bytes)
{
    const unsigned char* p = bytes.data();
    std::size_t n = bytes.size();
    switch (s.kind) {
    case crc_kind::crc32:
    case crc_kind::crc32be:
        s.value = add_reflected(s.value, p, n);
        return;
    case crc_kind::crc16:
        s.value = add_xmodem(s.value, p, n);
        return;
    case crc_kind::stm32:
        // A piece may end inside a word: its bytes wait for the rest.
        while (n > 0 && s.held > 0) {
            s.word[s.held++] = *p++;
            --n;
            if (s.held == 4) {
                s.value = add_words(s.value, s.word.data(), 1);
                s.held = 0;
            }
        }
        s.value = add_words(s.value, p, n / 4);
        p += n / 4 * 4;
        for (n %= 4; n > 0; --n)
            s.word[s.held++] = *p++;
        return;
    }
}

std::uint32_t crc_final(const crc_state& s)
{
    switch (s.kind) {
    case crc_kind::crc32:
    case crc_kind::crc32be:
        return s.value ^ 0xFFFFFFFF;
    case crc_kind::crc16:
    case crc_kind::stm32:
        break;
    }
    return s.value;
}

}  // namespace zb
