// Hex text in: the lines of a file handed one by one to its format's reader, the decoded runs
// of records joined into an image, and the helpers every reader uses.
#include "read/hexin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/formats.h"
#include "formats/hexread.h"
#include "image/merge.h"
#include "platform.h"

namespace zb {

unsigned char* hex_in::take(std::uint64_t addr, std::size_t n, std::uint64_t limit)
{
    if (n > 0 && (addr > limit || n - 1 > limit - addr)) {
        fail(hex_fault::past_limit, limit);
        return nullptr;
    }
    if (watch && *watch >= len && *watch < len + n)
        watched = line;
    if (!runs.empty() && runs.back().addr + runs.back().n == addr &&
        runs.back().off + runs.back().n == len)
        runs.back().n += n;
    else if (n > 0)
        runs.push_back({addr, len, n, line, at});
    unsigned char* to = buf + len;
    len += n;
    return to;
}

bool hex_in::start_at(std::uint64_t addr)
{
    if (entry && *entry != addr)
        return fail(hex_fault::entry_twice, *entry, addr);
    entry = addr;
    return true;
}

bool decode(const char* s, std::size_t n, unsigned char* to, std::uint32_t& sum)
{
    unsigned bad = 0;
    std::uint32_t total = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const unsigned hi = digit_of[static_cast<unsigned char>(s[2 * k])];
        const unsigned lo = digit_of[static_cast<unsigned char>(s[2 * k + 1])];
        bad |= hi | lo;
        const unsigned v = (hi << 4 | lo) & 0xFF;
        to[k] = static_cast<unsigned char>(v);
        total += v;
    }
    sum += total;
    // Every digit value is below 16, the bad mark has its top bits set.
    return bad < 16;
}

hex_error bad_char_at(std::string_view line, std::size_t col)
{
    if (col >= line.size())
        return {hex_fault::line_ends, col + 1};
    return {hex_fault::bad_char, static_cast<unsigned char>(line[col]), col + 1};
}

hex_error bad_char(std::string_view line, std::size_t from)
{
    std::size_t k = from;
    while (k < line.size() && digit_of[static_cast<unsigned char>(line[k])] != bad_digit)
        ++k;
    return bad_char_at(line, k);
}

unsigned char* data_at(hex_in& in, std::string_view line, std::size_t col, std::uint64_t addr,
                       std::size_t n, std::uint64_t limit, std::uint32_t& sum)
{
    unsigned char* to = in.take(addr, n, limit);
    if (to && !decode(line.data() + col, n, to, sum)) {
        in.fail(bad_char(line, col));
        return nullptr;
    }
    return to;
}

std::optional<unsigned> count_at(hex_in& in, std::string_view line, std::size_t col,
                                 std::size_t fixed)
{
    const unsigned n = pair_at(line.data() + col);
    if (n > 0xFF)
        return in.fail(bad_char(line, col)), std::nullopt;
    if (line.size() != fixed + 2 * std::size_t{n})
        return in.fail(wrong_count(n, fixed + 2 * std::size_t{n}, line.size())), std::nullopt;
    return n;
}

hex_error wrong_count(unsigned count, std::size_t want, std::size_t got)
{
    return {hex_fault::wrong_count, count, want, got};
}

hex_error wrong_sum(std::uint32_t got, std::uint32_t want, int digits, hex_fault f)
{
    return {f, got, want, static_cast<std::uint64_t>(digits)};
}

namespace {

// "0x1F" with at least the given number of digits.
std::string hexn(std::uint64_t v, int digits = 2)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return b;
}

std::string num(std::uint64_t v) { return std::to_string(v); }

// "S7": appended, not prefixed, which g++ 12 warns of wrongly.
std::string s_type(std::uint64_t t) { return std::string("S").append(num(t)); }

// The file as text: a UTF-8 byte-order mark before the first line and a final 0x1A (the end
// of a text file to old systems) are no part of it. Lines end where its first line ends: in
// LF or CR LF, or in CR alone, as old Macintosh files do; a file that mixes CR alone with LF
// meets a character that is no part of a record.
struct text {
    std::string_view t;
    std::size_t from = 0;  // where the first line begins
    char end = '\n';
};

text text_of(std::span<const unsigned char> file)
{
    text x{{reinterpret_cast<const char*>(file.data()), file.size()}};
    if (x.t.ends_with('\x1A'))
        x.t.remove_suffix(1);
    if (x.t.starts_with("\xEF\xBB\xBF"))
        x.from = 3;
    const std::string_view rest = x.t.substr(x.from);
    const std::size_t lf = rest.find('\n');
    const std::size_t cr = rest.substr(0, lf).find('\r');
    if (cr != rest.npos && cr + 1 != lf)
        x.end = '\r';
    return x;
}

// The line from at on, without its line end; next is where the line after it begins.
std::string_view line_at(const text& x, std::size_t at, std::size_t& next)
{
    const std::string_view t = x.t;
    if (at >= t.size()) {
        next = t.size();
        return {};
    }
    const void* e = std::memchr(t.data() + at, x.end, t.size() - at);
    const std::size_t end = e ? static_cast<std::size_t>(static_cast<const char*>(e) - t.data())
                              : t.size();
    next = e ? end + 1 : end;
    std::string_view line = t.substr(at, end - at);
    if (x.end == '\n' && line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

// The first record's line, counted from 1 past the blank lines before it, and the line after
// it; an empty line when the text holds no record.
struct opening {
    std::size_t number = 0;
    std::string_view line, next;
};

opening opening_of(const text& x)
{
    opening o;
    std::size_t next = x.from;
    for (std::size_t at = x.from; at < x.t.size(); at = next) {
        ++o.number;
        o.line = line_at(x, at, next);
        if (!o.line.empty()) {
            o.next = line_at(x, next, next);
            return o;
        }
    }
    return {};
}

// Runs every line through the reader. The buffer must hold every byte the text could give.
bool run_lines(hex_in& in, const text& x, line_reader read, bool needs_end)
{
    bool blank = false;  // a blank line after a record was seen: only blank lines may follow
    for (std::size_t at = x.from; at < x.t.size();) {
        std::size_t next;
        const std::string_view line = line_at(x, at, next);
        ++in.line;
        in.at = at;
        at = next;
        if (line.empty()) {
            blank = in.first != 0;
            continue;
        }
        if (in.first == 0)
            in.first = in.line;
        if (in.ended)
            return in.fail(hex_fault::text_after_end);
        if (blank)
            return in.fail(hex_fault::text_after_blank);
        if (!read(in, line))
            return false;
    }
    if (in.mode < 0)
        return ++in.line, in.fail(hex_fault::inside_record);
    if (needs_end && !in.ended)
        return ++in.line, in.fail(hex_fault::no_end);
    return true;
}

// The line of the record that gave the byte at buffer offset off.
std::size_t line_of(const text& x, std::size_t off, fmt format)
{
    const format_row& row = formats[format];
    hex_in in;
    std::unique_ptr<unsigned char[]> scratch(new unsigned char[x.t.size() / 2 + 2]);
    in.buf = scratch.get();
    in.watch = off;
    run_lines(in, x, row.read, row.needs_end);
    return in.watched;
}

}  // namespace

fmt detect_hex(std::span<const unsigned char> file, const format_table& table)
{
    const opening o = opening_of(text_of(file));
    if (o.line.empty())
        return none;
    // The first line gives at most half its length in bytes; a line no format's shape fits
    // needs no room.
    std::unique_ptr<unsigned char[]> scratch;
    fmt shaped = none;
    for (const fmt f : hex_formats) {
        const format_row& row = table[f];
        bool tried = false;
        for (const fmt g : hex_formats)
            tried = tried || (g < f && table[g].read == row.read);
        // A format only written is never an input's.
        if (tried || !row.read || !row.shape || !row.shape(o.line, o.next))
            continue;
        if (!scratch)
            scratch.reset(new unsigned char[o.line.size() / 2 + 2]);
        hex_in in;
        in.buf = scratch.get();
        in.line = in.first = o.number;
        if (row.read(in, o.line))
            return f;
        if (shaped == none)
            shaped = f;
    }
    return shaped;
}

hex_image read_hex(std::span<const unsigned char> file, fmt format)
{
    hex_image r;
    const text x = text_of(file);
    const format_row& row = formats[format];
    // Every data byte takes two digits at least: half the text holds them all, and only the
    // pages written to are ever given memory.
    big_buffer buf(fw::big_alloc(x.t.size() / 2 + 16));
    if (!buf) {
        r.error = {hex_fault::no_memory, x.t.size() / 2};
        return r;
    }
    hex_in in;
    in.buf = buf.get();
    const bool read = run_lines(in, x, row.read, row.needs_end);
    r.first = in.first;
    if (!read) {
        r.line = in.line;
        r.error = in.error;
        return r;
    }
    r.format = in.word != none ? in.word : format;
    // As an ELF file without loadable contents is refused: an empty image would be written
    // as a file of no data, a failure reported as success.
    if (in.runs.empty()) {
        r.error = {hex_fault::no_data};
        return r;
    }

    std::vector<sourced> runs;
    runs.reserve(in.runs.size());
    for (std::size_t k = 0; k < in.runs.size(); ++k) {
        const hex_run& h = in.runs[k];
        origin o{"line " + std::to_string(h.line), h.addr, h.addr, h.at, "record address"};
        runs.push_back({{{in.buf + h.off, h.n}, std::move(o)}, k});
    }
    std::vector<hex_run> kept = std::move(in.runs);
    in.runs = {};
    clash c;
    if (!join_parts(std::move(runs), r.img.parts, c)) {
        // The second of the two records: the one later in the file, whose bytes come later
        // in the buffer.
        const hex_run& later = kept[c.second];
        const std::size_t off = later.off + static_cast<std::size_t>(c.addr - later.addr);
        r.line = line_of(x, off, format);
        r.error = {hex_fault::given_twice, c.addr, c.a, c.b};
        return r;
    }
    // An end record that says 0 says none, as e_entry 0 does.
    if (in.entry && *in.entry != 0)
        r.img.entry = in.entry;
    r.img.kind = "hex text";
    r.img.held.push_back(std::move(buf));
    return r;
}

std::string hex_what(const hex_error& e)
{
    const auto d = static_cast<int>(e.c);
    switch (e.f) {
    case hex_fault::none:
        break;
    case hex_fault::line_ends:
        return "line ends at column " + num(e.a);
    case hex_fault::bad_char: {
        char b[64];
        if (e.a > 0x20 && e.a < 0x7F)
            std::snprintf(b, sizeof b, "bad character '%c' in column %llu", static_cast<char>(e.a),
                          static_cast<unsigned long long>(e.b));
        else
            std::snprintf(b, sizeof b, "bad character 0x%02X in column %llu",
                          static_cast<unsigned>(e.a), static_cast<unsigned long long>(e.b));
        return b;
    }
    case hex_fault::past_limit:
        return "data runs past address " + hexn(e.a, 4);
    case hex_fault::wrong_count:
        return "count " + hexn(e.a) + " needs " + num(e.b) + " characters, the record has " +
               num(e.c);
    case hex_fault::wrong_sum:
        return "checksum " + hexn(e.a, d) + ", should be " + hexn(e.b, d);
    case hex_fault::address_sum:
        return "address checksum " + hexn(e.a, d) + ", should be " + hexn(e.b, d);
    case hex_fault::data_sum:
        return "data checksum " + hexn(e.a, d) + ", should be " + hexn(e.b, d);
    case hex_fault::text_after_end:
        return "text after the end record";
    case hex_fault::text_after_blank:
        return "text after a blank line";
    case hex_fault::inside_record:
        return "file ends inside a record";
    case hex_fault::no_end:
        return "file ends without its end record";
    case hex_fault::no_memory:
        return "no memory for " + num(e.a) + " bytes";
    case hex_fault::given_twice:
        return "address " + hexn(e.a, 8) + " was given " + hexn(e.b) + " before, here " +
               hexn(e.c);
    case hex_fault::short_record:
        return "record of " + num(e.a) + " characters, shorter than the 11 of an empty one";
    case hex_fault::unknown_type:
        return "unknown record type " + hexn(e.a);
    case hex_fault::type_count:
        return "record type " + hexn(e.a) + " with count " + hexn(e.b) + ", not " + hexn(e.c);
    case hex_fault::unknown_s4:
        return "unknown record type S4";
    case hex_fault::no_room:
        return "count " + hexn(e.a) + " leaves no room for the address and checksum of an S" +
               num(e.b) + " record";
    case hex_fault::data_in_control:
        return s_type(e.a) + " record with " + num(e.b) + " data bytes";
    case hex_fault::late_header:
        return "S0 header after data records";
    case hex_fault::wrong_records:
        return s_type(e.a) + " count " + num(e.b) + ", but " + num(e.c) +
               " data records before it";
    case hex_fault::end_counts:
        return "end record counts " + num(e.a) + " and " + num(e.b) + " records, but " +
               num(e.c) + " came before it";
    case hex_fault::no_address:
        return "!M without an address";
    case hex_fault::long_address:
        return "address of more than 4 digits in column " + num(e.a);
    case hex_fault::address_size:
        return "address record of " + num(e.a) + " characters, not 5";
    case hex_fault::data_first:
        return "data record before the S address record";
    case hex_fault::data_size:
        return "data record of " + num(e.a) + " characters, not 18";
    case hex_fault::end_size:
        return "end record of " + num(e.a) + " characters, not 7";
    case hex_fault::early_f:
        return "the F tag in column " + num(e.a) + " does not end the line";
    case hex_fault::no_checksum:
        return "record without a checksum";
    case hex_fault::after_checksum:
        return "the checksum in column " + num(e.a) + " is not followed by the F tag";
    case hex_fault::short_field:
        return "line ends inside the field in column " + num(e.a);
    case hex_fault::short_header:
        return "line ends inside the file header in column " + num(e.a);
    case hex_fault::header_after_data:
        return "file header after data";
    case hex_fault::long_name:
        return "program name of " + num(e.a) + " characters does not fit the line";
    case hex_fault::no_f:
        return "line does not end with the F tag";
    case hex_fault::ihf_size:
        return "record of " + num(e.a) + " characters, not 14 or 15 and two per data byte";
    case hex_fault::ihf_count:
        return "count " + hexn(e.a) + " for " + num(e.b) + " data bytes, not " + hexn(e.c);
    case hex_fault::end_with_data:
        return "end record with data";
    case hex_fault::entry_twice:
        return "entry point was given " + hexn(e.a, 8) + " before, here " + hexn(e.b, 8);
    case hex_fault::no_data:
        return "no data records";
    }
    return {};
}

std::string hex_message(std::string_view infile, std::size_t line, const hex_error& e)
{
    const std::string at = line > 0 ? " line " + std::to_string(line) : "";
    return "Bad hex file " + std::string(infile) + at + ": " + hex_what(e) + "\n";
}

}  // namespace zb
