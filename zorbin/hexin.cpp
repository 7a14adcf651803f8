// Hex text in: the lines of a file handed one by one to its format's reader, the decoded runs
// of records joined into an image, and the helpers every reader uses.
#include "hexin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats.h"
#include "hexread.h"
#include "merge.h"
#include "platform.h"

namespace zb {

unsigned char* hex_in::take(std::uint64_t addr, std::size_t n, std::uint64_t limit)
{
    if (n > 0 && (addr > limit || n - 1 > limit - addr)) {
        fail("data runs past address " + hexn(limit, 4));
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

std::string bad_char_at(std::string_view line, std::size_t col)
{
    if (col >= line.size())
        return "line ends at column " + std::to_string(col + 1);
    const auto c = static_cast<unsigned char>(line[col]);
    char b[64];
    if (c > 0x20 && c < 0x7F)
        std::snprintf(b, sizeof b, "bad character '%c' in column %zu", c, col + 1);
    else
        std::snprintf(b, sizeof b, "bad character 0x%02X in column %zu", c, col + 1);
    return b;
}

std::string bad_char(std::string_view line, std::size_t from)
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

std::string wrong_count(unsigned count, std::size_t want, std::size_t got)
{
    return "count " + hexn(count) + " needs " + std::to_string(want) +
           " characters, the record has " + std::to_string(got);
}

std::string hexn(std::uint64_t v, int digits)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return b;
}

std::string wrong_sum(std::uint32_t got, std::uint32_t want, int digits)
{
    return "checksum " + hexn(got, digits) + ", should be " + hexn(want, digits);
}

namespace {

// The file as text: a final 0x1A (the end of a text file to old systems) is no part of it.
std::string_view text_of(std::span<const unsigned char> file)
{
    std::string_view t(reinterpret_cast<const char*>(file.data()), file.size());
    if (t.ends_with('\x1A'))
        t.remove_suffix(1);
    return t;
}

// The line from at on, without its LF or CR LF; next is where the line after it begins.
std::string_view line_at(std::string_view t, std::size_t at, std::size_t& next)
{
    if (at >= t.size()) {
        next = t.size();
        return {};
    }
    const void* lf = std::memchr(t.data() + at, '\n', t.size() - at);
    const std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - t.data())
                               : t.size();
    next = lf ? end + 1 : end;
    std::string_view line = t.substr(at, end - at);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

// Runs every line through the reader. The buffer must hold every byte the text could give.
bool run_lines(hex_in& in, std::string_view t, line_reader read, bool needs_end)
{
    bool blank = false;  // a blank line was seen: only blank lines may follow
    for (std::size_t at = 0; at < t.size();) {
        std::size_t next;
        const std::string_view line = line_at(t, at, next);
        ++in.line;
        in.at = at;
        at = next;
        if (line.empty()) {
            blank = true;
            continue;
        }
        if (in.ended)
            return in.fail("text after the end record");
        if (blank)
            return in.fail("text after a blank line");
        if (!read(in, line))
            return false;
    }
    if (in.mode < 0)
        return ++in.line, in.fail("file ends inside a record");
    if (needs_end && !in.ended)
        return ++in.line, in.fail("file ends without its end record");
    return true;
}

// The line of the record that gave the byte at buffer offset off.
std::size_t line_of(std::string_view t, std::size_t off, int format)
{
    const format_row& row = formats[static_cast<std::size_t>(format)];
    hex_in in;
    std::unique_ptr<unsigned char[]> scratch(new unsigned char[t.size() / 2 + 2]);
    in.buf = scratch.get();
    in.watch = off;
    run_lines(in, t, row.read, row.needs_end);
    return in.watched;
}

}  // namespace

int detect_hex(std::span<const unsigned char> file)
{
    const std::string_view t = text_of(file);
    std::size_t next;
    const std::string_view first = line_at(t, 0, next);
    if (first.empty())
        return 0;
    // The first line gives at most half its length in bytes.
    std::unique_ptr<unsigned char[]> scratch(new unsigned char[first.size() / 2 + 2]);
    for (int f = cosmac; f <= ihf; ++f) {
        const line_reader read = formats[static_cast<std::size_t>(f)].read;
        bool tried = false;
        for (int g = cosmac; g < f; ++g)
            tried = tried || formats[static_cast<std::size_t>(g)].read == read;
        if (tried)
            continue;
        hex_in in;
        in.buf = scratch.get();
        in.line = 1;
        if (read(in, first))
            return f;
    }
    return 0;
}

hex_image read_hex(std::span<const unsigned char> file, int format)
{
    hex_image r;
    const std::string_view t = text_of(file);
    const format_row& row = formats[static_cast<std::size_t>(format)];
    // Every data byte takes two digits at least: half the text holds them all, and only the
    // pages written to are ever given memory.
    big_buffer buf(fw::big_alloc(t.size() / 2 + 16));
    if (!buf) {
        r.what = "no memory for " + std::to_string(t.size() / 2) + " bytes";
        return r;
    }
    hex_in in;
    in.buf = buf.get();
    if (!run_lines(in, t, row.read, row.needs_end)) {
        r.line = in.line;
        r.what = std::move(in.what);
        return r;
    }
    r.format = in.word ? in.word : format;

    std::vector<sourced> runs;
    runs.reserve(in.runs.size());
    for (std::size_t k = 0; k < in.runs.size(); ++k) {
        const hex_run& h = in.runs[k];
        origin o{"line " + std::to_string(h.line), h.addr, h.addr, h.at, h.n, "record address"};
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
        r.line = line_of(t, off, format);
        r.what = "address " + hexn(c.addr, 8) + " was given " + hexn(c.a) + " before, here " +
                 hexn(c.b);
        return r;
    }
    // An end record that says 0 says none, as e_entry 0 does.
    if (in.entry && *in.entry != 0)
        r.img.entry = in.entry;
    r.img.kind = "hex text";
    r.img.held.push_back(std::move(buf));
    return r;
}

std::string hex_message(std::string_view infile, std::size_t line, std::string_view what)
{
    return "Bad hex file " + std::string(infile) + " line " + std::to_string(line) + ": " +
           std::string(what) + "\n";
}

}  // namespace zb
