// Hex record engine: one block of image bytes at a base address, written as one complete file
// in any of the thirteen hex object formats.
#include "engine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace zb {
namespace {

struct format_info {
    std::uint32_t limit;    // highest address the format can carry
    std::uint64_t end_max;  // highest base + size accepted
    std::size_t record;     // data bytes per full record
};

// The narrow formats keep their historical margin: base + size, one past the last byte, must
// itself be an address of the format, so 65,535 bytes at 0 fit a 16-bit format and 65,536 do
// not. The 32-bit formats take data right up to address 0xFFFFFFFF but never wrap past it.
constexpr std::uint64_t past_4g = 0x100000000;
constexpr std::array<format_info, 14> formats{{
    {0, 0, 16},                         // no format 0
    {0xFFFF, 0xFFFF, 16},               // cosmac
    {0xFFFF, 0xFFFF, 8},                // fairbug
    {0xFFFF, 0xFFFF, 16},               // mostech
    {0xFFFF, 0xFFFF, 16},               // exorciser
    {0xFFFF, 0xFFFF, 16},               // mds
    {0xFFFF, 0xFFFF, 16},               // signetics
    {0xFFFF, 0xFFFF, 16},               // tektronix
    {0xFFFF, 0xFFFF, 16},               // exormacs: six address digits, 16-bit limit
    {0xFFFFF, 0xFFFFF, 16},             // mcs86
    {0xFFFF, 0xFFFF, 16},               // sdsmac
    {0xFFFFFFFF, past_4g, 16},          // motorola32
    {0xFFFFFFFF, past_4g, 16},          // intel32
    {0x3FFFF, 0x3FFFF, 32},             // ihf
}};

constexpr std::array<std::string_view, 14> end_records{
    "", "\r\n", "*\r\n", "", "S9030000FC\r\n", ":00000001FF\r\n", ":000000\r\n",
    "/00000000\r\n", "S9030000FC\r\n", ":00000001FF\r\n", ":\r\n", "S70500000000FA\r\n",
    ":00000001FF\r\n", ":00 0000 01 FF\r\n",
};

constexpr char digits[] = "0123456789ABCDEF";

// The two digits of every byte value, as they lie in memory.
constexpr auto hex_pairs = [] {
    std::array<std::uint16_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = std::bit_cast<std::uint16_t>(std::array<char, 2>{digits[v >> 4], digits[v & 15]});
    return t;
}();

inline char* put2(char* p, std::uint32_t v)
{
    std::memcpy(p, &hex_pairs[v & 0xFF], 2);
    return p + 2;
}
inline char* put4(char* p, std::uint32_t v) { return put2(put2(p, v >> 8), v); }
inline char* put6(char* p, std::uint32_t v) { return put4(put2(p, v >> 16), v); }
inline char* put8(char* p, std::uint32_t v) { return put4(put4(p, v >> 16), v); }
inline char* put_text(char* p, std::string_view s)
{
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}
inline char* put_eol(char* p) { return put_text(p, "\r\n"); }

// Output is formatted into one large buffer and handed to the sink in big blocks.
constexpr std::size_t buf_size = 256 * 1024;
constexpr std::size_t slack = 256;  // more than the longest record plus a page record

struct out_buffer {
    const sink& out;
    std::unique_ptr<char[]> buf{new char[buf_size]};
    std::size_t len = 0;

    bool flush()
    {
        const bool ok = len == 0 || out.write(out.ctx, buf.get(), len);
        len = 0;
        return ok;
    }
    // Where the next record goes, with room for at least one (slack bytes); nullptr when a
    // flush failed.
    char* room()
    {
        if (buf_size - len < slack && !flush())
            return nullptr;
        return buf.get() + len;
    }
    // Past this point a further record may not fit.
    const char* full() const { return buf.get() + (buf_size - slack); }
    void commit(const char* end) { len = static_cast<std::size_t>(end - buf.get()); }
    bool put(std::string_view s)
    {
        if (buf_size - len < s.size()) {
            if (!flush())
                return false;
            if (s.size() > buf_size)
                return out.write(out.ctx, s.data(), s.size());
        }
        std::memcpy(buf.get() + len, s.data(), s.size());
        len += s.size();
        return true;
    }
};

// One checksum step over a byte value, per format. sdsmac sums the character codes of its
// record text instead (char_sum).
template <int F>
constexpr std::uint32_t add_checksum(std::uint32_t sum, std::uint32_t v)
{
    if constexpr (F == cosmac) {
        return 0;
    } else if constexpr (F == fairbug || F == tektronix) {
        return sum + ((v >> 4) & 0xF) + (v & 0xF);
    } else if constexpr (F == signetics) {
        const std::uint32_t x = (sum ^ v) & 0xFF;  // only the low 8 bits are ever printed
        return ((x << 1) | (x >> 7)) & 0xFF;
    } else {
        return sum + v;
    }
}

// The sum every record head starts from: address bits 8..15, bits 0..7, the count.
template <int F>
constexpr std::uint32_t head_sum(std::uint32_t addr, std::uint32_t count)
{
    return add_checksum<F>(add_checksum<F>(add_checksum<F>(0, (addr >> 8) & 0xFF), addr & 0xFF),
                           count);
}

// Hex digits sixteen bytes at a time, in 16-lane byte vectors (SSE2 on x86-64, plain scalar
// code where a target has none): split the nibbles, interleave them into digit order, and make
// each nibble n the digit '0' + n, plus 7 more when n > 9.
using lanes16 = unsigned char __attribute__((vector_size(16)));

inline lanes16 ascii_hex(lanes16 n) { return n + '0' + (reinterpret_cast<lanes16>(n > 9) & 7); }

// Digits of bytes 0..7 of x, and of bytes 8..15.
inline lanes16 first_digits(lanes16 x)
{
    return ascii_hex(__builtin_shufflevector(x >> 4, x & 15, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20,
                                             5, 21, 6, 22, 7, 23));
}
inline lanes16 second_digits(lanes16 x)
{
    return ascii_hex(__builtin_shufflevector(x >> 4, x & 15, 8, 24, 9, 25, 10, 26, 11, 27, 12,
                                             28, 13, 29, 14, 30, 15, 31));
}

inline void hex16(char* p, const unsigned char* s)
{
    lanes16 x;
    std::memcpy(&x, s, 16);
    const lanes16 a = first_digits(x), b = second_digits(x);
    std::memcpy(p, &a, 16);
    std::memcpy(p + 16, &b, 16);
}

inline void hex8(char* p, const unsigned char* s)
{
    lanes16 x{};
    std::memcpy(&x, s, 8);
    const lanes16 a = first_digits(x);
    std::memcpy(p, &a, 16);
}

// Sums of the bytes of 8-byte words, or of their nibbles, in any byte order: bytes (nibbles)
// are added in 16-bit (8-bit) lanes, which a multiply then adds up in its top lane.
inline std::uint32_t lane_total16(std::uint64_t lanes)
{
    return static_cast<std::uint32_t>((lanes * 0x0001000100010001) >> 48);
}
inline std::uint64_t byte_lanes(std::uint64_t x)
{
    constexpr std::uint64_t m = 0x00FF00FF00FF00FF;
    return (x & m) + ((x >> 8) & m);
}
inline std::uint32_t byte_sum8(std::uint64_t x) { return lane_total16(byte_lanes(x)); }
inline std::uint32_t nibble_sum8(std::uint64_t x)
{
    constexpr std::uint64_t m = 0x0F0F0F0F0F0F0F0F;
    const std::uint64_t s = (x & m) + ((x >> 4) & m);
    return static_cast<std::uint32_t>((s * 0x0101010101010101) >> 56);
}

std::uint32_t char_sum(const char* p, const char* end)
{
    std::uint32_t sum = 0;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        sum += byte_sum8(w);
    }
    for (; p != end; ++p)
        sum += static_cast<unsigned char>(*p);
    return sum;
}

// The checksum steps of eight data bytes.
template <int F>
inline std::uint32_t sum8(std::uint32_t sum, const unsigned char* s)
{
    if constexpr (F == signetics) {
        for (int k = 0; k < 8; ++k)
            sum = add_checksum<F>(sum, s[k]);
        return sum;
    } else if constexpr (F == cosmac) {
        return 0;
    } else {
        std::uint64_t w;
        std::memcpy(&w, s, 8);
        return sum + (F == fairbug || F == tektronix ? nibble_sum8(w) : byte_sum8(w));
    }
}

// The checksum steps of sixteen data bytes.
template <int F>
inline std::uint32_t sum16(std::uint32_t sum, const unsigned char* s)
{
    if constexpr (F == signetics || F == cosmac) {
        return sum8<F>(sum8<F>(sum, s), s + 8);
    } else {
        std::uint64_t w[2];
        std::memcpy(w, s, 16);
        if constexpr (F == fairbug || F == tektronix)
            return sum + nibble_sum8(w[0]) + nibble_sum8(w[1]);
        else
            return sum + lane_total16(byte_lanes(w[0]) + byte_lanes(w[1]));
    }
}


// n data bytes as "%02X" each, folded into sum.
template <int F>
[[gnu::always_inline]] inline char* put_data(char* p, const unsigned char* s, std::size_t n,
                                              std::uint32_t& sum)
{
    std::size_t k = 0;
    for (; k + 16 <= n; k += 16, p += 32) {
        hex16(p, s + k);
        sum = sum16<F>(sum, s + k);
    }
    if (k + 8 <= n) {
        hex8(p, s + k);
        sum = sum8<F>(sum, s + k);
        k += 8;
        p += 16;
    }
    for (; k < n; ++k) {
        p = put2(p, s[k]);
        sum = add_checksum<F>(sum, s[k]);
    }
    return p;
}

// Extended address record that opens a 64 KiB page: type 02 (segment, bits 16..19 of the
// address as the top digit) for mcs86, type 04 (upper 16 bits) for intel32.
char* page_record(char* p, int format, std::uint32_t addr)
{
    const bool seg = format == mcs86;
    const std::uint32_t v = seg ? (addr >> 4) & 0xF000 : addr >> 16;
    const std::uint32_t type = seg ? 2 : 4;
    p = put_text(p, seg ? ":02000002" : ":02000004");
    p = put4(p, v);
    p = put2(p, 0 - (2 + type + (v >> 8) + (v & 0xFF)));
    return put_eol(p);
}

// sdsmac start record: 0 <size> 7 <file name as upper-cased character codes> 8 <sum> F, where
// the sum is the plain 16-bit sum of the character codes up to and including the 8.
std::string sdsmac_start(std::size_t size, std::string_view filename)
{
    std::string line(6 + 2 * filename.size() + 8, '\0');
    char* p = line.data();
    *p++ = '0';
    p = put4(p, static_cast<std::uint32_t>(size));
    *p++ = '7';
    for (const char ch : filename) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 'a' + 'A');
        p = put2(p, c);
    }
    *p++ = '8';
    p = put4(p, char_sum(line.data(), p));
    *p++ = 'F';
    put_eol(p);
    return line;
}

// Start-of-output text, after the limit check has passed.
bool print_header(out_buffer& w, std::size_t size, int format, std::string_view filename,
                  std::uint32_t base)
{
    if (format == sdsmac)
        return w.put(sdsmac_start(size, filename));
    char* p = w.room();
    if (!p)
        return false;
    if (format == cosmac) {
        p = put_text(put4(put_text(p, "!M"), base), " ,\r\n");
    } else if (format == fairbug) {
        *p++ = 'S';
        p = put_eol(put4(p, base));
    } else if (format == mcs86 || format == intel32) {
        p = page_record(p, format, base);
    }
    w.commit(p);
    return true;
}

bool print_trailer(out_buffer& w, std::uint32_t records, int format)
{
    if (format != mostech)
        return w.put(end_records[static_cast<std::size_t>(format)]);
    char* p = w.room();
    if (!p)
        return false;
    p = put4(put4(put_text(p, ";00"), records), records);
    w.commit(put_eol(p));
    return true;
}

// One data record of n bytes (n <= the format's record size) at address addr.
// Layouts (count = n, AAAA = address, D.. = data, CC = checksum):
//   cosmac      D..                      (the loop adds "," between records)
//   fairbug     X D(8 bytes, FF fill) C  C = nibble sum of the data, 4 bits
//   mostech     ; nn AAAA D.. CCCC       16-bit sum of count, address and data bytes
//   S1/S2/S3    Sx nn AAAA[AA[AA]] D.. CC  nn = count + address bytes + 1, one's complement
//   mds/mcs86/intel32   : nn AAAA 00 D.. CC  two's complement
//   signetics   : AAAA nn HH D.. CC      rotate-and-XOR, head and data separately
//   tektronix   / AAAA nn HH D.. CC      nibble sums, head and data separately
//   sdsmac      9AAAA BWWWW.. 8CCCCF     CCCC = -(sum of character codes 9 .. 8)
//   ihf         : nn AAAA 00 D.. CC      nn and AAAA in units of 4 bytes, with blanks
template <int F>
[[gnu::always_inline]] inline char* put_record(char* p, const unsigned char* s, std::size_t n,
                                                std::uint32_t addr)
{
    const auto count = static_cast<std::uint32_t>(n);
    std::uint32_t sum = head_sum<F>(addr, count);
    if constexpr (F == cosmac) {
        return put_data<F>(p, s, n, sum);
    } else if constexpr (F == fairbug) {
        *p++ = 'X';
        sum = 0;
        p = put_data<F>(p, s, n, sum);
        for (std::size_t k = n; k < 8; ++k) {
            p = put2(p, 0xFF);
            sum = add_checksum<F>(sum, 0xFF);
        }
        *p++ = digits[sum & 0xF];
    } else if constexpr (F == mostech) {
        *p++ = ';';
        p = put4(put2(p, count), addr);
        p = put_data<F>(p, s, n, sum);
        p = put4(p, sum);
    } else if constexpr (F == exorciser || F == exormacs || F == motorola32) {
        constexpr std::uint32_t extra = F == exorciser ? 3 : F == exormacs ? 4 : 5;
        p = put_text(p, F == exorciser ? "S1" : F == exormacs ? "S2" : "S3");
        p = put2(p, count + extra);
        sum += extra;
        if constexpr (F == exorciser) {
            p = put4(p, addr);
        } else if constexpr (F == exormacs) {
            p = put6(p, addr);
            sum += (addr >> 16) & 0xFF;
        } else {
            p = put8(p, addr);
            sum += ((addr >> 16) & 0xFF) + (addr >> 24);
        }
        p = put_data<F>(p, s, n, sum);
        p = put2(p, ~sum);
    } else if constexpr (F == mds || F == mcs86 || F == intel32) {
        *p++ = ':';
        p = put4(put2(p, count), addr);
        p = put2(p, 0);
        p = put_data<F>(p, s, n, sum);
        p = put2(p, 0 - sum);
    } else if constexpr (F == signetics || F == tektronix) {
        *p++ = F == signetics ? ':' : '/';
        p = put2(put2(put4(p, addr), count), sum);
        sum = 0;
        p = put_data<F>(p, s, n, sum);
        p = put2(p, sum);
    } else if constexpr (F == sdsmac) {
        char* const start = p;
        *p++ = '9';
        p = put4(p, addr);
        if (n == 16) {
            char digits32[32];
            hex16(digits32, s);
            for (int k = 0; k < 32; k += 4, p += 5) {
                *p = 'B';
                std::memcpy(p + 1, digits32 + k, 4);
            }
        } else {
            for (std::size_t k = 0; k < n; k += 2) {
                *p++ = 'B';
                p = put2(put2(p, s[k]), k + 1 < n ? s[k + 1] : 0xFF);
            }
        }
        *p++ = '8';
        p = put4(p, 0 - char_sum(start, p));
        *p++ = 'F';
    } else {
        static_assert(F == ihf);
        const std::uint32_t units = addr / 4;
        sum = count / 4 + ((units >> 8) & 0xFF) + (units & 0xFF);
        *p++ = ':';
        p = put2(p, count / 4);
        *p++ = ' ';
        p = put_text(put4(p, units), " 00 ");
        p = put_data<F>(p, s, n, sum);
        *p++ = ' ';
        p = put2(p, 0 - sum);
    }
    return put_eol(p);
}

// The record loop. Record k holds offsets R*k .. R*k+R-1 of the data, whatever the address.
// An Intel record that would straddle a 64 KiB page (only possible when the base is not a
// multiple of 16) ends at the page, and the rest of its bytes follow the new page record.
template <int F>
bool write_records(out_buffer& w, std::span<const unsigned char> buff, std::uint32_t file_base,
                   std::uint32_t& records)
{
    constexpr std::size_t rec = formats[F].record;
    constexpr bool paged = F == mcs86 || F == intel32;
    const std::size_t n = buff.size();
    const unsigned char* const data = buff.data();
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < n;) {
        char* p = w.room();
        if (!p)
            return false;
        for (const char* const full = w.full(); i < n && p <= full;) {
            // Fits in 32 bits: the limit check keeps every data address at or below 0xFFFFFFFF.
            const auto addr = static_cast<std::uint32_t>(file_base + i);
            std::size_t len = std::min(rec - i % rec, n - i);
            if constexpr (paged)
                len = std::min<std::size_t>(len, 0x10000 - (addr & 0xFFFF));
            if (len == rec) [[likely]]
                p = put_record<F>(p, data + i, rec, addr);
            else
                p = put_record<F>(p, data + i, len, addr);
            ++count;
            i += len;
            if (i < n) {
                const auto next = static_cast<std::uint32_t>(addr + len);
                if constexpr (paged) {
                    if ((next & 0xFFFF) == 0)
                        p = page_record(p, F, next);
                }
                if constexpr (F == cosmac)
                    p = put_text(p, ",\r\n");
            }
        }
        w.commit(p);
    }
    records = count;
    return true;
}

bool write_records(out_buffer& w, std::span<const unsigned char> buff, int format,
                   std::uint32_t file_base, std::uint32_t& records)
{
    switch (format) {
    case cosmac: return write_records<cosmac>(w, buff, file_base, records);
    case fairbug: return write_records<fairbug>(w, buff, file_base, records);
    case mostech: return write_records<mostech>(w, buff, file_base, records);
    case exorciser: return write_records<exorciser>(w, buff, file_base, records);
    case mds: return write_records<mds>(w, buff, file_base, records);
    case signetics: return write_records<signetics>(w, buff, file_base, records);
    case tektronix: return write_records<tektronix>(w, buff, file_base, records);
    case exormacs: return write_records<exormacs>(w, buff, file_base, records);
    case mcs86: return write_records<mcs86>(w, buff, file_base, records);
    case sdsmac: return write_records<sdsmac>(w, buff, file_base, records);
    case motorola32: return write_records<motorola32>(w, buff, file_base, records);
    case intel32: return write_records<intel32>(w, buff, file_base, records);
    default: return write_records<ihf>(w, buff, file_base, records);
    }
}

bool append(void* ctx, const char* data, std::size_t n)
{
    static_cast<std::string*>(ctx)->append(data, n);
    return true;
}

}  // namespace

std::uint32_t format_limit(int format)
{
    if (format < cosmac || format > ihf)
        return 0;
    return formats[static_cast<std::size_t>(format)].limit;
}

hex_result bin2hex(std::span<const unsigned char> buff, int format, std::string_view filename,
                   std::uint32_t file_base, const sink& out)
{
    if (format < cosmac || format > ihf)
        return hex_result::too_big;
    const format_info& f = formats[static_cast<std::size_t>(format)];
    if (file_base > f.limit || file_base + std::uint64_t{buff.size()} > f.end_max)
        return hex_result::too_big;

    out_buffer w{out};
    std::uint32_t records = 0;
    const bool ok = print_header(w, buff.size(), format, filename, file_base) &&
                    write_records(w, buff, format, file_base, records) &&
                    print_trailer(w, records, format) && w.flush();
    return ok ? hex_result::ok : hex_result::write_error;
}

sink string_sink(std::string& s) { return {&s, append}; }

}  // namespace zb
