// zorbin's command line: cistrcmp, getnum, the argument scan and the help text.
#include "cli.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "formats/dfu.h"
#include "formats/formats.h"
#include "formats/wide.h"
#include "image/image.h"
#include "image/lanes.h"
#include "formats/uf2.h"
#include "image/number.h"
#include "image/sum.h"

namespace zb {

namespace {

constexpr std::string_view help_head =
    "              <<< ZORBIN Version 1.2 >>>\n\n"
    "Command format: Zorbin [<options>] -<format> <binary-file> [<hex-output>]\n"
    "\nOptions:\n";
constexpr std::string_view help_formats = "\nFormat may be one of the following:\n";

constexpr int lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

}  // namespace

// A -crcrange given before the first -crc belongs to it: the range waits for the scan's end.
struct scan_state {
    std::optional<span_of> crcrange;
};

namespace {

// Records an argument given by symbols for its slot; a later option for the same slot takes
// the place of an earlier one, as it does with numbers.
void defer(options& o, slot where, std::size_t k, const arg_value& v)
{
    std::erase_if(o.symbolic, [&](const deferred& d) { return d.where == where && d.index == k; });
    if (v.symbolic())
        o.symbolic.push_back({where, k, {v.number, v.size}, v.symbol});
}

// The -crc a -crcrange belongs to: the one before it, or the first.
std::size_t crc_index(const options& o) { return o.crcs.empty() ? 0 : o.crcs.size() - 1; }

// The options. A new one is a row here, with the field of options it sets; its arguments
// are read by their kinds (take_arg below).
constexpr option_row options_rows[] = {
    {.word = "help", .stops = true},
    {.word = "base", .args = {arg_kind::address},
     .help = "-Base n       Base address in output file\n"
             "              (prefix 'n' with 0x for hex, follow with K for kilobytes)\n",
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.base = v[0].number;
         o.baseflag = true;
         defer(o, slot::base, 0, v[0]);
     }},
    {.word = "bin", .alias = "binary",
     .help = "-Bin          Accept a plain binary file as input rather than an AIF file\n",
     .set = [](options& o, scan_state&, const arg_values&) { o.binaryflag = true; }},
    {.word = "info", .set = [](options& o, scan_state&, const arg_values&) { o.info = true; }},
    {.word = "entry", .args = {arg_kind::address},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.entry = v[0].number;
         o.entryflag = true;
         defer(o, slot::entry, 0, v[0]);
     }},
    {.word = "fill", .args = {arg_kind::byte},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.fill = static_cast<unsigned char>(v[0].number);
     }},
    {.word = "add", .args = {arg_kind::file},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.adds.push_back({v[0].word, {}});
     }},
    {.word = "addbin", .args = {arg_kind::file, arg_kind::address},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.adds.push_back({v[0].word, v[1].number});
         defer(o, slot::addbin_at, o.adds.size() - 1, v[1]);
     }},
    {.word = "input", .args = {arg_kind::input_kind},
     .set = [](options& o, scan_state&, const arg_values& v) { o.input = v[0].input; }},
    {.word = "range", .args = {arg_kind::range},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.range = v[0].range;
         defer(o, slot::range, 0, v[0]);
     }},
    {.word = "crcrange", .args = {arg_kind::range},
     .set = [](options& o, scan_state& s, const arg_values& v) {
         (o.crcs.empty() ? s.crcrange : o.crcs.back().covered) = v[0].range;
         defer(o, slot::crcrange, crc_index(o), v[0]);
     }},
    {.word = "crc", .args = {arg_kind::crc_kind, arg_kind::address},
     .set = [](options& o, scan_state&, const arg_values& v) {
         parsed_kind k = parse_kind(v[0].crc);
         o.crcs.push_back({k.kind, std::move(k.name), v[1].number, {}, {}, {}});
         defer(o, slot::crc_at, o.crcs.size() - 1, v[1]);
     }},
    {.word = "verify", .set = [](options& o, scan_state&, const arg_values&) { o.verify = true; }},
    {.word = "width", .args = {arg_kind::number},
     .set = [](options& o, scan_state&, const arg_values& v) { o.width = v[0].number; }},
    {.word = "be", .set = [](options& o, scan_state&, const arg_values&) { o.be = true; }},
    {.word = "name", .args = {arg_kind::name},
     .set = [](options& o, scan_state&, const arg_values& v) { o.name = v[0].word; }},
    {.word = "swap", .args = {arg_kind::number},
     .set = [](options& o, scan_state&, const arg_values& v) { o.swap = v[0].number; }},
    {.word = "split", .args = {arg_kind::number, arg_kind::number, arg_kind::maybe},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.split = lane_pick{v[0].number, v[1].number, v[2].given ? v[2].number : 1};
     }},
    {.word = "family", .args = {arg_kind::family},
     .set = [](options& o, scan_state&, const arg_values& v) { o.uf2_family = v[0].family; }},
    {.word = "usbid", .args = {arg_kind::usb_id},
     .set = [](options& o, scan_state&, const arg_values& v) { o.usbid = v[0].usb; }},
    {.word = "target", .args = {arg_kind::name},
     .set = [](options& o, scan_state&, const arg_values& v) { o.target = v[0].word; }},
    {.word = "reclen", .args = {arg_kind::number},
     .set = [](options& o, scan_state&, const arg_values& v) { o.reclen = v[0].number; }},
    {.word = "header", .args = {arg_kind::text},
     .set = [](options& o, scan_state&, const arg_values& v) { o.header = v[0].word; }},
    {.word = "only", .args = {arg_kind::text},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.sections.only.push_back(v[0].word);
     }},
    {.word = "remove", .args = {arg_kind::text},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.sections.remove.push_back(v[0].word);
     }},
    {.word = "cmp", .args = {arg_kind::file},
     .set = [](options& o, scan_state&, const arg_values& v) { o.cmp = added{v[0].word, {}}; }},
    {.word = "cmpbin", .args = {arg_kind::file, arg_kind::address},
     .set = [](options& o, scan_state&, const arg_values& v) {
         o.cmp = added{v[0].word, v[1].number};
     }},
};

// Every word the scan knows names one thing only: an option, an alias or a format, whatever
// their case. (That every row either stops the scan or sets something is the command line
// test's: see formats.h for why function addresses are not compared here.)
constexpr bool same_word(std::string_view s, std::string_view t)
{
    if (s.size() != t.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (lower(static_cast<unsigned char>(s[i])) != lower(static_cast<unsigned char>(t[i])))
            return false;
    return true;
}

static_assert([] {
    std::array<std::string_view, 2 * std::size(options_rows) + format_count + 1> words{};
    std::size_t n = 0;
    for (const option_row& o : options_rows) {
        if (o.word.empty())
            return false;
        words[n++] = o.word;
        if (!o.alias.empty())
            words[n++] = o.alias;
    }
    for (const fmt f : hex_formats)
        words[n++] = formats[f].word;
    words[n++] = word_of(raw);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (same_word(words[i], words[j]))
                return false;
    return true;
}());

fmt format_number(std::string_view word)
{
    for (const fmt f : hex_formats)
        if (cistrcmp(word, formats[f].word) == 0)
            return f;
    return cistrcmp(word, word_of(raw)) == 0 ? raw : none;
}

const option_row* option_of(std::string_view word)
{
    for (const option_row& o : options_rows)
        if (cistrcmp(word, o.word) == 0 || (!o.alias.empty() && cistrcmp(word, o.alias) == 0))
            return &o;
    return nullptr;
}

std::string on(std::string_view what, std::string_view option)
{
    return std::string(what) + " on -" + std::string(option) + " option";
}

// The next word of the argument vector, or none at its end.
const char* next_word(const char* const*& a)
{
    return a[1] ? *++a : nullptr;
}

// A number of the given kind from one word; the one place where the command line's numbers
// are read.
std::optional<std::string> take_number(const char* word, arg_kind k, std::string_view option,
                                       std::uint32_t& n)
{
    const std::optional<std::uint32_t> v = getnum(word);
    if (!v || (k == arg_kind::byte && *v > 0xFF))
        return on("Bad number", option) + "\n";
    n = *v;
    return std::nullopt;
}

// One to four hex digits, "0x" before them or not.
std::optional<std::uint16_t> hex16(std::string_view w)
{
    if (w.starts_with("0x") || w.starts_with("0X"))
        w.remove_prefix(2);
    if (w.empty() || w.size() > 4)
        return std::nullopt;
    std::uint16_t v = 0;
    for (const char c : w) {
        const int d = lower(static_cast<unsigned char>(c));
        if (d >= '0' && d <= '9')
            v = static_cast<std::uint16_t>(v * 16 + (d - '0'));
        else if (d >= 'a' && d <= 'f')
            v = static_cast<std::uint16_t>(v * 16 + (d - 'a' + 10));
        else
            return std::nullopt;
    }
    return v;
}

// VID:PID or VID:PID:BCD.
std::optional<usb_id> take_usb(std::string_view w)
{
    std::array<std::uint16_t, 3> f{0xFFFF, 0xFFFF, 0xFFFF};
    std::size_t n = 0;
    for (;; ++n) {
        const std::size_t colon = w.find(':');
        const auto v = n < f.size() ? hex16(w.substr(0, colon)) : std::nullopt;
        if (!v)
            return std::nullopt;
        f[n] = *v;
        if (colon == std::string_view::npos)
            break;
        w.remove_prefix(colon + 1);
    }
    if (n == 0)
        return std::nullopt;
    return usb_id{f[0], f[1], f[2]};
}

// A family's number, or a name of the list.
std::optional<std::uint32_t> take_family(std::string_view w)
{
    if (const auto v = getnum(w))
        return v;
    for (const uf2_family& f : uf2_families)
        if (cistrcmp(w, f.name) == 0)
            return f.id;
    return std::nullopt;
}

// @NAME, @NAME+N or @NAME-N, N a number as getnum takes it; none when the word is not one.
std::optional<symbol_ref> symbol_of(std::string_view word)
{
    if (!word.starts_with('@'))
        return std::nullopt;
    const std::size_t sign = word.find_first_of("+-", 1);
    symbol_ref r{word.substr(1, sign == std::string_view::npos ? sign : sign - 1), 0, word};
    if (r.name.empty())
        return std::nullopt;
    if (sign != std::string_view::npos) {
        const auto n = parse_number(word.substr(sign + 1), 0xFFFFFFFF, true);
        if (!n)
            return std::nullopt;
        r.offset = word[sign] == '-' ? -static_cast<std::int64_t>(*n) : static_cast<std::int64_t>(*n);
    }
    return r;
}

// An address or a size: a number, or a symbol whose value comes once the main input is read.
std::optional<std::string> take_address(const char* word, std::string_view option,
                                        std::uint32_t& n, std::optional<symbol_ref>& sym)
{
    if (word[0] != '@')
        return take_number(word, arg_kind::address, option, n);
    sym = symbol_of(word);
    if (!sym)
        return on("Bad number", option) + "\n";
    return std::nullopt;
}

// What is wrong with the range of lo and size: "Bad size" when it is empty or passes 4 GiB.
std::optional<std::string> range_fault(std::uint64_t lo, std::uint64_t size, std::string_view option)
{
    if (size == 0 || lo + size > past_4g)
        return on("Bad size", option) + "\n";
    return std::nullopt;
}

// A number that may be left out: the next word when it begins as a number does. A file name
// that does so is written ./NAME after it.
std::optional<std::string> take_maybe(const char* const*& a, std::string_view option,
                                      arg_value& v)
{
    const char* word = a[1];
    if (!word || !((word[0] >= '0' && word[0] <= '9') || word[0] == '&'))
        return std::nullopt;
    ++a;
    v.given = true;
    return take_number(word, arg_kind::number, option, v.number);
}

// One argument of kind k from the words after a, which moves past them; the message when a
// word is missing or bad.
std::optional<std::string> take_arg(const char* const*& a, arg_kind k, std::string_view option,
                                    arg_value& v)
{
    if (k == arg_kind::maybe)
        return take_maybe(a, option, v);
    const char* word = next_word(a);
    if (!word)
        return on("No argument", option) + "\n";
    switch (k) {
    case arg_kind::none:
    case arg_kind::maybe:
        break;
    case arg_kind::number:
    case arg_kind::byte:
        return take_number(word, k, option, v.number);
    case arg_kind::address:
        return take_address(word, option, v.number, v.symbol[0]);
    case arg_kind::range: {
        if (auto msg = take_address(word, option, v.number, v.symbol[0]))
            return msg;
        if (!(word = next_word(a)))
            return on("No argument", option) + "\n";
        if (auto msg = take_address(word, option, v.size, v.symbol[1]))
            return msg;
        if (v.symbolic())
            break;  // checked once the symbols are known
        if (auto msg = range_fault(v.number, v.size, option))
            return msg;
        v.range = span_of{v.number, std::uint64_t{v.number} + v.size};
        break;
    }
    case arg_kind::file:
    case arg_kind::text:
    case arg_kind::name:
        v.word = word;
        break;
    case arg_kind::crc_kind: {
        const parsed_kind k = parse_kind(word);
        if (k.fault == kind_fault::unknown)
            return on("Bad kind", option) + ", use " + kind_words() +
                   ", KIND/be or crc:WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT\n";
        if (k.fault != kind_fault::none)
            return on("Bad kind", option) + ": " + k.why + "\n";
        v.crc = word;
        break;
    }
    case arg_kind::input_kind: {
        const std::optional<zb::input_kind> in = kind_of_word(word);
        // A format that is only written has no reader to read the input with.
        if (!in || (in->k == kind::hex && !readable(in->format)))
            return on("Bad kind", option) + ", use elf, aif, bin or a format word\n";
        v.input = *in;
        break;
    }
    case arg_kind::family:
        if (const auto f = take_family(word))
            v.family = *f;
        else
            return on("Bad family", option) + ", use a number or one of " + uf2_family_names() +
                   "\n";
        break;
    case arg_kind::usb_id:
        if (const auto u = take_usb(word))
            v.usb = *u;
        else
            return on("Bad id", option) + ", use VID:PID or VID:PID:BCD in hex digits\n";
        break;
    }
    return std::nullopt;
}

// The arguments of option o, taken left to right, then what it sets.
std::optional<std::string> take_option(const char* const*& a, const option_row& o,
                                       options& opt, scan_state& s)
{
    arg_values v{};
    for (std::size_t k = 0; k < max_args && o.args[k] != arg_kind::none; ++k)
        if (auto msg = take_arg(a, o.args[k], o.word, v[k]))
            return msg;
    o.set(opt, s, v);
    return std::nullopt;
}

// The words of the formats whose rows have column c, as a message lists them: "-vmem, -mif
// or -coe".
std::string formats_with(bool format_row::*c)
{
    std::vector<std::string_view> words;
    for (const fmt f : hex_formats)
        if (formats[f].*c)
            words.push_back(formats[f].word);
    std::string s;
    for (std::size_t k = 0; k < words.size(); ++k) {
        s += k == 0 ? "-" : k + 1 == words.size() ? " or -" : ", -";
        s += words[k];
    }
    return s;
}

// The message for an option given with a format whose row lacks column c: -width and -be
// need a format of words, -name one that names what it holds. Without a format (-info)
// there is nothing to refuse.
std::optional<std::string> not_taken(const options& opt, std::string_view option,
                                     bool format_row::*c)
{
    const format_row* r = row_of(opt.format);
    if (opt.format == none || (r && r->*c))
        return std::nullopt;
    return "Option -" + std::string(option) + " needs " + formats_with(c) + ", not -" +
           std::string(word_of(opt.format)) + "\n";
}

}  // namespace

int cistrcmp(std::string_view s, std::string_view t)
{
    for (std::size_t i = 0;; i++) {
        int a = i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
        int b = i < t.size() ? static_cast<unsigned char>(t[i]) : 0;
        if (a != b) {
            a = lower(a);
            b = lower(b);
            if (a != b)
                return a - b;
        }
        if (a == 0)
            return 0;
    }
}

std::optional<std::uint32_t> getnum(std::string_view arg)
{
    const auto v = parse_number(arg, 0xFFFFFFFF);
    if (!v)
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::span<const option_row> option_table() { return options_rows; }

scan_result scan_args(const char* const* argv, options& opt)
{
    scan_state state;
    for (const char* const* a = argv[0] ? argv + 1 : argv; *a; a++) {
        std::string_view arg = *a;
        if (!arg.starts_with('-')) {
            if (!opt.infile)
                opt.infile = *a;
            else if (!opt.outfile)
                opt.outfile = *a;
            else
                return {scan_status::usage, "Too many arguments\n"};
            continue;
        }
        std::string_view word = arg.substr(1);
        if (const option_row* o = option_of(word)) {
            if (o->stops)
                return {scan_status::help, {}};
            if (auto msg = take_option(a, *o, opt, state))
                return {scan_status::error, *msg};
        } else if (const fmt f = format_number(word); f != none) {
            if (opt.format != none)
                return {scan_status::error, "Duplicate formats, -" +
                                                std::string(word_of(opt.format)) + " & -" +
                                                std::string(word_of(f)) + "\n"};
            opt.format = f;
        } else {
            return {scan_status::error, "Unrecognised format or option, -" + std::string(word) +
                                            ", enter Zorbin -help for help\n"};
        }
    }
    if (state.crcrange && opt.crcs.empty())
        return {scan_status::error, "Option -crcrange needs -crc\n"};
    if (state.crcrange && !opt.crcs.front().covered)
        opt.crcs.front().covered = state.crcrange;
    if (opt.verify && opt.crcs.empty())
        return {scan_status::error, "Option -verify needs -crc\n"};
    if (opt.format == none && !opt.info && !opt.verify && !opt.cmp)
        return {scan_status::usage, "No format specified (use -help for help)\n"};
    return {};
}

namespace {

// The formats whose rows have a header record, as a message lists them.
std::string header_formats()
{
    std::vector<std::string_view> words;
    for (const fmt f : hex_formats)
        if (formats[f].head)
            words.push_back(formats[f].word);
    std::string list;
    for (std::size_t k = 0; k < words.size(); ++k)
        list.append(k == 0 ? "-" : k + 1 == words.size() ? " or -" : ", -").append(words[k]);
    return list;
}

std::optional<std::string> reclen_refused(const options& opt, const format_row* r)
{
    std::string word(1, '-');
    word += word_of(opt.format);
    if (!r || !r->write)
        return "Option -reclen needs a format of records, not " + word + "\n";
    if (r->reclen_max == 0)
        return "Format " + word + " has records of one length, -reclen does not apply\n";
    const std::uint32_t n = *opt.reclen;
    const std::size_t step = r->reclen_step;
    if (n == 0 || n > r->reclen_max || n % step != 0)
        return "Record length " + std::to_string(n) + " on -reclen option, " + word + " takes " +
               (step == 2 ? "an even length from 2" : "1") + " to " +
               std::to_string(r->reclen_max) + "\n";
    return {};
}

std::optional<std::string> header_refused(const options& opt, const format_row* r)
{
    if (!r || !r->head)
        return "Option -header needs " + header_formats() + ", not -" +
               std::string(word_of(opt.format)) + "\n";
    const std::string_view text = opt.header;
    if (text.size() > r->head_max)
        return "Header text of " + std::to_string(text.size()) +
               " characters on -header option, max = " + std::to_string(r->head_max) + "\n";
    return {};
}

// -cmp writes nothing: neither a format word nor an output file goes with it.
std::optional<std::string> cmp_refused(const options& opt)
{
    if (opt.format != none)
        return "Option -cmp takes no format word: it compares and writes nothing, -" +
               std::string(word_of(opt.format)) + " given\n";
    if (opt.outfile)
        return "Option -cmp takes no output file: it compares and writes nothing, " +
               std::string(opt.outfile) + " given\n";
    if (opt.verify)
        return "Option -cmp takes no -verify: compare and verify in runs of their own\n";
    return {};
}

}  // namespace

std::optional<std::string> check_options(const options& opt)
{
    if (opt.width) {
        if (auto msg = not_taken(opt, "width", &format_row::words))
            return msg;
        if (const wide_error e = check_width(*opt.width); e.f != wide_fault::none)
            return wide_message(e, {}, {});
    }
    if (opt.be)
        if (auto msg = not_taken(opt, "be", &format_row::words))
            return msg;
    if (opt.name) {
        if (auto msg = not_taken(opt, "name", &format_row::named))
            return msg;
        if (!is_c_name(*opt.name))
            return wide_message({wide_fault::name, 0, 0, 0, std::string(*opt.name)}, {}, {});
    }
    if (opt.swap)
        if (const lane_error e = check_swap(*opt.swap); e.f != lane_fault::none)
            return lane_message(e, {});
    if (opt.split)
        if (const lane_error e = check_split(opt.split->n, opt.split->k, opt.split->w);
            e.f != lane_fault::none)
            return lane_message(e, {});
    if (opt.usbid)
        if (auto msg = not_taken(opt, "usbid", &format_row::usb))
            return msg;
    if (opt.target) {
        if (auto msg = not_taken(opt, "target", &format_row::targets))
            return msg;
        if (std::string_view(opt.target).size() > dfu_layout::name_max)
            return "Bad name on -target option, at most 254 bytes\n";
    }
    if (opt.cmp)
        if (auto msg = cmp_refused(opt))
            return msg;
    // Without a format (-info) there is nothing to refuse, as for -width.
    const format_row* r = row_of(opt.format);
    if (opt.reclen && opt.format != none)
        if (auto msg = reclen_refused(opt, r))
            return msg;
    if (opt.header && opt.format != none)
        if (auto msg = header_refused(opt, r))
            return msg;
    return std::nullopt;
}

// The head, the options' lines, the formats' lines in their places.
std::string give_help()
{
    std::string text(help_head);
    for (const option_row& o : options_rows)
        text += o.help;
    text += help_formats;
    for (int place = 1; place <= static_cast<int>(format_count); ++place)
        for (const fmt f : hex_formats)
            if (formats[f].help_rank == place)
                text += formats[f].help;
    return text;
}

bool comparing(const char* const* argv)
{
    for (const char* const* a = argv[0] ? argv + 1 : argv; *a; ++a)
        if (std::string_view w = *a; w.starts_with('-'))
            for (const std::string_view o : {"cmp", "cmpbin"})
                if (cistrcmp(w.substr(1), o) == 0)
                    return true;
    return false;
}

namespace {

constexpr std::string_view slot_words[] = {"base", "entry", "range", "crc", "crcrange", "addbin"};

std::string_view slot_word(slot s) { return slot_words[static_cast<std::size_t>(s)]; }

// The symbol a reference names, as the slot takes it: -entry the value itself (an ARM Thumb
// function's bit 0 kept, as the processor needs it), every other one the address of its first
// byte. Several definitions must agree.
std::optional<std::string> find_symbol(const symbol_table& t, const symbol_ref& r, bool value,
                                       std::string_view infile, named_symbol& out)
{
    const std::string where = std::string(r.name) + " in " + std::string(infile);
    if (!t.missing.empty())
        return "No symbol " + where + ", " + t.missing + "\n";
    const named_symbol* found = nullptr;
    for (const named_symbol& s : t.symbols) {
        if (s.name != r.name)
            continue;
        if (found && (value ? s.value != found->value : s.addr != found->addr))
            return "Symbol " + where + " has two values, " +
                   hex_text(value ? found->value : found->addr) + " and " +
                   hex_text(value ? s.value : s.addr) + "\n";
        found = found ? found : &s;
    }
    if (!found)
        return "No symbol " + where + "\n";
    out = *found;
    return std::nullopt;
}

// The symbol's value plus N, which must be a 32-bit address.
std::optional<std::string> offset_value(const symbol_ref& r, std::uint64_t base, slot where,
                                        std::uint32_t& out)
{
    const std::uint64_t n = static_cast<std::uint64_t>(r.offset < 0 ? -r.offset : r.offset);
    const bool below = r.offset < 0 && base < n;
    const std::uint64_t v = r.offset < 0 ? base - n : base + n;
    if (below || v > 0xFFFFFFFF || v < (r.offset < 0 ? 0 : base))
        return std::string(r.word) + " on -" + std::string(slot_word(where)) + " option gives " +
               (below ? std::string("an address below 0") : hex_text(v)) +
               ", not a 32-bit address\n";
    out = static_cast<std::uint32_t>(v);
    return std::nullopt;
}

// The numbers of d put where its slot says.
std::optional<std::string> place(options& opt, const deferred& d,
                                 const std::array<std::uint32_t, 2>& n,
                                 const std::array<named_symbol, 2>& sym)
{
    const std::string_view option = slot_word(d.where);
    switch (d.where) {
    case slot::base:
        opt.base = n[0];
        break;
    case slot::entry:
        opt.entry = n[0];
        break;
    case slot::addbin_at:
        opt.adds[d.index].at = n[0];
        break;
    case slot::crc_at: {
        crc_request& q = opt.crcs[d.index];
        q.at = n[0];
        // The field may take whatever lies at the symbol; when it starts inside a symbol of
        // known size, the rest of the symbol is its room.
        const std::int64_t into = d.symbol[0]->offset;
        const std::uint64_t size = sym[0].size;
        if (size == 0 || (into >= 0 && static_cast<std::uint64_t>(into) < size)) {
            q.symbol = std::string(d.symbol[0]->name);
            if (size > 0)
                q.room = size - static_cast<std::uint64_t>(into);
        }
        break;
    }
    case slot::range:
    case slot::crcrange: {
        if (auto msg = range_fault(n[0], n[1], option))
            return msg;
        const span_of r{n[0], std::uint64_t{n[0]} + n[1]};
        (d.where == slot::range ? opt.range : opt.crcs[d.index].covered) = r;
        break;
    }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> resolve_symbols(options& opt, const symbol_table& table,
                                           std::string_view infile,
                                           std::vector<std::string>& notes)
{
    std::vector<std::string> told;
    for (const deferred& d : opt.symbolic) {
        std::array<std::uint32_t, 2> n = d.number;
        std::array<named_symbol, 2> sym{};
        const bool value = d.where == slot::entry;
        for (std::size_t k = 0; k < 2; ++k) {
            if (!d.symbol[k])
                continue;
            if (auto msg = find_symbol(table, *d.symbol[k], value, infile, sym[k]))
                return msg;
            const std::uint64_t v = value ? sym[k].value : sym[k].addr;
            if (auto msg = offset_value(*d.symbol[k], v, d.where, n[k]))
                return msg;
            std::string note = "symbol " + std::string(d.symbol[k]->name) + " = " + hex_text(v, 8) +
                               (value ? ", as -entry takes it" : "");
            if (std::find(told.begin(), told.end(), note) == told.end())
                told.push_back(std::move(note));
        }
        if (auto msg = place(opt, d, n, sym))
            return msg;
    }
    notes.insert(notes.end(), told.begin(), told.end());
    return std::nullopt;
}

std::optional<std::string> family_unused(const options& opt, bool uf2_input)
{
    if (opt.uf2_family && opt.format != uf2 && !uf2_input)
        return "Option -family needs -uf2 or a UF2 input\n";
    return std::nullopt;
}

std::string_view infile_name(const options& opt)
{
    return opt.infile ? std::string_view(opt.infile) : "(null)";
}

}  // namespace zb
