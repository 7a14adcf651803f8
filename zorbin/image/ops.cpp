// -range, -fill and -crc over the parts of an image, which stay sorted and apart.
#include "image/ops.h"

#include <algorithm>

namespace zb {

namespace {

op_error err(op_fault f, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0)
{
    op_error e;
    e.f = f;
    e.a = a;
    e.b = b;
    e.c = c;
    return e;
}

origin made_here(std::string name, std::uint64_t at, std::string why)
{
    return {std::move(name), at, at, 0, std::move(why), true};
}

// Fill parts for [lo, end) out of one buffer of v, at most a chunk long, shared by them all.
constexpr std::uint64_t fill_chunk = 1u << 20;

void fill_gap(std::vector<part>& out, std::span<const unsigned char> chunk, std::uint64_t lo,
              std::uint64_t end, const std::string& why)
{
    for (std::uint64_t at = lo; at < end;) {
        const std::uint64_t n = std::min<std::uint64_t>(end - at, chunk.size());
        out.push_back({chunk.first(static_cast<std::size_t>(n)), made_here("fill", at, why)});
        at += n;
    }
}

}  // namespace

std::string op_message(const op_error& e, std::string_view infile)
{
    const std::string in(infile);
    switch (e.f) {
    case op_fault::none:
        break;
    case op_fault::range_empty:
        return "Nothing of " + in + " lies in the range " + hex_text(e.a) + " to " + hex_text(e.b - 1) +
               " of -range\n";
    case op_fault::crc_empty:
        return "The CRC field at " + hex_text(e.a) + " is the lowest address of " + in +
               ": nothing to cover; give -crcrange lo size\n";
    case op_fault::crc_below:
        return "The CRC field at " + hex_text(e.a) + " lies below " + in + ", which starts at " +
               hex_text(e.b) + "; give -crcrange lo size\n";
    case op_fault::crc_gap:
        return "The CRC range " + hex_text(e.a) + " to " + hex_text(e.b - 1) + " of " + in +
               " has no data at " + hex_text(e.c) + "; fill the gaps with -fill\n";
    case op_fault::crc_overlap:
        return "The CRC field at " + hex_text(e.c) + " lies inside the range it covers, " + hex_text(e.a) +
               " to " + hex_text(e.b - 1) + "\n";
    case op_fault::crc_misaligned:
        return "The stm32 CRC range " + hex_text(e.a) + " to " + hex_text(e.b - 1) +
               " must start and end on a multiple of 4\n";
    case op_fault::crc_past_4g:
        return "The CRC field at " + hex_text(e.a) + " runs past 4 GiB\n";
    case op_fault::raw_too_wide:
        return "Raw image of " + in + " would be " + std::to_string(e.a) +
               " bytes, more than 16 MiB: the widest gap, " + std::to_string(e.b) +
               " bytes, lies before " + e.name + " at " + hex_text(e.c) +
               "; give -range lo size for the part to write\n";
    }
    return {};
}

op_error apply_range(image& img, span_of r, dropped& out)
{
    std::vector<part> kept;
    out = {};
    for (const part& p : img.parts) {
        const std::uint64_t lo = p.from.load, end = end_of(p);
        if (lo < r.lo || end > r.end) {
            const std::uint64_t first = lo < r.lo ? lo : std::max(lo, r.end);
            if (out.bytes == 0)
                out.first = first;
            const std::uint64_t inside =
                end <= r.lo || lo >= r.end ? 0 : std::min(end, r.end) - std::max(lo, r.lo);
            out.bytes += (end - lo) - inside;
        }
        if (end > r.lo && lo < r.end && end > lo)
            kept.push_back(slice(p, r.lo, r.end));
    }
    if (kept.empty())
        return err(op_fault::range_empty, r.lo, r.end);
    img.parts = std::move(kept);
    img.notes.push_back("range  " + hex_text(r.lo, 8) + " to " + hex_text(r.end - 1, 8) + ", " +
                        std::to_string(out.bytes) + " bytes dropped");
    return {};
}

void apply_fill(image& img, unsigned char v, std::optional<span_of> r)
{
    const std::uint64_t lo = r ? r->lo : lowest(img), end = r ? r->end : end_of(img);
    std::uint64_t widest = 0, gaps = 0, bytes = 0;
    std::uint64_t next = lo;
    for (const part& p : img.parts) {
        widest = std::max(widest, p.from.load - next);
        next = end_of(p);
    }
    widest = std::max(widest, end - next);
    if (widest == 0) {
        img.notes.push_back("fill   " + hex_text(v) + ", no gaps");
        return;
    }
    const std::span<const unsigned char> chunk =
        make_bytes(img, static_cast<std::size_t>(std::min(widest, fill_chunk)), v);
    const std::string why = "-fill " + hex_text(v);
    std::vector<part> out;
    out.reserve(img.parts.size() * 2 + 1);
    next = lo;
    auto gap = [&](std::uint64_t to) {
        if (to > next) {
            fill_gap(out, chunk, next, to, why);
            gaps++;
            bytes += to - next;
        }
    };
    for (const part& p : img.parts) {
        gap(p.from.load);
        out.push_back(p);
        next = end_of(p);
    }
    gap(end);
    img.parts = std::move(out);
    img.notes.push_back("fill   " + hex_text(v) + ", " + std::to_string(gaps) + " gaps, " +
                        std::to_string(bytes) + " bytes");
}

op_error apply_crc(image& img, const crc_request& req)
{
    const std::size_t size = field_size(req.kind);
    const std::uint64_t at = req.at, field_end = at + size;
    if (field_end > 0x100000000)
        return err(op_fault::crc_past_4g, at);
    span_of c;
    if (req.covered) {
        c = *req.covered;
    } else {
        if (at < lowest(img))
            return err(op_fault::crc_below, at, lowest(img));
        if (at == lowest(img))
            return err(op_fault::crc_empty, at);
        c = {lowest(img), at};
    }
    if (at < c.end && field_end > c.lo)
        return err(op_fault::crc_overlap, c.lo, c.end, at);
    if (c.lo % alignment(req.kind) != 0 || (c.end - c.lo) % alignment(req.kind) != 0)
        return err(op_fault::crc_misaligned, c.lo, c.end);

    // Every covered address must hold data: a hole would be summed as whatever the target's
    // memory happens to hold there.
    checksum_state s = checksum_start(req.kind);
    std::uint64_t next = c.lo;
    auto first = std::partition_point(img.parts.begin(), img.parts.end(),
                                      [&](const part& p) { return end_of(p) <= c.lo; });
    for (auto p = first; p != img.parts.end() && p->from.load < c.end; ++p) {
        if (p->data.empty())
            continue;
        if (p->from.load > next)
            return err(op_fault::crc_gap, c.lo, c.end, next);
        checksum_add(s, slice(*p, next, c.end).data);
        next = std::min(end_of(*p), c.end);
    }
    if (next < c.end)
        return err(op_fault::crc_gap, c.lo, c.end, next);
    const checksum_value value = checksum_final(s);

    std::span<unsigned char> field = make_bytes(img, size, 0);
    std::copy(value.bytes().begin(), value.bytes().end(), field.begin());
    // The field takes the place of what lies there (a placeholder the linker reserved):
    // the parts below it, cut at it, then the field, then the parts above it, cut after it.
    std::vector<part> out;
    out.reserve(img.parts.size() + 2);
    std::uint64_t replaced = 0;
    for (const part& p : img.parts) {
        if (p.from.load < at)
            out.push_back(end_of(p) > at ? slice(p, p.from.load, at) : p);
        if (p.from.load < field_end && end_of(p) > at)
            replaced += std::min(end_of(p), field_end) - std::max(p.from.load, at);
    }
    out.push_back({field, made_here(req.name, at, "-crc")});
    for (const part& p : img.parts)
        if (end_of(p) > field_end)
            out.push_back(p.from.load < field_end ? slice(p, field_end, end_of(p)) : p);
    img.parts = std::move(out);
    img.notes.push_back("crc    " + req.name + " over " + hex_text(c.lo, 8) + " to " +
                        hex_text(c.end - 1, 8) + " = " + value_text(req.kind, value) + ", stored " +
                        (req.kind.big ? "big" : "little") + "-endian at " + hex_text(at, 8) +
                        (replaced ? ", in place of " + std::to_string(replaced) + " bytes"
                                  : std::string()));
    return {};
}

op_error raw_span(const image& img, std::optional<span_of> r, span_of& out)
{
    if (r) {
        out = *r;
        return {};
    }
    out = {lowest(img), end_of(img)};
    // Name the widest gap: most often a RAM section left in a flash image. An image without
    // gaps is as large as its data, whatever its size.
    op_error e = err(op_fault::raw_too_wide, out.end - out.lo);
    for (std::size_t k = 1; k < img.parts.size(); ++k) {
        const std::uint64_t gap = img.parts[k].from.load - end_of(img.parts[k - 1]);
        if (gap > e.b) {
            e.b = gap;
            e.c = img.parts[k].from.load;
            e.name = img.parts[k].from.name;
            e.input = img.parts[k].from.input;
        }
    }
    return out.end - out.lo > raw_max && e.b > 0 ? e : op_error{};
}

}  // namespace zb
