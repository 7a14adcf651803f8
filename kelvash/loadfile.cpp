// kelvash load-file writer: scans S-record input for its section and entry point, writes the
// header, copies the input behind it, and formats the report.
#include "loadfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fileio.h"

namespace kv {

namespace {

// Large enough that the scan and a copy without copy_file_range make few system calls,
// small enough to stay in the cache.
constexpr std::size_t block = 256 * 1024;

// The characters of text from pos, at most len of them; nothing past its end.
std::string_view field(std::string_view text, std::size_t pos, std::size_t len)
{
    return pos < text.size() ? text.substr(pos, len) : std::string_view{};
}

// A hexadecimal field as strtol reads it, kept as its 32-bit pattern; 0 when it has no digit.
std::uint32_t hexfield(std::string_view text, std::size_t pos, std::size_t len)
{
    auto v = strtol_like(field(text, pos, len), 16);
    return v ? static_cast<std::uint32_t>(*v) : 0;
}

// Reads a file in large blocks and hands it out in the pieces that a line reader with room
// for piece_max characters would return: up to and including a newline, or piece_max bytes.
struct piece_reader {
    int fd;
    std::vector<char>& buf;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool eof = false;
};

write_result failed(wrote what, int e = 0)
{
    write_result r;
    r.what = what;
    r.err = e;
    return r;
}

enum class pr { piece, eof, error };

pr next_piece(piece_reader& r, std::string_view& piece, int& e)
{
    if (r.end - r.begin < piece_max && !r.eof) {
        std::memmove(r.buf.data(), r.buf.data() + r.begin, r.end - r.begin);
        r.end -= r.begin;
        r.begin = 0;
        while (r.end < piece_max && !r.eof) {
            ssize_t n = ::read(r.fd, r.buf.data() + r.end, r.buf.size() - r.end);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                e = errno;
                return pr::error;
            }
            r.eof = n == 0;
            r.end += static_cast<std::size_t>(n);
        }
    }
    std::size_t avail = std::min(r.end - r.begin, piece_max);
    if (avail == 0)
        return pr::eof;
    const char* p = r.buf.data() + r.begin;
    const void* nl = std::memchr(p, '\n', avail);
    std::size_t len = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - p) + 1 : avail;
    piece = {p, len};
    r.begin += len;
    return pr::piece;
}

write_result scan_input(int in, srec_scan& s, std::vector<char>& buf)
{
    if (::lseek(in, 0, SEEK_SET) < 0)
        return failed(wrote::in_error, errno);
    piece_reader r{in, buf};
    std::string_view piece;
    int e = 0;
    for (;;) {
        switch (next_piece(r, piece, e)) {
        case pr::error:
            return failed(wrote::in_error, e);
        case pr::eof:
            return failed(wrote::in_eof);
        case pr::piece:
            break;
        }
        switch (scan_record(piece, s)) {
        case rec::syntax:
            return failed(wrote::syntax);
        case rec::end:
            return {};
        case rec::more:
            break;
        }
    }
}

// Copies in from its start to its end behind what out holds. copy_file_range keeps the bytes
// in the kernel; whatever it cannot do, or any error it meets, goes on with read and write,
// which also tell whether a failure was the input's or the output's.
write_result copy_input(int in, int out, std::vector<char>& buf)
{
    if (::lseek(in, 0, SEEK_SET) < 0)
        return failed(wrote::in_error, errno);
    struct stat si, so;
    bool regular = ::fstat(in, &si) == 0 && S_ISREG(si.st_mode) && ::fstat(out, &so) == 0 &&
                   S_ISREG(so.st_mode);
    while (regular) {
        ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t(1) << 30, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
    }
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed(wrote::in_error, errno);
        if (n == 0)
            return {};
        if (int e = fw::write_all(out, {buf.data(), static_cast<std::size_t>(n)}); e != 0)
            return failed(wrote::out_error, e);
    }
}

void hex8(std::string& out, std::uint32_t v)
{
    constexpr char digits[] = "0123456789ABCDEF";
    char buf[8];
    for (int i = 7; i >= 0; i--, v >>= 4)
        buf[i] = digits[v & 0xF];
    out.append(buf, 8);
}

std::string_view tag(input_kind k, char code_type)
{
    if (k == input_kind::srec)
        return code_type == 'A' ? "SRECA" : "SRECR";
    return code_type == 'A' ? "_AIFA" : "_AIFR";
}

// Fills in what the header writes for fields left at their markers.
section resolve(input_kind k, task& t, const srec_scan& s, std::uint32_t aif_size)
{
    section sec;
    if (k == input_kind::srec) {
        if (t.entry_point == -1)
            t.entry_point = static_cast<std::int32_t>(s.end_address);
        sec = srec_section(s);
    } else {
        if (t.entry_point == -1)
            t.entry_point = t.load_address != -1 ? t.load_address : 0;
        sec.size = aif_size;
        if (t.code_type == 'A')
            sec.start = static_cast<std::uint32_t>(t.load_address != -1 ? t.load_address : t.entry_point);
        t.load_address = static_cast<std::int32_t>(sec.start);
    }
    if (t.supv_stack_size == -1)
        t.supv_stack_size = 0;
    if (t.user_stack_size == -1)
        t.user_stack_size = 0;
    return sec;
}

std::string words(char option, std::uint32_t bits)
{
    std::string w;
    for (const flag_letter& f : flag_letters) {
        if (f.option != option)
            continue;
        if (!w.empty())
            w += ", ";
        w += (bits & f.bit) ? f.set : f.clear;
    }
    return w;
}

}  // namespace

rec scan_record(std::string_view piece, srec_scan& s)
{
    // The line is a C string to the scan: a NUL byte ends it.
    std::string_view text = piece.substr(0, piece.find('\0'));
    if (text.empty() || text[0] != 'S')
        return rec::syntax;
    char type = text.size() > 1 ? text[1] : '\0';
    switch (type) {
    case '0':
    case '5':
        return rec::more;
    case '1':
    case '2':
    case '3': {
        // Sn cc aaaa...: the count covers the n+1 address bytes, the data and the checksum.
        unsigned t = static_cast<unsigned>(type - '0');
        std::uint32_t count = hexfield(text, 2, 2);
        std::uint32_t address = hexfield(text, 4, (t + 1) * 2);
        std::uint32_t last = address + count - t - 3;
        s.lowest = std::min(s.lowest, address);
        s.highest = std::max(s.highest, last);
        return rec::more;
    }
    case '7':
    case '8':
    case '9': {
        unsigned t = static_cast<unsigned>(type - '0');
        s.end_address = hexfield(text, 4, (11 - t) * 2);
        return rec::end;
    }
    default:
        return rec::syntax;
    }
}

section srec_section(const srec_scan& s)
{
    return {s.highest - s.lowest + 1, s.lowest};
}

std::string load_header(input_kind k, const task& t, const section& sec)
{
    std::string h(tag(k, t.code_type));
    h.append(t.task_name.data(), t.task_name.size());
    for (std::int32_t v : {t.priority, t.supv_stack_size, t.user_stack_size})
        hex8(h, static_cast<std::uint32_t>(v));
    hex8(h, t.creation_flags);
    hex8(h, t.start_mode);
    hex8(h, static_cast<std::uint32_t>(t.entry_point));
    hex8(h, 1);
    hex8(h, sec.size);
    hex8(h, sec.start);
    return h;
}

write_result write_loadfile(input_kind k, task& t, int in, int out)
{
    std::vector<char> buf(block);
    srec_scan s;
    std::uint32_t aif_size = 0;
    if (k == input_kind::srec) {
        if (write_result r = scan_input(in, s, buf); r.what != wrote::ok)
            return r;
    } else {
        off_t size = ::lseek(in, 0, SEEK_END);
        if (size < 0)
            return failed(wrote::in_error, errno);
        // The header has 32 bits for the size; a larger image cannot be described.
        if (size > static_cast<off_t>(UINT32_MAX))
            return failed(wrote::too_big);
        aif_size = static_cast<std::uint32_t>(size);
    }

    write_result r;
    r.sec = resolve(k, t, s, aif_size);
    if (int e = fw::write_all(out, load_header(k, t, r.sec)); e != 0)
        return {wrote::out_error, e, r.sec};
    write_result c = copy_input(in, out, buf);
    c.sec = r.sec;
    return c;
}

std::string report(input_kind k, const task& t, const section& sec)
{
    bool srec = k == input_kind::srec;
    const char* code = t.code_type == 'A' ? "Absolute" : srec ? "Position Independent" : "Self Relocating";
    std::size_t name_len = std::find(t.task_name.begin(), t.task_name.end(), '\0') - t.task_name.begin();
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "Object file type:\t\t%s\n"
                  "Code type:\t\t\t%s\n"
                  "Number of sections:\t\t1\n"
                  "\tSection start:\t\t0x%lx\n"
                  "\tSection size:\t\t%lu bytes\n"
                  "\nTask Name:\t\t\t%.*s\n"
                  "Task Entry Point:\t\t0x%lX\n"
                  "Supervisor Stack Size:\t\t%ld bytes\n"
                  "User Stack Size:\t\t%ld bytes\n"
                  "Task Priority:\t\t\t%ld\n"
                  "Task Creation Flags:\t\t%s\n"
                  "Task Start Mode:\t\t%s\n"
                  "Output File:\t\t\t",
                  srec ? "Motorola S-Records" : "ARM AIF Binary", code,
                  static_cast<unsigned long>(sec.start), static_cast<unsigned long>(sec.size),
                  static_cast<int>(name_len), t.task_name.data(),
                  static_cast<unsigned long>(static_cast<std::uint32_t>(t.entry_point)),
                  static_cast<long>(t.supv_stack_size), static_cast<long>(t.user_stack_size),
                  static_cast<long>(t.priority), words('c', t.creation_flags).c_str(),
                  words('m', t.start_mode).c_str());
    std::string r = buf;
    r += t.out_file;
    r += '\n';
    return r;
}

}  // namespace kv
