// Table-driven CRCs of any model, eight bytes a step (slicing by 8), so a CRC over a large
// image costs little beside writing its records; the processor's instructions for the two
// CRC-32s it has them for.
#include "image/crc.h"

#include <memory>
#include <mutex>
#include <vector>

#include "image/image.h"
#include "image/number.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZB_X86 1
#endif

namespace zb {

// t[0] is the byte table, t[k] the same byte followed by k zero bytes. Reflected models keep
// the register in the low bits and shift right; the others keep it at the top of 64 bits and
// shift left, so a width below 8, or one not a multiple of 8, takes the same steps as 32.
struct crc_tables {
    unsigned width;
    std::uint64_t poly;
    bool refin;
    std::array<std::array<std::uint64_t, 256>, 8> t;
};

namespace {

std::uint64_t mask(unsigned w) { return w >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << w) - 1; }

std::unique_ptr<crc_tables> build(unsigned width, std::uint64_t poly, bool refin)
{
    auto tb = std::make_unique<crc_tables>(crc_tables{width, poly, refin, {}});
    auto& t = tb->t;
    if (refin) {
        const std::uint64_t p = reflect(poly, width);
        for (std::uint64_t b = 0; b < 256; ++b) {
            std::uint64_t c = b;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? (c >> 1) ^ p : c >> 1;
            t[0][b] = c;
        }
        for (std::size_t k = 1; k < 8; ++k)
            for (std::size_t b = 0; b < 256; ++b)
                t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    } else {
        const std::uint64_t p = poly << (64 - width);
        for (std::uint64_t b = 0; b < 256; ++b) {
            std::uint64_t c = b << 56;
            for (int k = 0; k < 8; ++k)
                c = c >> 63 ? (c << 1) ^ p : c << 1;
            t[0][b] = c;
        }
        for (std::size_t k = 1; k < 8; ++k)
            for (std::size_t b = 0; b < 256; ++b)
                t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 56];
    }
    return tb;
}

// The tables of a polynomial, built the first time a run asks for them.
const crc_tables* tables_for(const crc_model& m)
{
    static std::mutex lock;
    static std::vector<std::unique_ptr<crc_tables>> made;
    const std::lock_guard<std::mutex> hold(lock);
    for (const auto& t : made)
        if (t->width == m.width && t->poly == m.poly && t->refin == m.refin)
            return t.get();
    made.push_back(build(m.width, m.poly, m.refin));
    return made.back().get();
}

std::uint64_t le32(const unsigned char* p)
{
    return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
           std::uint64_t{p[3]} << 24;
}

std::uint64_t be32(const unsigned char* p)
{
    return std::uint64_t{p[3]} | std::uint64_t{p[2]} << 8 | std::uint64_t{p[1]} << 16 |
           std::uint64_t{p[0]} << 24;
}

// Eight bytes as they are fed, the first in the register's first-shifted place: for a
// reflected model the lowest, for the others the highest. With words, each group of four is
// fed from its last byte.
template <bool refin, bool words>
std::uint64_t load8(const unsigned char* p)
{
    if constexpr (refin)
        return words ? be32(p) | be32(p + 4) << 32 : le32(p) | le32(p + 4) << 32;
    else
        return words ? le32(p) << 32 | le32(p + 4) : be32(p) << 32 | be32(p + 4);
}

template <bool refin>
std::uint64_t step(const crc_tables& tb, std::uint64_t r, unsigned char b)
{
    if constexpr (refin)
        return (r >> 8) ^ tb.t[0][(r ^ b) & 0xFF];
    else
        return (r << 8) ^ tb.t[0][(r >> 56) ^ b];
}

// n bytes (with words, a multiple of 4).
template <bool refin, bool words>
std::uint64_t add_table(const crc_tables& tb, std::uint64_t r, const unsigned char* p,
                        std::size_t n)
{
    const auto& t = tb.t;
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint64_t x = r ^ load8<refin, words>(p);
        if constexpr (refin)
            r = t[7][x & 0xFF] ^ t[6][(x >> 8) & 0xFF] ^ t[5][(x >> 16) & 0xFF] ^
                t[4][(x >> 24) & 0xFF] ^ t[3][(x >> 32) & 0xFF] ^ t[2][(x >> 40) & 0xFF] ^
                t[1][(x >> 48) & 0xFF] ^ t[0][x >> 56];
        else
            r = t[7][x >> 56] ^ t[6][(x >> 48) & 0xFF] ^ t[5][(x >> 40) & 0xFF] ^
                t[4][(x >> 32) & 0xFF] ^ t[3][(x >> 24) & 0xFF] ^ t[2][(x >> 16) & 0xFF] ^
                t[1][(x >> 8) & 0xFF] ^ t[0][x & 0xFF];
    }
    if constexpr (words) {
        if (n >= 4)
            for (int k = 3; k >= 0; --k)
                r = step<refin>(tb, r, p[k]);
    } else {
        for (; n > 0; --n, ++p)
            r = step<refin>(tb, r, *p);
    }
    return r;
}

#ifdef ZB_X86
// CRC-32C by the SSE4.2 crc32 instruction, eight bytes an instruction: the register is the
// reflected one the tables keep.
[[gnu::target("sse4.2")]] std::uint64_t add_crc32c(std::uint64_t c, const unsigned char* p,
                                                    std::size_t n)
{
    for (; n >= 8; n -= 8, p += 8)
        c = _mm_crc32_u64(c, le32(p) | le32(p + 4) << 32);
    for (; n > 0; --n, ++p)
        c = _mm_crc32_u8(static_cast<std::uint32_t>(c), *p);
    return c;
}

// Folding by carry-less multiplication, 64 bytes a step: several times the tables' speed.
// The constants are x^(k) mod P for the reflected polynomial (k1..k5), and P with its Barrett
// constant. n is a multiple of 16, at least 64; c is the register, not yet inverted.
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

// Asked once per run. __builtin_cpu_init comes first: a checksum made while static objects
// are built could otherwise ask before the runtime has looked at the processor.
bool cpu_has(crc_accel a)
{
    static const bool sse42 = (__builtin_cpu_init(), __builtin_cpu_supports("sse4.2"));
    static const bool clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return a == crc_accel::crc32c_sse42 ? sse42 : clmul;
}
#endif

std::uint64_t add_fast(const crc_state& s, std::uint64_t r, const unsigned char* p, std::size_t n)
{
#ifdef ZB_X86
    switch (s.accel) {
    case crc_accel::crc32c_sse42:
        return add_crc32c(r, p, n);
    case crc_accel::crc32_clmul:
        if (n >= 256) {
            const std::size_t m = n & ~std::size_t{15};
            r = fold_reflected(static_cast<std::uint32_t>(r), p, m);
            p += m;
            n -= m;
        }
        return add_table<true, false>(*s.tables, r, p, n);
    case crc_accel::none:
        break;
    }
#endif
    (void)s;
    return r;
}

std::uint64_t add_any(const crc_state& s, const unsigned char* p, std::size_t n, crc_path path)
{
    if (path == crc_path::fastest && s.accel != crc_accel::none && !s.words)
        return add_fast(s, s.reg, p, n);
    const crc_tables& t = *s.tables;
    if (s.model.refin)
        return s.words ? add_table<true, true>(t, s.reg, p, n)
                       : add_table<true, false>(t, s.reg, p, n);
    return s.words ? add_table<false, true>(t, s.reg, p, n)
                   : add_table<false, false>(t, s.reg, p, n);
}

std::optional<std::string> bool_field(std::string_view name, std::string_view v, bool& out)
{
    auto is = [&](std::string_view w) {
        if (v.size() != w.size())
            return false;
        for (std::size_t k = 0; k < v.size(); ++k)
            if ((v[k] >= 'A' && v[k] <= 'Z' ? v[k] - 'A' + 'a' : v[k]) != w[k])
                return false;
        return true;
    };
    if (!is("true") && !is("false"))
        return std::string(name) + " " + std::string(v) + " is not true or false";
    out = is("true");
    return std::nullopt;
}

std::optional<std::string> number_field(std::string_view name, std::string_view v,
                                        std::uint64_t& out)
{
    if (v.empty())
        return std::string(name) + " is missing";
    auto n = parse_number(v, ~std::uint64_t{0}, true);
    if (!n)
        return std::string(name) + " " + std::string(v) + " is not a number below 2^64";
    out = *n;
    return std::nullopt;
}

}  // namespace

std::uint64_t reflect(std::uint64_t v, unsigned w)
{
    std::uint64_t r = 0;
    for (unsigned k = 0; k < w; ++k, v >>= 1)
        r = r << 1 | (v & 1);
    return r;
}

std::optional<std::string> model_fault(const crc_model& m)
{
    if (m.width < 1 || m.width > 64)
        return "WIDTH " + std::to_string(m.width) + " is not 1 to 64";
    const std::pair<const char*, std::uint64_t> values[]{
        {"POLY", m.poly}, {"INIT", m.init}, {"XOROUT", m.xorout}};
    for (const auto& [name, v] : values)
        if (v & ~mask(m.width))
            return std::string(name) + " " + hex_text(v) + " is wider than " +
                   std::to_string(m.width) + (m.width == 1 ? " bit" : " bits");
    return std::nullopt;
}

std::optional<std::string> parse_model(std::string_view fields, crc_model& out)
{
    std::array<std::string_view, 6> f;
    std::size_t count = 0;
    for (std::size_t at = 0;; ++count) {
        const std::size_t colon = fields.find(':', at);
        if (count < f.size())
            f[count] = fields.substr(at, colon == std::string_view::npos ? colon : colon - at);
        if (colon == std::string_view::npos)
            break;
        at = colon + 1;
    }
    if (++count != f.size())
        return "a CRC model has 6 fields, WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT, not " +
               std::to_string(count);
    crc_model m;
    std::uint64_t width = 0;
    if (auto e = number_field("WIDTH", f[0], width))
        return e;
    if (width < 1 || width > 64)
        return "WIDTH " + std::to_string(width) + " is not 1 to 64";
    m.width = static_cast<unsigned>(width);
    std::optional<std::string> e;
    if ((e = number_field("POLY", f[1], m.poly)) || (e = number_field("INIT", f[2], m.init)) ||
        (e = bool_field("REFIN", f[3], m.refin)) || (e = bool_field("REFOUT", f[4], m.refout)) ||
        (e = number_field("XOROUT", f[5], m.xorout)))
        return e;
    if ((e = model_fault(m)))
        return e;
    out = m;
    return std::nullopt;
}

crc_accel accel_for(const crc_model& m, bool words)
{
#ifdef ZB_X86
    if (!words && m.width == 32 && m.refin) {
        if (m.poly == 0x1EDC6F41 && cpu_has(crc_accel::crc32c_sse42))
            return crc_accel::crc32c_sse42;
        if (m.poly == 0x04C11DB7 && cpu_has(crc_accel::crc32_clmul))
            return crc_accel::crc32_clmul;
    }
#endif
    (void)m;
    (void)words;
    return crc_accel::none;
}

crc_state crc_start(const crc_model& m, bool words)
{
    crc_state s;
    s.model = m;
    s.words = words;
    s.tables = tables_for(m);
    s.accel = accel_for(m, words);
    s.reg = m.refin ? reflect(m.init, m.width) : m.init << (64 - m.width);
    return s;
}

void crc_add(crc_state& s, std::span<const unsigned char> bytes, crc_path path)
{
    const unsigned char* p = bytes.data();
    std::size_t n = bytes.size();
    if (!s.words) {
        s.reg = add_any(s, p, n, path);
        return;
    }
    // A piece may end inside a word: its bytes wait for the rest.
    while (n > 0 && s.held > 0) {
        s.word[s.held++] = *p++;
        --n;
        if (s.held == 4) {
            s.reg = add_any(s, s.word.data(), 4, path);
            s.held = 0;
        }
    }
    s.reg = add_any(s, p, n / 4 * 4, path);
    p += n / 4 * 4;
    for (n %= 4; n > 0; --n)
        s.word[s.held++] = *p++;
}

std::uint64_t crc_final(const crc_state& s)
{
    const crc_model& m = s.model;
    // The register as the model's definition holds it, most significant bit first.
    const std::uint64_t reg = m.refin ? reflect(s.reg, m.width) : s.reg >> (64 - m.width);
    return (m.refout ? reflect(reg, m.width) : reg) ^ m.xorout;
}

}  // namespace zb
