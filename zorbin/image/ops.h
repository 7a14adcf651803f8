// The operations on an image, in the order a run applies them after -base: -range, -fill,
// -crc. Each checks what it is asked before it changes anything, and says what it did in the
// image's notes for -info.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"
#include "image/sum.h"

namespace zb {

// The addresses [lo, end).
struct span_of {
    std::uint64_t lo = 0, end = 0;
};

enum class op_fault {
    none,
    range_empty,         // nothing of the image lies in -range
    crc_empty,           // the covered range holds no address (the field at the lowest one)
    crc_below,           // the field lies below the image and no -crcrange says what to cover
    crc_gap,             // an address of the covered range holds no data
    crc_overlap,         // the field lies inside the covered range
    crc_misaligned,      // stm32: covered start or length not a multiple of 4
    crc_past_4g,         // the field runs past 4 GiB
    crc_outside,         // the field (a, b bytes) does not lie inside -range [c, d)
    crc_holds_data,      // the field at a would replace data of piece name, not a placeholder
    crc_too_wide,        // the field at a, b bytes, is wider than the c bytes of symbol name
    crc_fields_overlap,  // the field what at a overlaps the earlier field name at b
    crc_stale,           // what over [a, b) covers the field of the later name at c
    raw_too_wide,        // -raw (or -fill) without -range over more than raw_max bytes, gaps
                         // among them
};

// A fault and the addresses its message names: a, b, c, d as the message table says.
struct op_error {
    op_fault f = op_fault::none;
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
    std::string name;       // a piece's name, for raw_too_wide and crc_holds_data; a kind's
    std::string what;       // a kind's name
    std::size_t input = 0;  // the input the piece came from (origin::input)
};

std::string op_message(const op_error& e, std::string_view infile);

// What -range dropped, for its warnings: the pieces that lie wholly outside it, which also go
// to the image's dropped pieces, and the bytes cut off the pieces it keeps a part of.
struct dropped {
    std::vector<part> whole;
    std::uint64_t bytes = 0;  // cut off pieces partly inside
    std::uint64_t first = 0;  // the lowest address of those
};

// Drops the data outside r (which must hold at least one address).
op_error apply_range(image& img, span_of r, dropped& out);

// Fills every address without data between the image's lowest and highest, or every one of
// r when given, with v. Without r, a span past raw_max with gaps is refused as -raw refuses it:
// most often a RAM section left in a flash image, whose fill would be gigabytes.
op_error apply_fill(image& img, unsigned char v, std::optional<span_of> r);

struct crc_request {
    checksum_kind kind;
    std::string name;                 // the kind as -info shows it
    std::uint64_t at = 0;             // where the field goes
    std::optional<span_of> covered;   // -crcrange; none: from the lowest address up to at
    // AT given as @NAME: the field may replace whatever lies there, within the symbol's size
    // less N (room) when the symbol has one.
    std::string symbol;               // NAME; empty: AT is a number
    std::optional<std::uint64_t> room;
};

// What the checksums of a run see of the options before them.
struct crc_setting {
    std::optional<span_of> range;       // -range: every field lies inside it
    std::optional<unsigned char> fill;  // -fill: its byte is a placeholder too
    bool verify = false;                // compare with the fields, change nothing
};

// What one checksum came to.
struct crc_result {
    std::string name;
    checksum_kind kind;
    std::uint64_t at = 0;
    checksum_value value;
    std::size_t held = 0;   // how many of the field's bytes held data before
    checksum_value before;  // what they held, read as the kind stores it, when all did
    bool equal() const
    {
        return held == value.size && std::equal(value.bytes().begin(), value.bytes().end(),
                                                before.bytes().begin());
    }
};

// Computes each checksum in turn over its covered range (fields stored before it included)
// and stores it at its field, in place of a placeholder there (bytes all 0x00, all 0xFF or all
// the fill byte) or of anything at a symbol's address; with verify, only compares. Everything
// is checked before the image changes for each; one result per request, in order.
op_error apply_crcs(image& img, std::span<const crc_request> reqs, const crc_setting& how,
                    std::vector<crc_result>& out);

// "crc32 at 0x0000FFFC: stored 0x9D033928, computed 0x487DB1DB"
std::string verify_line(const crc_result& r);

// The largest span -raw writes without -range.
inline constexpr std::uint64_t raw_max = 16u << 20;

// The span -raw writes: r, else the image's; raw_too_wide when that is past raw_max and has
// gaps, which -raw would write out as fill.
op_error raw_span(const image& img, std::optional<span_of> r, span_of& out);

}  // namespace zb
