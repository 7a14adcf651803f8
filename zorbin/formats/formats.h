// zorbin's thirteen hex formats: every fact about a format in one row of one table, indexed by
// the format number that the command line's option word selects.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zb {

// The format numbers, each the index of its row; raw, after them, has no row (raw.h).
enum class fmt : int { none, cosmac, fairbug, mostech, exorciser, mds, signetics, tektronix,
                       exormacs, mcs86, sdsmac, motorola32, intel32, ihf, raw };
using enum fmt;

// Every format with a row, in number order.
inline constexpr std::array<fmt, 13> hex_formats{cosmac, fairbug, mostech, exorciser, mds,
                                                 signetics, tektronix, exormacs, mcs86,
                                                 sdsmac, motorola32, intel32, ihf};

// How a record's checksum is summed and printed.
enum class sum_rule {
    none,     // no checksum
    nibble4,  // sum of the data's hex digits, low 4 bits
    plain16,  // 16-bit sum of count, address and data bytes
    ones8,    // one's complement of the 8-bit sum of count, address and data bytes
    twos8,    // two's complement of the same
    rotate8,  // rotate-and-XOR: one over address and count, one over the data
    nibble8,  // sums of hex digits: one over address and count, one over the data
    chars16,  // 16-bit two's complement of the sum of the record's character codes
};

// What opens a 64 KiB page, and each further block of an image.
enum class page_rule {
    none,
    segment,  // extended segment address record (type 02): address bits 16..19
    linear,   // extended linear address record (type 04): address bits 16..31
};

// Each format's own code, in the file named in its row's comment below: the reader of hex
// text takes one line at a time, without its line end (hexread.h); the writer puts a block's
// records, the start text before the first block, the end text after the last (records.h).
struct hex_in;
struct out_buffer;
using piece = std::span<const unsigned char>;
using line_reader = bool (*)(hex_in& in, std::string_view line);
// Whether line, the first of a file, has the shape of the format's records (its start, only
// the characters they hold, the length their count says); next is the line after it. Such a
// file is hex text of the format, and a fault in that line is an error, not a plain binary.
using line_shape = bool (*)(std::string_view line, std::string_view next);
using record_writer = bool (*)(out_buffer& w, std::span<const piece> pieces,
                               std::uint32_t base, std::uint32_t& records);
// The start text of format f for an image of size bytes whose first block is at base.
using start_writer = bool (*)(out_buffer& w, fmt f, std::size_t size, std::string_view filename,
                              std::uint32_t base);
// The end text of format f at p, after records data records, with the entry point where the
// format has a field for it; where the text ends.
using end_writer = char* (*)(char* p, fmt f, std::uint32_t records,
                             std::optional<std::uint32_t> entry);

bool read_cosmac(hex_in&, std::string_view);
bool read_fairbug(hex_in&, std::string_view);
bool read_mostech(hex_in&, std::string_view);
bool read_srec(hex_in&, std::string_view);
bool read_intel(hex_in&, std::string_view);
bool read_signetics(hex_in&, std::string_view);
bool read_tektronix(hex_in&, std::string_view);
bool read_sdsmac(hex_in&, std::string_view);
bool read_ihf(hex_in&, std::string_view);

bool shape_cosmac(std::string_view, std::string_view);
bool shape_fairbug(std::string_view, std::string_view);
bool shape_mostech(std::string_view, std::string_view);
bool shape_srec(std::string_view, std::string_view);
bool shape_intel(std::string_view, std::string_view);
bool shape_signetics(std::string_view, std::string_view);
bool shape_tektronix(std::string_view, std::string_view);
bool shape_sdsmac(std::string_view, std::string_view);
bool shape_ihf(std::string_view, std::string_view);

bool write_cosmac(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
bool write_fairbug(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
bool write_mostech(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
bool write_signetics(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
bool write_tektronix(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
bool write_sdsmac(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
bool write_ihf(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
// One writer for the three formats of a family: mds, mcs86, intel32 (intel.cpp);
// exorciser, exormacs, motorola32 (srec.cpp).
template <fmt F>
bool write_intel(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
template <fmt F>
bool write_srec(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);

bool start_cosmac(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);
bool start_fairbug(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);
bool start_sdsmac(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);
bool start_page(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);  // intel.cpp
char* end_mostech(char*, fmt, std::uint32_t, std::optional<std::uint32_t>);
char* end_srec(char*, fmt, std::uint32_t, std::optional<std::uint32_t>);
char* end_intel32(char*, fmt, std::uint32_t, std::optional<std::uint32_t>);

struct format_row {
    std::string_view word;  // option word, matched whole without regard to case
    std::string_view help;  // its line in the help text
    std::uint32_t limit;    // highest address the format can carry
    std::uint64_t end_max;  // highest base + size accepted
    std::size_t record;     // data bytes of a full record
    std::string_view end;   // end record; mostech's goes on with the record count, twice
    sum_rule sum;
    page_rule page;
    bool addressed;         // records carry addresses; else only the start text has one, and
                            // an image of several blocks goes out as one, gaps filled with FF
    line_reader read;       // its reader; formats of one family share it
    bool needs_end;         // a file without the end record is cut short; other writers leave
                            // out the others' (S9 without an entry point, fairbug's *)
    record_writer write;    // its records
    start_writer start;     // its start text; none: the image begins with a record
    end_writer finish;      // its end text; none: the end column
    std::uint64_t entry_max;  // highest entry point the end record carries; 0: it has no field
    std::string_view between;  // text between two records of a block
    line_shape shape;       // the shape of its records, which detection looks for
};

// The rows by format number.
struct format_table {
    std::array<format_row, 14> rows;
    constexpr const format_row& operator[](fmt f) const
    {
        return rows[static_cast<std::size_t>(f)];
    }
};

// The narrow formats keep their historical margin: base + size, one past the last byte, must
// itself be an address of the format, so 65,535 bytes at 0 fit a 16-bit format and 65,536 do
// not. The 32-bit formats take data right up to address 0xFFFFFFFF but never wrap past it.
// exormacs writes six address digits but keeps the 16-bit limit.
//
// A newcomer learns the formats best from the plain per-byte writer the fuzz target carries
// (ref_writer in fuzz/zorbin_image_fuzz.cpp): one printf per field, straight from the format
// descriptions, against which the fast writers here are checked. A new format is one row here
// and its file (the comment at the row's end), which holds its reader and its writer.
inline constexpr std::uint64_t past_4g = 0x100000000;
inline constexpr format_table formats{{{
    // no format 0
    {"", "", 0, 0, 16, "", sum_rule::none, page_rule::none, true, nullptr, false, nullptr,
     nullptr, nullptr, 0, "", nullptr},
    {"cosmac", "-Cosmac       RCA Cosmac format\n", 0xFFFF, 0xFFFF, 16, "\r\n",
     sum_rule::none, page_rule::none, false,
     read_cosmac, false, write_cosmac, start_cosmac, nullptr, 0, ",\r\n", shape_cosmac},  // cosmac.cpp
    {"fairbug", "-Fairbug      Fairchild Fairbug format\n", 0xFFFF, 0xFFFF, 8, "*\r\n",
     sum_rule::nibble4, page_rule::none, false,
     read_fairbug, false, write_fairbug, start_fairbug, nullptr, 0, "", shape_fairbug},  // fairbug.cpp
    {"mostech", "-MOSTech      MOS Technology format\n", 0xFFFF, 0xFFFF, 16, ";00",
     sum_rule::plain16, page_rule::none, true,
     read_mostech, true, write_mostech, nullptr, end_mostech, 0, "", shape_mostech},  // mostech.cpp
    {"exorciser", "-EXORciser    Motorola EXORciser format (16 bit 'S' records)\n", 0xFFFF,
     0xFFFF, 16, "S9030000FC\r\n", sum_rule::ones8, page_rule::none, true,
     read_srec, false, write_srec<exorciser>, nullptr, end_srec, 0xFFFF, "", shape_srec},  // srec.cpp
    {"mds", "-MDS          Intel Intellec 8/MDS format\n", 0xFFFF, 0xFFFF, 16,
     ":00000001FF\r\n", sum_rule::twos8, page_rule::none, true,
     read_intel, true, write_intel<mds>, nullptr, nullptr, 0, "", shape_intel},  // intel.cpp
    {"signetics", "-Signetics    Signetics Absolute Object format\n", 0xFFFF, 0xFFFF, 16,
     ":000000\r\n", sum_rule::rotate8, page_rule::none, true,
     read_signetics, true, write_signetics, nullptr, nullptr, 0, "", shape_signetics},  // signetics.cpp
    {"tektronix", "-Tektronix    Tektronix Hexadecimal format\n", 0xFFFF, 0xFFFF, 16,
     "/00000000\r\n", sum_rule::nibble8, page_rule::none, true,
     read_tektronix, false, write_tektronix, nullptr, nullptr, 0, "", shape_tektronix},  // tektronix.cpp
    {"exormacs", "-EXORmacs     Motorola EXORmacs format (24 bit 'S' records)\n", 0xFFFF,
     0xFFFF, 16, "S9030000FC\r\n", sum_rule::ones8, page_rule::none, true,
     read_srec, false, write_srec<exormacs>, nullptr, end_srec, 0xFFFFFF, "", shape_srec},  // srec.cpp
    {"mcs86", "-MCS86        Intel MCS-86 Hexadecimal format\n", 0xFFFFF, 0xFFFFF, 16,
     ":00000001FF\r\n", sum_rule::twos8, page_rule::segment, true,
     read_intel, true, write_intel<mcs86>, start_page, nullptr, 0, "", shape_intel},  // intel.cpp
    {"sdsmac", "-SDSMAC       Texas Instruments SDSMAC format\n", 0xFFFF, 0xFFFF, 16, ":\r\n",
     sum_rule::chars16, page_rule::none, true,
     read_sdsmac, true, write_sdsmac, start_sdsmac, nullptr, 0, "", shape_sdsmac},  // sdsmac.cpp
    {"motorola32", "-Motorola32   Motorola 32-Bit format (32 bit 'S' records)\n", 0xFFFFFFFF,
     past_4g, 16, "S70500000000FA\r\n", sum_rule::ones8, page_rule::none, true,
     read_srec, false, write_srec<motorola32>, nullptr, end_srec, 0xFFFFFFFF, "", shape_srec},  // srec.cpp
    {"intel32", "-Intel32      Intel Hex-32 format\n", 0xFFFFFFFF, past_4g, 16,
     ":00000001FF\r\n", sum_rule::twos8, page_rule::linear, true,
     read_intel, true, write_intel<intel32>, start_page, end_intel32, 0xFFFFFFFF, "", shape_intel},  // intel.cpp
    {"ihf", "-IHF          Extended Intellec Hex format\n", 0x3FFFF, 0x3FFFF, 32,
     ":00 0000 01 FF\r\n", sum_rule::twos8, page_rule::none, true,
     read_ihf, true, write_ihf, nullptr, nullptr, 0, "", shape_ihf},  // ihf.cpp
}}};

// Every format has its row, in its place, with its word: a format added to fmt without one
// does not compile. (That each row names a reader and a writer is the engine test's first
// check: a function's address compared in a constant expression is refused by some
// sanitizer builds.)
static_assert(formats.rows.size() == hex_formats.size() + 1);
static_assert([] {
    for (std::size_t k = 0; k < hex_formats.size(); ++k)
        if (hex_formats[k] != fmt(k + 1) || formats[hex_formats[k]].word.empty())
            return false;
    return fmt(hex_formats.size() + 1) == raw;
}());

// The row of a format that has one; nullptr for none and raw.
inline const format_row* row_of(fmt f)
{
    return f > none && f < raw ? &formats[f] : nullptr;
}

}  // namespace zb
