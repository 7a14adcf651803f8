// zorbin's output formats: every fact about a format in one row of one table, indexed by the
// format number that the command line's option word selects. Everything else that needs the
// list of formats (the option words, the help text, detection, the fuzz targets, the tests)
// takes it from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/sink.h"
#include "formats/wide.h"
#include "image/image.h"

namespace zb {

// The format numbers, each the index of its row; raw, after them, has no row (raw.h). A new
// format goes before raw.
enum class fmt : int { none, cosmac, fairbug, mostech, exorciser, mds, signetics, tektronix,
                       exormacs, mcs86, sdsmac, motorola32, intel32, ihf, vmem, mif, coe, titxt,
                       carray, uf2, dfu, dfuse, raw };
using enum fmt;

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
// text takes one line at a time, without its line end (hexread.h). A format of records has a
// record writer, which puts a block's records, and may have a start text before the first
// block and an end text after the last (records.h); any other format (a container, a text
// with a structure of its own) has one writer of the whole file instead.
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

// What the container formats take from the command line, checked there.
struct usb_id {
    std::uint16_t vid = 0xFFFF, pid = 0xFFFF;  // FFFF: any device
    std::uint16_t bcd = 0xFFFF;                // bcdDevice; FFFF: any release
};
struct container_args {
    std::optional<std::uint32_t> family;  // uf2: the family ID; none: no family flag
    usb_id usb;                           // dfu, dfuse: the device the file is for
    std::string_view target;              // dfuse: the target's name
    unsigned char fill = 0;               // uf2: the rest of a page; dfu: the gaps
    // dfu: the addresses written, as -raw writes them; lo == end: the blocks' own span.
    std::uint64_t lo = 0, end = 0;
};

// What a writer of a whole file is given: the image's blocks, ascending and apart, every one
// of them already held against the row's limits (and joined into one, gaps filled with FF,
// for a format whose row says it is not addressed).
struct image_out {
    fmt format = none;
    std::span<const block> blocks{};
    std::optional<std::uint32_t> entry{};  // where the row has a field for one (entry_max)
    std::string_view filename{};           // the input's name as given
    wide_args wide{};  // the texts of whole memories: -width, -be, -fill, the -range start, the
                       // C array's name
    container_args container{};
};
// Writes the whole file to out; false when a write failed (errno tells why).
using image_writer = bool (*)(const image_out& img, const sink& out);
// The message that refuses img, empty when the writer takes it: a writer that settles gaps and
// words before its first byte says so before the output is even opened.
using image_check = std::string (*)(const image_out& img);
// -header's record with text, before everything else.
using head_writer = bool (*)(out_buffer& w, std::string_view text);

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
// The texts of whole memories, F one of vmem, mif, coe, titxt, carray: the checks and writers
// of wide.h with the row's word in their messages (wide.cpp).
template <fmt F>
std::string check_text(const image_out&);
template <fmt F>
bool write_text(const image_out&, const sink&);

bool start_cosmac(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);
bool start_fairbug(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);
bool start_sdsmac(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);
bool start_page(out_buffer&, fmt, std::size_t, std::string_view, std::uint32_t);  // intel.cpp
char* end_mostech(char*, fmt, std::uint32_t, std::optional<std::uint32_t>);
char* end_srec(char*, fmt, std::uint32_t, std::optional<std::uint32_t>);
char* end_intel32(char*, fmt, std::uint32_t, std::optional<std::uint32_t>);
bool write_uf2(const image_out&, const sink&);    // uf2.cpp
bool write_dfu(const image_out&, const sink&);    // dfu.cpp
bool write_dfuse(const image_out&, const sink&);  // dfu.cpp
std::string check_dfuse(const image_out&);        // dfu.cpp
bool head_srec(out_buffer&, std::string_view);

struct format_row {
    std::string_view word{};      // option word, matched whole without regard to case
    std::string_view help{};      // its line in the help text; empty: the help does not list it
    int help_rank = 0;            // where that line stands among the formats' lines, 1 first
    std::uint32_t limit = 0;      // highest address the format can carry
    std::uint64_t end_max = 0;    // highest base + size accepted
    std::uint64_t entry_max = 0;  // highest entry point the file carries; 0: it has no field
    bool addressed = true;  // records carry addresses; else only the start text has one, and
                            // an image of several blocks goes out as one, gaps filled with FF
    line_reader read = nullptr;  // its reader, formats of one family sharing it; none: the
                                 // format is only written, and detection passes it by
    bool needs_end = false;      // a file without the end record is cut short; other writers
                                 // leave out the others' (S9 without an entry point, fairbug's *)
    // A format of records: its record writer, and what its records are.
    record_writer write = nullptr;
    start_writer start = nullptr;  // its start text; none: the image begins with a record
    end_writer finish = nullptr;   // its end text; none: the end column
    std::size_t record = 16;       // data bytes of a full record
    // -reclen: the most data bytes a record may take, in steps of reclen_step; 0: the
    // format's records have one length (its reader takes no other)
    std::size_t reclen_max = 0;
    std::size_t reclen_step = 1;
    head_writer head = nullptr;    // -header: its header record; none: it has none
    std::size_t head_max = 0;      // the longest text that record carries
    std::string_view end{};        // end record; mostech's goes on with the record count, twice
    sum_rule sum = sum_rule::none;
    page_rule page = page_rule::none;
    std::string_view between{};    // text between two records of a block
    line_shape shape = nullptr;    // the shape of its records, which detection looks for
    // Any other format: the writer of its whole file, in place of the record fields above,
    // and what it refuses, if anything.
    image_writer whole = nullptr;
    image_check check = nullptr;
    bool words = false;  // a text of words: -width and -be apply
    bool named = false;  // a text that names what it holds: -name applies
    bool usb = false;      // a file with a DFU suffix: -usbid applies
    bool targets = false;  // a file with a named target (DfuSe): -target applies
};

// The rows by format number, one for each format before raw.
struct format_table {
    std::array<format_row, static_cast<std::size_t>(raw)> rows;
    constexpr const format_row& operator[](fmt f) const
    {
        return rows[static_cast<std::size_t>(f)];
    }
};

// The narrow formats keep their historical margin: base + size, one past the last byte, must
// itself be an address of the format, so 65,535 bytes at 0 fit a 16-bit format and 65,536 do
// not. The 32-bit formats take data right up to address 0xFFFFFFFF but never wrap past it.
// exormacs writes six address digits but keeps the 16-bit limit. The help text lists IHF
// sixth; the numbers stay those of the table. The texts of whole memories after it (for
// Verilog, Quartus, Vivado, TI's tools and C) came later: only written, not in the help text,
// and with the 32-bit formats' limits.
//
// -reclen goes up to what a record's count field can say: the S-records count their address
// and checksum too, ihf counts units of 4 bytes; cosmac, without a count, goes as far as the
// others. sdsmac writes 16-bit words, so an odd length would fill the middle of the image
// with FF. fairbug's reader takes its 8 bytes only.
//
// A newcomer learns the formats best from the plain per-byte writer the fuzz target carries
// (ref_writer in fuzz/zorbin_image_fuzz.cpp): one printf per field, straight from the format
// descriptions, against which the fast writers here are checked. A new format is its
// enumerator and its row here and its file (the comment at the row's end), which holds its
// writer and, when the format is also read, its reader (docs/building.md has the whole list).
inline constexpr std::uint64_t past_4g = 0x100000000;
inline constexpr format_table formats{{{
    {},  // no format 0
    {.word = "cosmac", .help = "-Cosmac       RCA Cosmac format\n", .help_rank = 1,
     .limit = 0xFFFF, .end_max = 0xFFFF, .addressed = false, .read = read_cosmac,
     .write = write_cosmac, .start = start_cosmac, .reclen_max = 255, .end = "\r\n",
     .between = ",\r\n",
     .shape = shape_cosmac},  // cosmac.cpp
    {.word = "fairbug", .help = "-Fairbug      Fairchild Fairbug format\n", .help_rank = 2,
     .limit = 0xFFFF, .end_max = 0xFFFF, .addressed = false, .read = read_fairbug,
     .write = write_fairbug, .start = start_fairbug, .record = 8, .end = "*\r\n",
     .sum = sum_rule::nibble4,
     .shape = shape_fairbug},  // fairbug.cpp
    {.word = "mostech", .help = "-MOSTech      MOS Technology format\n", .help_rank = 3,
     .limit = 0xFFFF, .end_max = 0xFFFF, .read = read_mostech, .needs_end = true,
     .write = write_mostech, .finish = end_mostech, .reclen_max = 255, .end = ";00",
     .sum = sum_rule::plain16,
     .shape = shape_mostech},  // mostech.cpp
    {.word = "exorciser",
     .help = "-EXORciser    Motorola EXORciser format (16 bit 'S' records)\n", .help_rank = 4,
     .limit = 0xFFFF, .end_max = 0xFFFF, .entry_max = 0xFFFF, .read = read_srec,
     .write = write_srec<exorciser>, .finish = end_srec, .reclen_max = 252, .head = head_srec,
     .head_max = 252, .end = "S9030000FC\r\n",
     .sum = sum_rule::ones8,
     .shape = shape_srec},  // srec.cpp
    {.word = "mds", .help = "-MDS          Intel Intellec 8/MDS format\n", .help_rank = 5,
     .limit = 0xFFFF, .end_max = 0xFFFF, .read = read_intel, .needs_end = true,
     .write = write_intel<mds>, .reclen_max = 255, .end = ":00000001FF\r\n",
     .sum = sum_rule::twos8,
     .shape = shape_intel},  // intel.cpp
    {.word = "signetics", .help = "-Signetics    Signetics Absolute Object format\n",
     .help_rank = 7, .limit = 0xFFFF, .end_max = 0xFFFF, .read = read_signetics,
     .needs_end = true, .write = write_signetics, .reclen_max = 255, .end = ":000000\r\n",
     .sum = sum_rule::rotate8,
     .shape = shape_signetics},  // signetics.cpp
    {.word = "tektronix", .help = "-Tektronix    Tektronix Hexadecimal format\n",
     .help_rank = 8, .limit = 0xFFFF, .end_max = 0xFFFF, .read = read_tektronix,
     .write = write_tektronix, .reclen_max = 255, .end = "/00000000\r\n",
     .sum = sum_rule::nibble8,
     .shape = shape_tektronix},  // tektronix.cpp
    {.word = "exormacs",
     .help = "-EXORmacs     Motorola EXORmacs format (24 bit 'S' records)\n", .help_rank = 9,
     .limit = 0xFFFF, .end_max = 0xFFFF, .entry_max = 0xFFFFFF, .read = read_srec,
     .write = write_srec<exormacs>, .finish = end_srec, .reclen_max = 251, .head = head_srec,
     .head_max = 252, .end = "S9030000FC\r\n",
     .sum = sum_rule::ones8,
     .shape = shape_srec},  // srec.cpp
    {.word = "mcs86", .help = "-MCS86        Intel MCS-86 Hexadecimal format\n",
     .help_rank = 10, .limit = 0xFFFFF, .end_max = 0xFFFFF, .read = read_intel,
     .needs_end = true, .write = write_intel<mcs86>, .start = start_page,
     .reclen_max = 255, .end = ":00000001FF\r\n", .sum = sum_rule::twos8,
     .page = page_rule::segment,
     .shape = shape_intel},  // intel.cpp
    {.word = "sdsmac", .help = "-SDSMAC       Texas Instruments SDSMAC format\n",
     .help_rank = 11, .limit = 0xFFFF, .end_max = 0xFFFF, .read = read_sdsmac,
     .needs_end = true, .write = write_sdsmac, .start = start_sdsmac, .reclen_max = 254,
     .reclen_step = 2, .end = ":\r\n",
     .sum = sum_rule::chars16,
     .shape = shape_sdsmac},  // sdsmac.cpp
    {.word = "motorola32",
     .help = "-Motorola32   Motorola 32-Bit format (32 bit 'S' records)\n", .help_rank = 12,
     .limit = 0xFFFFFFFF, .end_max = past_4g, .entry_max = 0xFFFFFFFF, .read = read_srec,
     .write = write_srec<motorola32>, .finish = end_srec, .reclen_max = 250,
     .head = head_srec, .head_max = 252, .end = "S70500000000FA\r\n",
     .sum = sum_rule::ones8,
     .shape = shape_srec},  // srec.cpp
    {.word = "intel32", .help = "-Intel32      Intel Hex-32 format\n", .help_rank = 13,
     .limit = 0xFFFFFFFF, .end_max = past_4g, .entry_max = 0xFFFFFFFF, .read = read_intel,
     .needs_end = true, .write = write_intel<intel32>, .start = start_page,
     .finish = end_intel32, .reclen_max = 255, .end = ":00000001FF\r\n",
     .sum = sum_rule::twos8,
     .page = page_rule::linear,
     .shape = shape_intel},  // intel.cpp
    {.word = "ihf", .help = "-IHF          Extended Intellec Hex format\n", .help_rank = 6,
     .limit = 0x3FFFF, .end_max = 0x3FFFF, .read = read_ihf, .needs_end = true,
     .write = write_ihf, .record = 32, .reclen_max = 1023, .end = ":00 0000 01 FF\r\n",
     .sum = sum_rule::twos8,
     .shape = shape_ihf},  // ihf.cpp
    {.word = "vmem", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_text<vmem>,
     .check = check_text<vmem>, .words = true},  // vmem.cpp
    {.word = "mif", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_text<mif>,
     .check = check_text<mif>, .words = true},  // mif.cpp
    {.word = "coe", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_text<coe>,
     .check = check_text<coe>, .words = true},  // coe.cpp
    {.word = "titxt", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_text<titxt>,
     .check = check_text<titxt>},  // titxt.cpp
    {.word = "carray", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_text<carray>,
     .check = check_text<carray>, .named = true},  // carray.cpp
    // The containers that boards' bootloaders take; the help text does not list them.
    {.word = "uf2", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_uf2},  // uf2.cpp
    {.word = "dfu", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_dfu,
     .usb = true},  // dfu.cpp
    {.word = "dfuse", .limit = 0xFFFFFFFF, .end_max = past_4g, .whole = write_dfuse,
     .check = check_dfuse, .usb = true, .targets = true},  // dfu.cpp
}}};

// The longest record -reclen may ask for, of any format: the writers' buffers hold one.
inline constexpr std::size_t longest_record = 1023;

// How many formats have a row.
inline constexpr std::size_t format_count = formats.rows.size() - 1;

// Every format with a row, in number order.
inline constexpr std::array<fmt, format_count> hex_formats = [] {
    std::array<fmt, format_count> all{};
    for (std::size_t k = 0; k < format_count; ++k)
        all[k] = fmt(k + 1);
    return all;
}();

// Every format has its row, with its word: a format added to fmt without one does not
// compile. The rows the help lists hold the places 1, 2, 3 ... each once, and a row without a
// help line holds none; a row's -reclen bounds fit the writers' buffers. (That each row names
// exactly one kind of writer is the engine test's first check: a function's address compared
// in a constant expression is refused by some sanitizer builds.)
static_assert([] {
    std::size_t listed = 0;
    for (const fmt f : hex_formats) {
        const format_row& r = formats[f];
        if (r.word.empty() || r.help.empty() != (r.help_rank == 0))
            return false;
        listed += !r.help.empty();
        if (r.reclen_max > longest_record || r.reclen_step == 0 ||
            r.reclen_max % r.reclen_step != 0 || (r.reclen_max && r.record > r.reclen_max))
            return false;
    }
    for (std::size_t place = 1; place <= listed; ++place) {
        int holders = 0;
        for (const fmt f : hex_formats)
            holders += formats[f].help_rank == static_cast<int>(place);
        if (holders != 1)
            return false;
    }
    return formats[none].word.empty();
}());

// The row of a format that has one; nullptr for none and raw.
inline const format_row* row_of(fmt f)
{
    return f > none && f < raw ? &formats[f] : nullptr;
}

// Whether a format is read as well as written: -input may name it, detection tries it.
inline bool readable(fmt f)
{
    const format_row* r = row_of(f);
    return r && r->read;
}

// The option word of a format, and raw's.
constexpr std::string_view word_of(fmt f)
{
    return f == raw ? "raw" : formats[f].word;
}

}  // namespace zb
