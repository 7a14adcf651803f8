// zorbin's command line (cistrcmp, getnum, the argument scan), help, loading and output files.
#include "driver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>

#include "engine.h"
#include "fileio.h"
#include "platform.h"
#include "formats.h"

namespace zb {

namespace {

// The help text lists IHF sixth; the numbers stay those of the table.
constexpr std::array<int, 13> help_order{1, 2, 3, 4, 5, 13, 6, 7, 8, 9, 10, 11, 12};

constexpr std::string_view help_head =
    "              <<< ZORBIN Version 1.2 >>>\n\n"
    "Command format: Zorbin [<options>] -<format> <binary-file> [<hex-output>]\n"
    "\nOptions:\n"
    "-Base n       Base address in output file\n"
    "              (prefix 'n' with 0x for hex, follow with K for kilobytes)\n"
    "-Bin          Accept a plain binary file as input rather than an AIF file\n"
    "\nFormat may be one of the following:\n";

constexpr std::uint64_t max_input = 0xFFFFFFFF;  // the 32-bit address space, less one byte
constexpr std::size_t read_chunk = std::size_t{1} << 30;

int lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

int format_number(std::string_view word)
{
    for (int f = 1; f < static_cast<int>(formats.size()); f++)
        if (cistrcmp(word, formats[f].word) == 0)
            return f;
    return 0;
}

std::string read_all(int fd, const std::string& name, loaded& in)
{
    // A directory holds no bytes to convert; a pipe or a device has no size of its own to
    // hold the image in: refused as a pipe's failed seek is.
    fw::input info;
    switch (fw::in_check(fd, info)) {
    case 0:
        break;
    case EISDIR:
        return "Error reading " + name + "\n";
    default:
        return "Error seeking on " + name + "\n";
    }
    in.id = info.id;
    auto size = info.size;
    if (size > max_input)
        return "Input file " + name + " too big for the 32-bit address space, " +
               std::to_string(size) + " bytes\n";
    // An empty file fails here too: there is no buffer of 0 bytes to convert.
    if (size > 0)
        in.data.reset(fw::big_alloc(static_cast<std::size_t>(size)));
    if (!in.data)
        return "Unable to allocate " + std::to_string(size) + " bytes\n";
    in.size = static_cast<std::size_t>(size);

    std::size_t got = 0;
    while (got < in.size) {
        std::size_t want = std::min(in.size - got, read_chunk);
        long long n = fw::pread(fd, in.data.get() + got, want, got);
        if (n <= 0)
            return "Error reading " + name + "\n";
        got += static_cast<std::size_t>(n);
    }
    return {};
}

bool fd_write(void* ctx, const char* data, std::size_t n)
{
    int e = fw::write_all(*static_cast<int*>(ctx), {data, n});
    if (e != 0)
        errno = e;
    return e == 0;
}

hex_result convert(const segment& seg, const options& opt, int fd,
                   std::optional<std::uint64_t> entry)
{
    sink out{&fd, fd_write};
    if (!seg.blocks.empty())
        return write_image(seg.blocks, opt.format, infile_name(opt), out, entry);
    const block whole{seg.base, {seg.data}};
    return write_image({&whole, 1}, opt.format, infile_name(opt), out, entry);
}

std::string failure(hex_result r, int format, const std::string& outname,
                    std::optional<std::uint64_t> entry)
{
    char msg[120];
    switch (r) {
    case hex_result::too_big:
        std::snprintf(msg, sizeof msg, "Base and/or size too big for this format, max = 0x%X\n",
                      static_cast<unsigned>(format_limit(format)));
        return msg;
    case hex_result::entry_too_big:
        std::snprintf(msg, sizeof msg,
                      "Entry point 0x%llX too big for the end record of -%s, max = 0x%llX\n",
                      static_cast<unsigned long long>(entry.value_or(0)),
                      std::string(formats[static_cast<std::size_t>(format)].word).c_str(),
                      static_cast<unsigned long long>(entry_limit(format)));
        return msg;
    default:
        return "Error writing " + outname + "\n";
    }
}

// -base n, -entry n: the number after the option word.
std::optional<std::string> number_arg(const char* const*& a, std::string_view option,
                                      std::uint32_t& value)
{
    if (!a[1])
        return "No argument on -" + std::string(option) + " option\n";
    auto v = getnum(*++a);
    if (!v)
        return "Bad number on -" + std::string(option) + " option\n";
    value = *v;
    return std::nullopt;
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
    std::uint64_t value = 0, numbase = 10;
    std::size_t i = 0;
    if (arg.starts_with('&')) {
        numbase = 16;
        i = 1;
    } else if (arg.starts_with("0x") || arg.starts_with("0X")) {
        numbase = 16;
        i = 2;
    }
    for (; i < arg.size(); i++) {
        int c = lower(static_cast<unsigned char>(arg[i]));
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (numbase == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            break;
        value = value * numbase + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFF)
            return std::nullopt;
    }
    if (i < arg.size()) {
        int c = lower(static_cast<unsigned char>(arg[i]));
        if (c == 'k')
            value <<= 10;
        else if (c == 'm')
            value <<= 20;
        else
            return std::nullopt;
        if (i + 1 != arg.size() || value > 0xFFFFFFFF)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

scan_result scan_args(const char* const* argv, options& opt)
{
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
        } else if (cistrcmp(word, "entry") == 0) {
            if (auto msg = number_arg(a, "entry", opt.entry))
                return {scan_status::error, *msg};
            opt.entryflag = true;
        } else if (cistrcmp(word, "info") == 0) {
            opt.info = true;
        } else if (int f = format_number(word)) {
            if (opt.format)
                return {scan_status::error, "Duplicate formats, -" +
                                                std::string(formats[opt.format].word) + " & -" +
                                                std::string(formats[f].word) + "\n"};
            opt.format = f;
        } else {
            return {scan_status::error, "Unrecognised format or option, -" + std::string(word) +
                                            ", enter Zorbin -help for help\n"};
        }
    }
    if (!opt.format && !opt.info)
        return {scan_status::usage, "No format specified (use -help for help)\n"};
    return {};
}

std::string give_help()
{
    std::string text(help_head);
    for (int f : help_order)
        text += formats[f].help;
    return text;
}

std::string_view infile_name(const options& opt)
{
    return opt.infile ? std::string_view(opt.infile) : "(null)";
}

void loaded::release::operator()(unsigned char* p) const { fw::big_free(p); }

std::string load(const options& opt, loaded& in)
{
    std::string name(infile_name(opt));
    int fd = opt.infile ? fw::open_read(opt.infile) : -1;
    if (fd < 0)
        return "Error opening " + name + " for input\n";
    std::string msg = read_all(fd, name, in);
    fw::close(fd);
    return msg;
}

std::string write_segment(const segment& seg, const options& opt, fw::file_id input,
                          written_files& done, std::optional<std::uint64_t> entry)
{
    if (!seg.outfile) {
        hex_result r = convert(seg, opt, fw::std_out, entry);
        return r == hex_result::ok ? std::string()
                                   : failure(r, opt.format, "standard output", entry);
    }
    const std::string& name = *seg.outfile;
    fw::file_id id;
    bool taken = fw::id_of(name, id);
    if (taken && id == input)
        return "Output file " + name + " is the input file " + std::string(infile_name(opt)) +
               ", not overwritten\n";
    if (taken && done.contains(id))
        return "Segment " + seg.name + " of " + std::string(infile_name(opt)) +
               " would overwrite " + name + ", written before in this run\n";

    fw::outfile f;
    if (fw::out_open(f, name) != 0)
        return "Error opening " + name + " for output\n";
    hex_result r = convert(seg, opt, f.fd, entry);
    if (r != hex_result::ok) {
        fw::out_abort(f);
        return failure(r, opt.format, name, entry);
    }
    if (fw::out_commit(f) != 0)
        return "Error writing " + name + "\n";
    if (fw::id_of(name, id))
        done.insert(id);
    return {};
}

bool say(int fd, std::string_view text)
{
    return fw::write_text(fd, text) == 0;
}

void report(std::string_view text)
{
    if (!say(fw::std_out, text))
        say(fw::std_err, text);
}

}  // namespace zb
