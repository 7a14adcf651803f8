// -range, -fill and -crc over the parts of an image, which stay sorted and apart.
#include "image/ops.h"

#include <algorithm>
#include <array>

namespace zb {

namespace {

op_error err(op_fault f, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0,
             std::uint64_t d = 0)
{
    op_error e;
    e.f = f;
    e.a = a;
    e.b = b;
    e.c = c;
    e.d = d;
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
    case op_fault::crc_outside:
        return "The CRC field at " + hex_text(e.a) + ", " + std::to_string(e.b) +
               " bytes, does not lie inside the range " + hex_text(e.c) + " to " +
               hex_text(e.d - 1) + " of -range\n";
    case op_fault::crc_holds_data:
        return "The CRC field at " + hex_text(e.a) + " holds data of " + e.name + " of " + in +
               "; give a free address, a placeholder or @symbol\n";
    case op_fault::crc_too_wide:
        return "The " + e.what + " field at " + hex_text(e.a) + " is " + std::to_string(e.b) +
               " bytes, wider than the " + std::to_string(e.c) + " bytes of " + e.name + "\n";
    case op_fault::crc_fields_overlap:
        return "The " + e.what + " field at " + hex_text(e.a) + " overlaps the " + e.name +
               " field at " + hex_text(e.b) + "\n";
    case op_fault::crc_stale:
        return "The " + e.what + " over " + hex_text(e.a) + " to " + hex_text(e.b - 1) +
               " covers the field of " + e.name + " at " + hex_text(e.c) +
               ", which is computed after it; give the -crc of that field first\n";
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
    std::uint64_t total = 0;
    for (const part& p : img.parts) {
        const std::uint64_t lo = p.from.load, end = end_of(p);
        if (end <= r.lo || lo >= r.end) {
            if (end > lo)
                out.whole.push_back(p);
            total += end - lo;
            continue;
        }
        if (lo < r.lo || end > r.end) {
            if (out.bytes == 0)
                out.first = lo < r.lo ? lo : r.end;
            const std::uint64_t cut = (end - lo) - (std::min(end, r.end) - std::max(lo, r.lo));
            out.bytes += cut;
            total += cut;
        }
        if (end > lo)
            kept.push_back(slice(p, r.lo, r.end));
    }
    if (kept.empty())
        return err(op_fault::range_empty, r.lo, r.end);
    img.parts = std::move(kept);
    img.dropped.insert(img.dropped.end(), out.whole.begin(), out.whole.end());
    img.notes.push_back("range  " + hex_text(r.lo, 8) + " to " + hex_text(r.end - 1, 8) + ", " +
                        std::to_string(total) + " bytes dropped");
    return {};
}

op_error apply_fill(image& img, unsigned char v, std::optional<span_of> r)
{
    if (!r) {
        span_of all;
        if (op_error e = raw_span(img, std::nullopt, all); e.f != op_fault::none)
            return e;
    }
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
        return {};
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
    return {};
}

namespace {

bool meets(std::uint64_t lo, std::uint64_t end, std::uint64_t lo2, std::uint64_t end2)
{
    return lo < end2 && lo2 < end;
}

std::uint64_t field_end(const crc_request& q) { return q.at + field_size(q.kind); }

// The parts that meet [lo, end), from the first on.
std::vector<part>::const_iterator first_meeting(const image& img, std::uint64_t lo)
{
    return std::partition_point(img.parts.begin(), img.parts.end(),
                                [&](const part& p) { return end_of(p) <= lo; });
}

// The range a checksum covers: -crcrange, else from the lowest address up to the field.
op_error covered_range(const image& img, const crc_request& q, span_of& c)
{
    if (q.covered) {
        c = *q.covered;
        return {};
    }
    if (q.at < lowest(img))
        return err(op_fault::crc_below, q.at, lowest(img));
    if (q.at == lowest(img))
        return err(op_fault::crc_empty, q.at);
    c = {lowest(img), q.at};
    return {};
}

// What request k asks, against the image and the other requests, before anything is computed:
// where its field lies, what it covers.
op_error check_request(const image& img, std::span<const crc_request> reqs, std::size_t k,
                       const crc_setting& how, span_of& c)
{
    const crc_request& q = reqs[k];
    const std::uint64_t size = field_size(q.kind), at = q.at, end = at + size;
    if (end > 0x100000000)
        return err(op_fault::crc_past_4g, at);
    if (how.range && (at < how.range->lo || end > how.range->end))
        return err(op_fault::crc_outside, at, size, how.range->lo, how.range->end);
    if (op_error e = covered_range(img, q, c); e.f != op_fault::none)
        return e;
    if (meets(at, end, c.lo, c.end))
        return err(op_fault::crc_overlap, c.lo, c.end, at);
    if (c.lo % alignment(q.kind) != 0 || (c.end - c.lo) % alignment(q.kind) != 0)
        return err(op_fault::crc_misaligned, c.lo, c.end);
    for (std::size_t j = 0; j < reqs.size(); ++j) {
        if (j == k || !meets(at, end, reqs[j].at, field_end(reqs[j])))
            continue;
        op_error e = err(op_fault::crc_fields_overlap, at, reqs[j].at);
        e.what = q.name;
        e.name = reqs[j].name;
        if (j < k)
            return e;
    }
    // A later checksum's field changes after this one is computed over it.
    for (std::size_t j = k + 1; j < reqs.size(); ++j)
        if (meets(c.lo, c.end, reqs[j].at, field_end(reqs[j]))) {
            op_error e = err(op_fault::crc_stale, c.lo, c.end, reqs[j].at);
            e.what = q.name;
            e.name = reqs[j].name;
            return e;
        }
    if (q.room && size > *q.room) {
        op_error e = err(op_fault::crc_too_wide, at, size, *q.room);
        e.what = q.name;
        e.name = q.symbol;
        return e;
    }
    return {};
}

bool placeholder(unsigned char b, std::optional<unsigned char> fill)
{
    return b == 0x00 || b == 0xFF || (fill && b == *fill);
}

// A field given by number may replace only bytes the link left for it: all one placeholder
// byte. A typo'd address would otherwise overwrite code without a word.
op_error check_replaced(const image& img, const crc_request& q, const crc_setting& how)
{
    if (how.verify || !q.symbol.empty())
        return {};
    const std::uint64_t end = field_end(q);
    std::optional<unsigned char> seen;
    bool mixed = false;
    const part* named = nullptr;  // the first piece of an input there, else the first at all
    for (auto p = first_meeting(img, q.at); p != img.parts.end() && p->from.load < end; ++p) {
        if (!named || (named->from.made && !p->from.made))
            named = &*p;
        for (unsigned char b : slice(*p, q.at, end).data) {
            mixed = mixed || !placeholder(b, how.fill) || (seen && b != *seen);
            seen = b;
        }
    }
    if (!mixed)
        return {};
    op_error e = err(op_fault::crc_holds_data, q.at);
    e.name = named->from.name;
    e.input = named->from.input;
    return e;
}

// The checksum over c: every covered address must hold data, as a hole would be summed as
// whatever the target's memory happens to hold there.
op_error compute(const image& img, const checksum_kind& kind, span_of c, checksum_value& v)
{
    checksum_state s = checksum_start(kind);
    std::uint64_t next = c.lo;
    for (auto p = first_meeting(img, c.lo); p != img.parts.end() && p->from.load < c.end; ++p) {
        if (p->data.empty())
            continue;
        if (p->from.load > next)
            return err(op_fault::crc_gap, c.lo, c.end, next);
        checksum_add(s, slice(*p, next, c.end).data);
        next = std::min(end_of(*p), c.end);
    }
    if (next < c.end)
        return err(op_fault::crc_gap, c.lo, c.end, next);
    v = checksum_final(s);
    return {};
}

// What the field's addresses held before: how many of them held data, and their bytes.
void read_before(const image& img, crc_result& r)
{
    std::array<unsigned char, 32> held{};
    const std::uint64_t end = r.at + r.value.size;
    bool whole = true;
    std::uint64_t next = r.at;
    for (auto p = first_meeting(img, r.at); p != img.parts.end() && p->from.load < end; ++p) {
        const part in = slice(*p, r.at, end);
        whole = whole && in.from.load == next;
        std::copy(in.data.begin(), in.data.end(), held.begin() + (in.from.load - r.at));
        r.held += in.data.size();
        next = end_of(in);
    }
    if (whole && r.held == r.value.size)
        r.before = stored_value(r.kind, std::span(held).first(r.value.size));
}

// The field in place of what lies there: the parts below it, cut at it, then the field, then
// the parts above it, cut after it.
void store(image& img, const crc_request& q, const checksum_value& v)
{
    const std::uint64_t at = q.at, end = field_end(q);
    std::span<unsigned char> field = make_bytes(img, v.size, 0);
    std::copy(v.bytes().begin(), v.bytes().end(), field.begin());
    std::vector<part> out;
    out.reserve(img.parts.size() + 2);
    for (const part& p : img.parts)
        if (p.from.load < at)
            out.push_back(end_of(p) > at ? slice(p, p.from.load, at) : p);
    out.push_back({field, made_here(q.name, at, "-crc")});
    for (const part& p : img.parts)
        if (end_of(p) > end)
            out.push_back(p.from.load < end ? slice(p, end, end_of(p)) : p);
    img.parts = std::move(out);
}

std::string order_of(const checksum_kind& k)
{
    if (k.fam == family::sha256)
        return "in digest order";
    return k.big ? "big-endian" : "little-endian";
}

std::string held_text(const crc_result& r)
{
    if (r.held == r.value.size && r.before.size == r.value.size)
        return value_text(r.kind, r.before);
    if (r.held == 0)
        return "nothing";
    return std::to_string(r.held) + " of " + std::to_string(r.value.size) + " bytes";
}

}  // namespace

op_error apply_crcs(image& img, std::span<const crc_request> reqs, const crc_setting& how,
                    std::vector<crc_result>& out)
{
    out.clear();
    for (std::size_t k = 0; k < reqs.size(); ++k) {
        const crc_request& q = reqs[k];
        span_of c;
        crc_result r{q.name, q.kind, q.at, {}, 0, {}};
        if (op_error e = check_request(img, reqs, k, how, c); e.f != op_fault::none)
            return e;
        if (op_error e = check_replaced(img, q, how); e.f != op_fault::none)
            return e;
        if (op_error e = compute(img, q.kind, c, r.value); e.f != op_fault::none)
            return e;
        read_before(img, r);
        if (!how.verify)
            store(img, q, r.value);
        img.notes.push_back("crc    " + q.name + " over " + hex_text(c.lo, 8) + " to " +
                            hex_text(c.end - 1, 8) + " = " + value_text(q.kind, r.value) +
                            (how.verify ? ", read " : ", stored ") + order_of(q.kind) + " at " +
                            hex_text(q.at, 8) +
                            (r.held && !how.verify ? ", in place of " + std::to_string(r.held) +
                                                         " bytes"
                                                   : std::string()));
        img.notes.push_back("before " + q.name + " at " + hex_text(q.at, 8) + ": " + held_text(r) +
                            (r.held == r.value.size ? r.equal() ? ", equal to the value"
                                                                : ", not equal to the value"
                                                    : std::string()));
        out.push_back(std::move(r));
    }
    return {};
}

std::string verify_line(const crc_result& r)
{
    return r.name + " at " + hex_text(r.at, 8) + ": stored " + held_text(r) + ", computed " +
           value_text(r.kind, r.value) + "\n";
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
