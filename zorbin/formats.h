// zorbin's thirteen hex formats: every fact about a format in one row of one table, indexed by
// the format number that the command line's option word selects.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zb {

// Format numbers, the index of each format's row.
enum : int { cosmac = 1, fairbug, mostech, exorciser, mds, signetics, tektronix, exormacs,
             mcs86, sdsmac, motorola32, intel32, ihf };

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

// A reader of hex text takes one line at a time, without its line end (hexread.h).
struct hex_in;
using line_reader = bool (*)(hex_in& in, std::string_view line);
bool read_intel(hex_in& in, std::string_view line);
bool read_srec(hex_in& in, std::string_view line);
bool read_cosmac(hex_in& in, std::string_view line);
bool read_fairbug(hex_in& in, std::string_view line);
bool read_mostech(hex_in& in, std::string_view line);
bool read_signetics(hex_in& in, std::string_view line);
bool read_tektronix(hex_in& in, std::string_view line);
bool read_sdsmac(hex_in& in, std::string_view line);
bool read_ihf(hex_in& in, std::string_view line);

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
};

// The narrow formats keep their historical margin: base + size, one past the last byte, must
// itself be an address of the format, so 65,535 bytes at 0 fit a 16-bit format and 65,536 do
// not. The 32-bit formats take data right up to address 0xFFFFFFFF but never wrap past it.
// exormacs writes six address digits but keeps the 16-bit limit.
inline constexpr std::uint64_t past_4g = 0x100000000;
inline constexpr std::array<format_row, 14> formats{{
    {"", "", 0, 0, 16, "", sum_rule::none, page_rule::none, true, nullptr, false},  // no format 0
    {"cosmac", "-Cosmac       RCA Cosmac format\n", 0xFFFF, 0xFFFF, 16, "\r\n",
     sum_rule::none, page_rule::none, false,
     read_cosmac, false},
    {"fairbug", "-Fairbug      Fairchild Fairbug format\n", 0xFFFF, 0xFFFF, 8, "*\r\n",
     sum_rule::nibble4, page_rule::none, false,
     read_fairbug, false},
    {"mostech", "-MOSTech      MOS Technology format\n", 0xFFFF, 0xFFFF, 16, ";00",
     sum_rule::plain16, page_rule::none, true,
     read_mostech, true},
    {"exorciser", "-EXORciser    Motorola EXORciser format (16 bit 'S' records)\n", 0xFFFF,
     0xFFFF, 16, "S9030000FC\r\n", sum_rule::ones8, page_rule::none, true,
     read_srec, false},
    {"mds", "-MDS          Intel Intellec 8/MDS format\n", 0xFFFF, 0xFFFF, 16,
     ":00000001FF\r\n", sum_rule::twos8, page_rule::none, true,
     read_intel, true},
    {"signetics", "-Signetics    Signetics Absolute Object format\n", 0xFFFF, 0xFFFF, 16,
     ":000000\r\n", sum_rule::rotate8, page_rule::none, true,
     read_signetics, true},
    {"tektronix", "-Tektronix    Tektronix Hexadecimal format\n", 0xFFFF, 0xFFFF, 16,
     "/00000000\r\n", sum_rule::nibble8, page_rule::none, true,
     read_tektronix, false},
    {"exormacs", "-EXORmacs     Motorola EXORmacs format (24 bit 'S' records)\n", 0xFFFF,
     0xFFFF, 16, "S9030000FC\r\n", sum_rule::ones8, page_rule::none, true,
     read_srec, false},
    {"mcs86", "-MCS86        Intel MCS-86 Hexadecimal format\n", 0xFFFFF, 0xFFFFF, 16,
     ":00000001FF\r\n", sum_rule::twos8, page_rule::segment, true,
     read_intel, true},
    {"sdsmac", "-SDSMAC       Texas Instruments SDSMAC format\n", 0xFFFF, 0xFFFF, 16, ":\r\n",
     sum_rule::chars16, page_rule::none, true,
     read_sdsmac, true},
    {"motorola32", "-Motorola32   Motorola 32-Bit format (32 bit 'S' records)\n", 0xFFFFFFFF,
     past_4g, 16, "S70500000000FA\r\n", sum_rule::ones8, page_rule::none, true,
     read_srec, false},
    {"intel32", "-Intel32      Intel Hex-32 format\n", 0xFFFFFFFF, past_4g, 16,
     ":00000001FF\r\n", sum_rule::twos8, page_rule::linear, true,
     read_intel, true},
    {"ihf", "-IHF          Extended Intellec Hex format\n", 0x3FFFF, 0x3FFFF, 32,
     ":00 0000 01 FF\r\n", sum_rule::twos8, page_rule::none, true,
     read_ihf, true},
}};

}  // namespace zb
