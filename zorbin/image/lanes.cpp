// Whole words of an image, its bytes in address order, -swap and -split.
#include "image/lanes.h"

#include <algorithm>
#include <cstring>

namespace zb {

namespace {

lane_error err(lane_fault f, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0)
{
    return {f, a, b, c};
}

// A new image with in's entry point, kind and notes, and none of its bytes.
image like(const image& in)
{
    image out;
    out.entry = in.entry;
    out.kind = in.kind;
    out.notes = in.notes;
    return out;
}

void reverse_words(std::span<unsigned char> s, unsigned w)
{
    for (std::size_t k = 0; k + w <= s.size(); k += w)
        std::reverse(s.begin() + static_cast<std::ptrdiff_t>(k),
                     s.begin() + static_cast<std::ptrdiff_t>(k + w));
}

// The bytes of p that lie in the lane, in address order, to to.
void copy_lane(const part& p, std::uint64_t n, std::uint64_t k, std::uint64_t w,
               unsigned char* to, std::size_t count)
{
    const std::uint64_t lo = p.from.load, end = end_of(p);
    const unsigned char* s = p.data.data();
    // The first chunk (w bytes at a multiple of w) of the lane at or after the one lo is in.
    std::uint64_t c = lo / w;
    c += (k + n - c % n) % n;
    if (w == 1) {
        for (std::size_t i = 0; i < count; ++i)
            to[i] = s[c - lo + i * n];
        return;
    }
    for (std::size_t got = 0; got < count; c += n) {
        const std::uint64_t from = std::max(lo, c * w), till = std::min(end, c * w + w);
        std::memcpy(to + got, s + (from - lo), static_cast<std::size_t>(till - from));
        got += static_cast<std::size_t>(till - from);
    }
}

}  // namespace

std::string lane_message(const lane_error& e, std::string_view infile)
{
    const std::string in(infile);
    switch (e.f) {
    case lane_fault::none:
        break;
    case lane_fault::width:
        return "-swap takes a word of 2, 4 or 8 bytes, not " + std::to_string(e.a) + "\n";
    case lane_fault::lanes:
        return "-split needs 1 or more lanes, not 0\n";
    case lane_fault::lane:
        return "-split " + std::to_string(e.b) + " " + std::to_string(e.a) +
               ": the lane must be one of 0 to " + std::to_string(e.b - 1) + "\n";
    case lane_fault::lane_width:
        return "-split takes lanes 1 or more bytes wide, not 0\n";
    case lane_fault::misaligned:
        return "The block of " + in + " at " + hex_text(e.a) + " to " + hex_text(e.b - 1) +
               " is not in whole " + std::to_string(e.c) +
               "-byte words; give -fill to pad its ends\n";
    case lane_fault::too_high:
        return "The block of " + in + " at " + hex_text(e.a) +
               " reaches the top of the address space, where no whole word fits\n";
    case lane_fault::lane_empty:
        return "Lane " + std::to_string(e.a) + " of " + std::to_string(e.b) + " of " + in +
               " holds no byte\n";
    }
    return {};
}

lane_error check_swap(unsigned w)
{
    return w == 2 || w == 4 || w == 8 ? lane_error{} : err(lane_fault::width, w);
}

lane_error check_split(std::uint32_t n, std::uint32_t k, std::uint32_t w)
{
    if (n == 0)
        return err(lane_fault::lanes);
    if (k >= n)
        return err(lane_fault::lane, k, n);
    if (w == 0)
        return err(lane_fault::lane_width);
    return {};
}

std::uint64_t lane_below(std::uint64_t x, std::uint64_t n, std::uint64_t k, std::uint64_t w)
{
    const std::uint64_t period = n * w, in = x % period;
    return x / period * w + std::clamp<std::uint64_t>(in, k * w, k * w + w) - k * w;
}

lane_error word_spans(std::span<const block> blocks, unsigned w, bool fill,
                      std::vector<span_of>& out)
{
    out.clear();
    for (const block& b : blocks) {
        const std::uint64_t n = b.size();
        if (n == 0)
            continue;
        if (b.base > word_top || n > word_top - b.base)
            return err(lane_fault::too_high, b.base);
        const std::uint64_t end = b.base + n;
        const std::uint64_t lo = b.base / w * w, hi = (end + w - 1) / w * w;
        if (!fill && (lo != b.base || hi != end))
            return err(lane_fault::misaligned, b.base, end, w);
        if (!out.empty() && lo <= out.back().end)
            out.back().end = std::max(out.back().end, hi);
        else
            out.push_back({lo, hi});
    }
    return {};
}

void byte_reader::read(std::uint64_t addr, std::size_t n, unsigned char* to)
{
    if (!started) {
        started = true;
        b = k = 0;
        at = blocks.empty() ? 0 : blocks[0].base;
    }
    while (n > 0) {
        // On to the first piece that ends past addr.
        while (b < blocks.size()) {
            const auto& pieces = blocks[b].pieces;
            if (k < pieces.size() && at + pieces[k].size() > addr)
                break;
            if (k < pieces.size()) {
                at += pieces[k++].size();
            } else if (++b < blocks.size()) {
                k = 0;
                at = blocks[b].base;
            }
        }
        if (b == blocks.size()) {
            std::memset(to, fill, n);
            return;
        }
        std::size_t m;
        if (addr < at) {
            m = static_cast<std::size_t>(std::min<std::uint64_t>(n, at - addr));
            std::memset(to, fill, m);
        } else {
            const auto& p = blocks[b].pieces[k];
            const auto off = static_cast<std::size_t>(addr - at);
            m = std::min(n, p.size() - off);
            std::memcpy(to, p.data() + off, m);
        }
        to += m;
        addr += m;
        n -= m;
    }
}

lane_error swap_words(const image& in, unsigned w, std::optional<unsigned char> fill,
                      image& out)
{
    if (lane_error e = check_swap(w); e.f != lane_fault::none)
        return e;
    const std::vector<block> blocks = blocks_of(in);
    std::vector<span_of> spans;
    if (lane_error e = word_spans(blocks, w, fill.has_value(), spans); e.f != lane_fault::none)
        return e;

    out = like(in);
    const unsigned char pad = fill.value_or(0);
    const std::string why = "-fill " + hex_text(pad);
    byte_reader r{blocks, pad};
    std::uint64_t padded = 0;
    std::size_t i = 0;  // the next input part
    auto fill_part = [&](std::span<unsigned char> buf, std::uint64_t lo, std::uint64_t from,
                         std::uint64_t to) {
        if (to > from) {
            out.parts.push_back({buf.subspan(static_cast<std::size_t>(from - lo),
                                             static_cast<std::size_t>(to - from)),
                                 {"fill", from, from, 0, why, true}});
            padded += to - from;
        }
    };
    for (const span_of& s : spans) {
        const auto n = static_cast<std::size_t>(s.end - s.lo);
        const std::span<unsigned char> buf = make_bytes(out, n, pad);
        r.read(s.lo, n, buf.data());
        reverse_words(buf, w);
        std::uint64_t next = s.lo;
        for (; i < in.parts.size() && in.parts[i].from.load < s.end; ++i) {
            const part& p = in.parts[i];
            if (p.data.empty())
                continue;
            fill_part(buf, s.lo, next, p.from.load);
            out.parts.push_back({buf.subspan(static_cast<std::size_t>(p.from.load - s.lo),
                                             p.data.size()),
                                 p.from});
            next = end_of(p);
        }
        fill_part(buf, s.lo, next, s.end);
    }
    out.notes.push_back("swap   " + std::to_string(w) + "-byte words, " +
                        std::to_string(padded) + " bytes of fill at their ends");
    return {};
}

lane_error split_lanes(const image& in, std::uint32_t n, std::uint32_t k, std::uint32_t w,
                       image& out)
{
    if (lane_error e = check_split(n, k, w); e.f != lane_fault::none)
        return e;
    std::uint64_t total = 0;
    for (const part& p : in.parts)
        total += lane_below(end_of(p), n, k, w) - lane_below(p.from.load, n, k, w);
    if (total == 0)
        return err(lane_fault::lane_empty, k, n);

    out = like(in);
    const std::span<unsigned char> buf = make_bytes(out, static_cast<std::size_t>(total), 0);
    std::string why = "-split " + std::to_string(n) + " " + std::to_string(k);
    if (w > 1) {
        why += ' ';
        why += std::to_string(w);
    }
    std::size_t at = 0;
    for (const part& p : in.parts) {
        const std::uint64_t lo = lane_below(p.from.load, n, k, w);
        const auto count = static_cast<std::size_t>(lane_below(end_of(p), n, k, w) - lo);
        if (count == 0)
            continue;
        copy_lane(p, n, k, w, buf.data() + at, count);
        origin o = p.from;
        o.run = o.load = lo;
        o.why = why;
        o.made = true;
        out.parts.push_back({buf.subspan(at, count), o});
        at += count;
    }
    out.notes.push_back("split  lane " + std::to_string(k) + " of " + std::to_string(n) + ", " +
                        std::to_string(w) + (w == 1 ? " byte" : " bytes") + " wide: " +
                        std::to_string(total) + " bytes");
    return {};
}

}  // namespace zb
