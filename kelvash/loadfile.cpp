// kelvash load-file writer: scans S-record input for its section and entry point, writes the
// header, copies the input behind it, and formats the report.
#include "loadfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "fileio.h"
#include "platform.h"

namespace kv {

namespace {

// Large enough that the scan and a copy without copy_file_range make few system calls,
// small enough to stay in the cache.
constexpr std::size_t block_size = 256 * 1024;
constexpr std::size_t page = 4096;

// The block that reads fill starts on a page boundary: the kernel copies into such a buffer
// several times faster than into a misaligned one. The page before it takes the unfinished
// end of the previous block.
struct read_buffer {
    struct page_delete {
        void operator()(char* p) const { ::operator delete[](p, std::align_val_t(page)); }
    };
    std::unique_ptr<char[], page_delete> mem{
        static_cast<char*>(::operator new[](page + block_size, std::align_val_t(page)))};
    char* block = mem.get() + page;

    read_buffer() = default;
    // block points into the buffer's own storage.
    read_buffer(const read_buffer&) = delete;
    read_buffer& operator=(const read_buffer&) = delete;
};

// The characters of text from pos, at most len of them; nothing past its end.
std::string_view field(std::string_view text, std::size_t pos, std::size_t len)
{
    return pos < text.size() ? text.substr(pos, len) : std::string_view{};
}

std::string_view c_string(std::string_view piece)
{
    return piece.substr(0, piece.find('\0'));
}

// A hexadecimal field as strtol reads it, kept as its 32-bit pattern; 0 when it has no digit.
std::uint32_t hexfield(std::string_view text, std::size_t pos, std::size_t len)
{
    auto v = strtol_like(field(text, pos, len), 16);
    return v ? static_cast<std::uint32_t>(*v) : 0;
}

// What the S-record scan has seen so far. Addresses compare as unsigned 32-bit values.
struct srec_scan {
    std::uint32_t lowest = 0xFFFFFFFF;
    std::uint32_t highest = 0;  // address of the last data byte of the highest record
    std::uint32_t end_address = 0;  // of the end record, once seen
};

// The n <= 8 characters at p read as hex digits: their value, with a bit above the low 32 set
// when one of them is none.
template <std::size_t n>
std::uint64_t hex_bits(const char* p)
{
    std::uint64_t acc = 0;
    for (std::size_t i = 0; i < n; i++)
        acc = acc << 4 | hex_values[static_cast<unsigned char>(p[i])];
    return acc;
}

// The n characters at p when all are hex digits, the way well-formed records have them.
template <std::size_t n>
bool plain_hex(const char* p, std::uint32_t& v)
{
    std::uint64_t acc = hex_bits<n>(p);
    v = static_cast<std::uint32_t>(acc);
    return acc >> 32 == 0;
}

write_result failed(wrote what, int e = 0)
{
    write_result r;
    r.what = what;
    r.err = e;
    return r;
}

bool is_regular(int fd)
{
    fw::file_info fi;
    return fw::info(fd, fi) == 0 && fi.type == fw::kind::regular;
}

// Reads a file in large blocks and hands it out in the pieces that a line reader with room
// for piece_max characters would return: up to and including a newline, or piece_max bytes.
// With a tee, every block goes to that file as soon as it is read, while it is in the cache.
struct piece_reader {
    int fd;
    int tee;  // -1 for none
    read_buffer& buf;
    const char* begin = buf.block;
    const char* end = buf.block;
    bool eof = false;
    std::uint64_t teed = 0;  // bytes passed to tee
};

enum class pr { piece, eof, in_error, out_error };

pr refill(piece_reader& r, int& e)
{
    std::size_t rest = static_cast<std::size_t>(r.end - r.begin);
    char* to = r.buf.block - rest;
    std::memmove(to, r.begin, rest);
    r.begin = to;
    char* end = r.buf.block;
    while (static_cast<std::size_t>(end - r.begin) < piece_max && !r.eof) {
        long long n = fw::read(r.fd, end, block_size - static_cast<std::size_t>(end - r.buf.block));
        if (n < 0) {
            e = errno;
            return pr::in_error;
        }
        if (r.tee >= 0 && (e = fw::write_all(r.tee, {end, static_cast<std::size_t>(n)})) != 0)
            return pr::out_error;
        if (r.tee >= 0)
            r.teed += static_cast<std::uint64_t>(n);
        r.eof = n == 0;
        end += n;
    }
    r.end = end;
    return pr::piece;
}

void take(piece_reader& r, std::size_t len, std::string_view& piece)
{
    piece = {r.begin, len};
    r.begin += len;
}

// The plain reading: the next piece found by searching for its newline, as the line reader
// finds it. Every line can be read this way; the fast path below only saves the wait.
pr searched_piece(piece_reader& r, std::string_view& piece, int& e)
{
    if (static_cast<std::size_t>(r.end - r.begin) < piece_max && !r.eof)
        if (pr got = refill(r, e); got != pr::piece)
            return got;
    std::size_t avail = std::min(static_cast<std::size_t>(r.end - r.begin), piece_max);
    if (avail == 0)
        return pr::eof;
    const void* nl = std::memchr(r.begin, '\n', avail);
    take(r, nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - r.begin) + 1 : avail, piece);
    return pr::piece;
}

// The fast path for full data records. The search for the newline waits on every byte of the
// line before the next line can start; a data record's count already says where its line must
// end, so the piece can be cut there and the cut checked (the line end stands there, no newline
// comes before) sixteen bytes at a time. Files of full records, nearly every S-record file,
// take the short way: on 4.4 million S3 lines (bench/kelvash_bench.sh) the process spends 24 ms
// instead of 32 ms of its own time, a quarter less; the rest of the run is the kernel's copy.

// Records mostly share one count, so the fast path keeps the two count characters of the
// last line it cut with their value: the next line need not wait for them to be decoded.
// (Two NULs, as it starts, would give lines too short to be cut that way.)
struct line_shape {
    std::uint16_t count_chars = 0;
    std::uint32_t count = 0;
};

using bytes16 = char __attribute__((vector_size(16)));

// True when none of the n >= 16 bytes at p is a newline, sixteen at a time.
bool no_newline(const char* p, std::size_t n)
{
    bytes16 hit{}, v;
    for (std::size_t i = 0; i + 16 < n; i += 16) {
        std::memcpy(&v, p + i, 16);
        hit |= v == '\n';
    }
    std::memcpy(&v, p + n - 16, 16);
    hit |= v == '\n';
    std::uint64_t half[2];
    std::memcpy(half, &hit, 16);
    return (half[0] | half[1]) == 0;
}

// The length of the piece at p when its line end, LF or CR LF, stands where the count puts it
// and no newline comes before: the piece that the search would cut. 0 when only the search
// can tell.
std::size_t counted_piece(const char* p, std::size_t avail, line_shape& shape)
{
    if (avail < piece_max)
        return 0;
    std::uint16_t chars;
    std::memcpy(&chars, p + 2, 2);
    if (chars != shape.count_chars) {
        std::uint32_t c;
        if (!plain_hex<2>(p + 2, c))
            return 0;
        shape = {chars, c};
    }
    std::size_t text = 4 + 2 * std::size_t(shape.count);  // characters before the line end
    if (text < 16 || text > piece_max - 2)
        return 0;
    std::size_t len = p[text] == '\n' ? text + 1 : p[text] == '\r' && p[text + 1] == '\n' ? text + 2 : 0;
    return len != 0 && no_newline(p, text) ? len : 0;
}

// The next piece: cut by its count where that can be trusted, found by the search otherwise.
pr next_piece(piece_reader& r, line_shape& shape, std::string_view& piece, int& e)
{
    if (std::size_t len = counted_piece(r.begin, static_cast<std::size_t>(r.end - r.begin), shape)) {
        take(r, len, piece);
        return pr::piece;
    }
    return searched_piece(r, piece, e);
}

// Takes a data record with t+1 address bytes into the section. Sn cc aaaa...: the count
// covers the address bytes, the data and the checksum, so the last data byte is at
// address + count - t - 3. Fields of plain hex digits, the way well-formed records have them,
// take the short way: they hold no NUL, and strtol reads them as their value. Anything else is
// read as strtol would read it.
template <unsigned t>
void data_record(std::string_view piece, srec_scan& s)
{
    constexpr std::size_t digits = (t + 1) * 2;
    std::uint64_t count = no_digit, address = 0;
    if (piece.size() >= 4 + digits) {
        // Both fields decoded, then one test.
        count = hex_bits<2>(piece.data() + 2);
        address = hex_bits<digits>(piece.data() + 4);
    }
    if ((count | address) >> 32 != 0) {
        std::string_view text = c_string(piece);
        count = hexfield(text, 2, 2);
        address = hexfield(text, 4, digits);
    }
    auto low = static_cast<std::uint32_t>(address);
    s.lowest = std::min(s.lowest, low);
    s.highest = std::max(s.highest, low + static_cast<std::uint32_t>(count) - t - 3);
}

enum class rec { more, end, syntax };

// Takes one piece of a line into s: data records widen the section, S0 and S5 are ignored,
// S7, S8 and S9 end the scan. Checksums and data are not read. The line is a C string to the
// scan: a NUL byte ends it.
rec scan_line(std::string_view piece, srec_scan& s)
{
    if (piece.size() < 2 || piece[0] != 'S')
        return rec::syntax;
    switch (piece[1]) {
    case '0':
    case '5':
        return rec::more;
    case '1':
        data_record<1>(piece, s);
        return rec::more;
    case '2':
        data_record<2>(piece, s);
        return rec::more;
    case '3':
        data_record<3>(piece, s);
        return rec::more;
    case '7':
    case '8':
    case '9':
        s.end_address = hexfield(c_string(piece), 4, (11 - std::size_t(piece[1] - '0')) * 2);
        return rec::end;
    default:
        return rec::syntax;
    }
}

// Scans the input from its start up to its first end record, passing what it reads to tee;
// teed tells how many bytes that was.
write_result scan_input(int in, int tee, srec_scan& s, read_buffer& buf, std::uint64_t& teed)
{
    if (fw::seek(in, 0, fw::from::start) < 0)
        return failed(wrote::in_error, errno);
    piece_reader r{in, tee, buf};
    line_shape shape;
    std::string_view piece;
    int e = 0;
    for (;;) {
        switch (next_piece(r, shape, piece, e)) {
        case pr::in_error:
            return failed(wrote::in_error, e);
        case pr::out_error:
            return failed(wrote::out_error, e);
        case pr::eof:
            return failed(wrote::in_eof);
        case pr::piece:
            break;
        }
        switch (scan_line(piece, s)) {
        case rec::syntax:
            return failed(wrote::syntax);
        case rec::end:
            teed = r.teed;
            return {};
        case rec::more:
            break;
        }
    }
}

// Copies the next left bytes of in behind what out holds, and makes sure the input ends
// there. A copy in the kernel keeps the bytes out of the process; whatever it cannot do, or
// any error it meets, goes on with read and write, which also tell whether a failure was the
// input's or the output's.
write_result copy_input(int in, int out, std::uint64_t left, read_buffer& buf)
{
    bool regular = is_regular(out);  // the input is a regular file by now
    while (regular && left > 0) {
        auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, std::uint64_t(1) << 30));
        long long n = fw::copy_range(in, out, want);
        if (n <= 0)
            break;
        left -= static_cast<std::uint64_t>(n);
    }
    for (;;) {
        // One byte more than is left: the read past the stated size must find the end.
        auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left + 1, block_size));
        long long n = fw::read(in, buf.block, want);
        if (n < 0)
            return failed(wrote::in_error, errno);
        if (static_cast<std::uint64_t>(n) > left || (n == 0 && left > 0))
            return failed(wrote::in_changed);
        if (n == 0)
            return {};
        if (int e = fw::write_all(out, {buf.block, static_cast<std::size_t>(n)}); e != 0)
            return failed(wrote::out_error, e);
        left -= static_cast<std::uint64_t>(n);
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

// The section that the scanned records span (the size wraps modulo 2^32).
section srec_section(const srec_scan& s)
{
    return {s.highest - s.lowest + 1, s.lowest};
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

// A line that zorbin's Intel reader takes as a record: ':', count, offset, type, the count's
// data bytes, and a checksum that brings the sum of them all to 0 modulo 256; the types after
// 00 (data) up to 05 with the count their value needs.
bool intel_record(std::string_view line)
{
    if (line.size() < 11 || line.size() % 2 == 0 || line[0] != ':')
        return false;
    std::uint64_t sum = 0;  // a character that is no digit sets a bit above the low 32
    for (std::size_t i = 1; i < line.size(); i += 2)
        sum += hex_bits<2>(line.data() + i);
    constexpr std::uint64_t sizes[] = {0, 0, 2, 4, 2, 4};
    std::uint64_t count = hex_bits<2>(line.data() + 1), type = hex_bits<2>(line.data() + 7);
    return sum >> 32 == 0 && (sum & 0xFF) == 0 && line.size() == 11 + 2 * count && type <= 5 &&
           (type == 0 || count == sizes[type]);
}

}  // namespace

fault foreign_input(std::string_view head)
{
    if (head.starts_with("\x7f" "ELF"))
        return fault::in_elf;
    // The first line as zorbin reads hex text: up to LF, without a CR before it, nor a 0x1A
    // that ends the file.
    std::string_view line = head.substr(0, head.find('\n'));
    if (line.size() == head.size() && line.ends_with('\x1A'))
        line.remove_suffix(1);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return intel_record(line) ? fault::in_intel : fault::ok;
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

write_result write_loadfile(input_kind k, task& t, int in, std::uint64_t in_size, int out)
{
    read_buffer buf;
    srec_scan s;
    std::uint64_t teed = 0;
    // A regular output gets the input as the scan reads it, behind room for the header that
    // is filled in afterwards: one pass over the input instead of two. Anything else must
    // see the header first.
    bool one_pass = false;
    if (k == input_kind::srec) {
        one_pass = is_regular(out) && fw::seek(out, header_size, fw::from::start) == header_size;
        if (write_result r = scan_input(in, one_pass ? out : -1, s, buf, teed); r.what != wrote::ok)
            return r;
        if (teed > in_size)
            return failed(wrote::in_changed);
    } else if (in_size > UINT32_MAX) {
        // The header has 32 bits for the size; a larger image cannot be described.
        return failed(wrote::too_big, EFBIG);
    }

    section sec = resolve(k, t, s, static_cast<std::uint32_t>(in_size));
    std::string header = load_header(k, t, sec);
    int e = one_pass ? fw::pwrite_all(out, header, 0) : fw::write_all(out, header);
    if (e != 0)
        return failed(wrote::out_error, e);
    if (!one_pass && fw::seek(in, 0, fw::from::start) < 0)
        return failed(wrote::in_error, errno);
    write_result r = copy_input(in, out, in_size - teed, buf);
    r.sec = sec;
    return r;
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
