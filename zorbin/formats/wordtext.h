// What the writers of wide.h share: the checks of words and start, words as hex digits from
// the pair table, and the image read in chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/records.h"
#include "formats/wide.h"
#include "image/lanes.h"

namespace zb {

// The image is read a chunk at a time into a buffer that every line then formats from: a
// multiple of 16 and of every word width.
inline constexpr std::size_t chunk = 64 * 1024;

inline wide_error wide_err(wide_fault f, std::uint64_t a = 0, std::uint64_t b = 0,
                           std::uint64_t c = 0)
{
    return {f, a, b, c, {}};
}

// The width, and the spans of whole words the blocks make.
inline wide_error word_check(std::span<const block> blocks, const wide_args& a,
                             std::vector<span_of>& spans)
{
    if (wide_error e = check_width(a.width); e.f != wide_fault::none)
        return e;
    const lane_error e = word_spans(blocks, a.width, a.fill.has_value(), spans);
    if (e.f == lane_fault::misaligned)
        return wide_err(wide_fault::misaligned, e.a, e.b, e.c);
    if (e.f != lane_fault::none)
        return wide_err(wide_fault::too_high, e.a);
    return {};
}

// Where -mif and -coe begin: the -range start (a whole word, at or below the image), else
// their own default.
inline wide_error start_check(const wide_args& a, std::span<const span_of> spans,
                              std::uint64_t otherwise, std::uint64_t& start)
{
    start = a.start.value_or(otherwise);
    if (start % a.width != 0)
        return wide_err(wide_fault::start_misaligned, start, 0, a.width);
    if (!spans.empty() && start > spans.front().lo)
        return wide_err(wide_fault::start_above, start, spans.front().lo);
    return {};
}

// Room for the next line at p, flushing what is before it when p is past full (w.full(),
// which a hot loop keeps in a local): false when that failed.
inline bool line_room(out_buffer& w, char*& p, const char* full)
{
    if (p <= full) [[likely]]
        return true;
    w.commit(p);
    p = w.room();
    return p != nullptr;
}
inline bool line_room(out_buffer& w, char*& p) { return line_room(w, p, w.full()); }

// Hex digits needed for v, at least one.
inline int hex_width(std::uint64_t v)
{
    int d = 1;
    while (d < 16 && (v >> (4 * d)) != 0)
        ++d;
    return d;
}

// v in exactly d upper-case hex digits.
inline char* put_hex(char* p, std::uint64_t v, int d)
{
    for (int i = d - 1; i >= 0; --i, v >>= 4)
        p[i] = digits[v & 15];
    return p + d;
}

// The word of W bytes at s as a number: its first byte most significant (BE) or least.
template <unsigned W, bool BE>
inline std::uint64_t word_at(const unsigned char* s)
{
    std::uint64_t v = 0;
    for (unsigned j = 0; j < W; ++j)
        v |= std::uint64_t{s[j]} << (8 * (BE ? W - 1 - j : j));
    return v;
}

// A word's value in 2 W digits.
template <unsigned W>
inline char* put_word(char* p, std::uint64_t v)
{
    if constexpr (W == 1)
        return put2(p, static_cast<std::uint32_t>(v));
    else if constexpr (W == 2)
        return put4(p, static_cast<std::uint32_t>(v));
    else if constexpr (W == 4)
        return put8(p, static_cast<std::uint32_t>(v));
    else
        return put8(put8(p, static_cast<std::uint32_t>(v >> 32)), static_cast<std::uint32_t>(v));
}

// The two digits of every byte value and sep after them, in four bytes for whole copies.
template <char sep>
inline constexpr auto sep_pairs = [] {
    std::array<std::array<char, 4>, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = {digits[v >> 4], digits[v & 15], sep, 0};
    return t;
}();

// n words of W bytes from s, each in 2 W digits followed by sep: straight from the pair table
// in the order the word's value is written, most significant byte first.
template <unsigned W, bool BE, char sep>
inline char* put_words(char* p, const unsigned char* s, std::size_t n)
{
    if constexpr (W == 1) {
        for (std::size_t k = 0; k < n; ++k, p += 3)
            std::memcpy(p, sep_pairs<sep>[s[k]].data(), 4);
        return p;
    }
    for (std::size_t k = 0; k < n; ++k, s += W) {
        for (unsigned j = 0; j < W; ++j)
            p = put2(p, s[BE ? j : W - 1 - j]);
        *p++ = sep;
    }
    return p;
}

// Calls f.template operator()<W, BE>() for the width and byte order of a: each writer's loop
// made once for every word, with its width known to the compiler.
template <class F>
inline bool with_word(const wide_args& a, F&& f)
{
    auto order = [&]<unsigned W>() {
        return a.big_endian ? f.template operator()<W, true>() : f.template operator()<W, false>();
    };
    switch (a.width) {
    case 2: return order.template operator()<2>();
    case 4: return order.template operator()<4>();
    case 8: return order.template operator()<8>();
    default: return order.template operator()<1>();
    }
}

inline wide_error written(bool ok)
{
    return ok ? wide_error{} : wide_err(wide_fault::write_error);
}

// The lines of one run of whole words [lo, end) of the image at p, 16 bytes' worth a line,
// read through buf (chunk bytes): line(p, s, n, last) puts the n bytes at s (whole words),
// last telling the run's last line.
template <class L>
inline bool put_lines(out_buffer& w, char*& p, byte_reader& r, unsigned char* buf,
                      std::uint64_t lo, std::uint64_t end, L&& line)
{
    for (std::uint64_t at = lo; at < end;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, end - at));
        r.read(at, n, buf);
        for (std::size_t k = 0; k < n; k += 16) {
            if (!line_room(w, p))
                return false;
            const std::size_t m = std::min<std::size_t>(16, n - k);
            p = line(p, buf + k, m, at + k + m == end);
        }
        at += n;
    }
    return true;
}

}  // namespace zb
