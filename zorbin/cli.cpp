// zorbin's command line: cistrcmp, getnum, the argument scan and the help text.
#include "cli.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "formats/formats.h"
#include "image/number.h"

namespace zb {

namespace {

// The help text lists IHF sixth; the numbers stay those of the table.
constexpr std::array<fmt, 13> help_order{cosmac,    fairbug,   mostech, exorciser, mds,
                                          ihf,       signetics, tektronix, exormacs, mcs86,
                                          sdsmac,    motorola32, intel32};

constexpr std::string_view help_head =
    "              <<< ZORBIN Version 1.2 >>>\n\n"
    "Command format: Zorbin [<options>] -<format> <binary-file> [<hex-output>]\n"
    "\nOptions:\n"
    "-Base n       Base address in output file\n"
    "              (prefix 'n' with 0x for hex, follow with K for kilobytes)\n"
    "-Bin          Accept a plain binary file as input rather than an AIF file\n"
    "\nFormat may be one of the following:\n";


int lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

fmt format_number(std::string_view word)
{
    for (const fmt f : hex_formats)
        if (cistrcmp(word, formats[f].word) == 0)
            return f;
    return cistrcmp(word, "raw") == 0 ? raw : none;
}

std::string format_word(fmt f)
{
    return f == raw ? "raw" : std::string(formats[f].word);
}

// The numbers after an option word (-base n, -range lo size ...) into values; the message
// when one is missing or bad.
std::optional<std::string> number_args(const char* const*& a, std::string_view option,
                                       std::span<std::uint32_t* const> values)
{
    for (std::uint32_t* v : values) {
        if (!a[1])
            return "No argument on -" + std::string(option) + " option\n";
        auto n = getnum(*++a);
        if (!n)
            return "Bad number on -" + std::string(option) + " option\n";
        *v = *n;
    }
    return std::nullopt;
}

std::optional<std::string> number_arg(const char* const*& a, std::string_view option,
                                      std::uint32_t& value)
{
    std::uint32_t* v[]{&value};
    return number_args(a, option, v);
}

// lo size: the range [lo, lo + size), which must hold an address and end by 4 GiB.
std::optional<std::string> range_args(const char* const*& a, std::string_view option,
                                      std::optional<span_of>& r)
{
    std::uint32_t lo = 0, size = 0;
    std::uint32_t* v[]{&lo, &size};
    if (auto msg = number_args(a, option, v))
        return msg;
    if (size == 0 || std::uint64_t{lo} + size > past_4g)
        return "Bad size on -" + std::string(option) + " option\n";
    r = span_of{lo, std::uint64_t{lo} + size};
    return std::nullopt;
}

std::optional<std::string> crc_args(const char* const*& a, crc_request& req)
{
    if (!a[1])
        return "No argument on -crc option\n";
    ++a;
    // The words -crc has always taken.
    for (std::string_view w : {"crc32", "crc32be", "stm32", "crc16"})
        if (cistrcmp(*a, w) == 0) {
            parsed_kind k = parse_kind(w);
            req.kind = k.kind;
            req.name = std::move(k.name);
        }
    if (req.name.empty())
        return "Bad kind on -crc option, use crc32, crc32be, stm32 or crc16\n";
    std::uint32_t at = 0;
    if (auto msg = number_arg(a, "crc", at))
        return msg;
    req.at = at;
    return std::nullopt;
}

struct option_result {
    bool matched = false;
    std::optional<std::string> error;
};

std::optional<std::string> fill_arg(const char* const*& a, options& opt)
{
    std::uint32_t b = 0;
    if (auto msg = number_arg(a, "fill", b))
        return msg;
    if (b > 0xFF)
        return "Bad number on -fill option\n";
    opt.fill = static_cast<unsigned char>(b);
    return std::nullopt;
}

// The option words that take arguments beyond -base: each sets its part of opt.
option_result image_option(std::string_view word, const char* const*& a, options& opt,
                           std::optional<span_of>& crcrange)
{
    if (cistrcmp(word, "entry") == 0) {
        opt.entryflag = true;
        return {true, number_arg(a, "entry", opt.entry)};
    }
    if (cistrcmp(word, "fill") == 0)
        return {true, fill_arg(a, opt)};
    if (cistrcmp(word, "add") == 0 || cistrcmp(word, "addbin") == 0) {
        const bool bin = cistrcmp(word, "addbin") == 0;
        const std::string option = bin ? "addbin" : "add";
        if (!a[1])
            return {true, "No argument on -" + option + " option\n"};
        added in{*++a, {}};
        std::uint32_t at = 0;
        if (bin) {
            if (auto msg = number_arg(a, option, at))
                return {true, msg};
            in.at = at;
        }
        opt.adds.push_back(in);
        return {true, std::nullopt};
    }
    if (cistrcmp(word, "input") == 0) {
        if (!a[1])
            return {true, "No argument on -input option\n"};
        auto k = kind_of_word(*++a);
        if (!k)
            return {true, "Bad kind on -input option, use elf, aif, bin or a format word\n"};
        opt.input = *k;
        return {true, std::nullopt};
    }
    if (cistrcmp(word, "range") == 0)
        return {true, range_args(a, "range", opt.range)};
    if (cistrcmp(word, "crcrange") == 0)
        return {true, range_args(a, "crcrange", crcrange)};
    if (cistrcmp(word, "crc") == 0) {
        opt.crc.emplace();
        return {true, crc_args(a, *opt.crc)};
    }
    return {};
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

scan_result scan_args(const char* const* argv, options& opt)
{
    std::optional<span_of> crcrange;
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
        if (cistrcmp(word, "help") == 0)
            return {scan_status::help, {}};
        if (cistrcmp(word, "base") == 0) {
            if (auto msg = number_arg(a, "base", opt.base))
                return {scan_status::error, *msg};
            opt.baseflag = true;
        } else if (cistrcmp(word, "bin") == 0 || cistrcmp(word, "binary") == 0) {
            opt.binaryflag = true;
        } else if (cistrcmp(word, "info") == 0) {
            opt.info = true;
        } else if (option_result o = image_option(word, a, opt, crcrange); o.matched) {
            if (o.error)
                return {scan_status::error, *o.error};
        } else if (const fmt f = format_number(word); f != none) {
            if (opt.format != none)
                return {scan_status::error, "Duplicate formats, -" + format_word(opt.format) +
                                                " & -" + format_word(f) + "\n"};
            opt.format = f;
        } else {
            return {scan_status::error, "Unrecognised format or option, -" + std::string(word) +
                                            ", enter Zorbin -help for help\n"};
        }
    }
    if (crcrange && !opt.crc)
        return {scan_status::error, "Option -crcrange needs -crc\n"};
    if (opt.crc)
        opt.crc->covered = crcrange;
    if (opt.format == none && !opt.info)
        return {scan_status::usage, "No format specified (use -help for help)\n"};
    return {};
}

std::string give_help()
{
    std::string text(help_head);
    for (const fmt f : help_order)
        text += formats[f].help;
    return text;
}

std::string_view infile_name(const options& opt)
{
    return opt.infile ? std::string_view(opt.infile) : "(null)";
}

}  // namespace zb
