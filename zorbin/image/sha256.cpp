// SHA-256 as FIPS 180-4 defines it; the x86 SHA extensions do two rounds an instruction,
// several times the portable code's speed.
#include "image/sha256.h"

#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define ZB_X86 1
#endif

namespace zb {

namespace {

constexpr std::array<std::uint32_t, 64> k{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotr(std::uint32_t x, int n) { return x >> n | x << (32 - n); }

std::uint32_t be32(const unsigned char* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void blocks_portable(std::array<std::uint32_t, 8>& h, const unsigned char* p, std::size_t n)
{
    for (; n > 0; --n, p += 64) {
        std::array<std::uint32_t, 64> w;
        for (int i = 0; i < 16; ++i)
            w[i] = be32(p + 4 * i);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6],
                      hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) +
                                     ((e & f) ^ (~e & g)) + k[i] + w[i];
            const std::uint32_t t2 =
                (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
    }
}

#ifdef ZB_X86
// The state as the instructions hold it, ABEF and CDGH; each group of four rounds takes its
// four message words, and makes those of a group three and four ahead.
[[gnu::target("sha,sse4.1")]] void blocks_sha(std::array<std::uint32_t, 8>& h,
                                              const unsigned char* p, std::size_t n)
{
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0b, 0x0405060700010203);
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&h[0]));    // DCBA
    __m128i cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&h[4])); // HGFE
    t = _mm_shuffle_epi32(t, 0xB1);                                           // CDAB
    cdgh = _mm_shuffle_epi32(cdgh, 0x1B);                                     // EFGH
    __m128i abef = _mm_alignr_epi8(t, cdgh, 8);                               // ABEF
    cdgh = _mm_blend_epi16(cdgh, t, 0xF0);                                    // CDGH
    for (; n > 0; --n, p += 64) {
        const __m128i abef0 = abef, cdgh0 = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            __m128i& cur = w[g % 4];
            if (g < 4)
                cur = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), swap);
            const __m128i kg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&k[4 * g]));
            __m128i m = _mm_add_epi32(cur, kg);
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, m);
            if (g >= 3 && g <= 14) {
                __m128i& next = w[(g + 1) % 4];
                next = _mm_add_epi32(next, _mm_alignr_epi8(cur, w[(g + 3) % 4], 4));
                next = _mm_sha256msg2_epu32(next, cur);
            }
            m = _mm_shuffle_epi32(m, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, m);
            if (g >= 1 && g <= 12)
                w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], cur);
        }
        abef = _mm_add_epi32(abef, abef0);
        cdgh = _mm_add_epi32(cdgh, cdgh0);
    }
    t = _mm_shuffle_epi32(abef, 0x1B);                     // FEBA
    cdgh = _mm_shuffle_epi32(cdgh, 0xB1);                  // DCHG
    abef = _mm_blend_epi16(t, cdgh, 0xF0);                 // DCBA
    cdgh = _mm_alignr_epi8(cdgh, t, 8);                    // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&h[0]), abef);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&h[4]), cdgh);
}
#endif

void blocks(std::array<std::uint32_t, 8>& h, const unsigned char* p, std::size_t n, sha_path path)
{
#ifdef ZB_X86
    if (path == sha_path::fastest && sha_hardware())
        return blocks_sha(h, p, n);
#endif
    (void)path;
    blocks_portable(h, p, n);
}

}  // namespace

bool sha_hardware()
{
#ifdef ZB_X86
    // Asked of the processor itself: not every compiler's __builtin_cpu_supports knows "sha".
    static const bool has = [] {
        unsigned a, b, c, d;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3))
            return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA) != 0;
    }();
    return has;
#else
    return false;
#endif
}

void sha256_add(sha256_state& s, std::span<const unsigned char> bytes, sha_path path)
{
    const unsigned char* p = bytes.data();
    std::size_t n = bytes.size();
    s.bytes += n;
    if (s.held > 0) {
        const std::size_t take = std::min(n, 64 - s.held);
        std::copy_n(p, take, s.block.begin() + static_cast<std::ptrdiff_t>(s.held));
        s.held += take;
        p += take;
        n -= take;
        if (s.held < 64)
            return;
        blocks(s.h, s.block.data(), 1, path);
        s.held = 0;
    }
    blocks(s.h, p, n / 64, path);
    p += n / 64 * 64;
    s.held = n % 64;
    std::copy_n(p, s.held, s.block.begin());
}

std::array<unsigned char, 32> sha256_final(sha256_state s)
{
    // 0x80, zeros to 56 bytes past a block's start, the length in bits, big-endian.
    const std::uint64_t bits = s.bytes * 8;
    std::array<unsigned char, 72> pad{0x80};
    const std::size_t zeros = (s.held < 56 ? 56 : 120) - s.held;
    for (int i = 0; i < 8; ++i)
        pad[zeros + static_cast<std::size_t>(i)] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    sha256_add(s, std::span(pad).first(zeros + 8), sha_path::portable);
    std::array<unsigned char, 32> out{};
    for (std::size_t i = 0; i < 32; ++i)
        out[i] = static_cast<unsigned char>(s.h[i / 4] >> (24 - 8 * (i % 4)));
    return out;
}

}  // namespace zb
