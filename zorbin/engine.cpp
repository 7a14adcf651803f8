// Hex record engine: blocks of image bytes at their addresses, written as one complete file in
// any of the thirteen hex object formats.
#include "engine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>

#include "hexdigits.h"

namespace zb {
namespace {

using piece = std::span<const unsigned char>;

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

// A format's checksum rule, from its row of the format table.
template <int F>
constexpr sum_rule rule = formats[F].sum;

template <int F>
constexpr bool nibbles = rule<F> == sum_rule::nibble4 || rule<F> == sum_rule::nibble8;

// One checksum step over a byte value, per format. sdsmac sums the character codes of its
// record text instead (char_sum).
template <int F>
constexpr std::uint32_t add_checksum(std::uint32_t sum, std::uint32_t v)
{
    if constexpr (rule<F> == sum_rule::none) {
        return 0;
    } else if constexpr (nibbles<F>) {
        return sum + ((v >> 4) & 0xF) + (v & 0xF);
    } else if constexpr (rule<F> == sum_rule::rotate8) {
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
    if constexpr (rule<F> == sum_rule::rotate8) {
        for (int k = 0; k < 8; ++k)
            sum = add_checksum<F>(sum, s[k]);
        return sum;
    } else if constexpr (rule<F> == sum_rule::none) {
        return 0;
    } else {
        std::uint64_t w;
        std::memcpy(&w, s, 8);
        return sum + (nibbles<F> ? nibble_sum8(w) : byte_sum8(w));
    }
}

// The checksum steps of sixteen data bytes.
template <int F>
inline std::uint32_t sum16(std::uint32_t sum, const unsigned char* s)
{
    if constexpr (rule<F> == sum_rule::rotate8 || rule<F> == sum_rule::none) {
        return sum8<F>(sum8<F>(sum, s), s + 8);
    } else {
        std::uint64_t w[2];
        std::memcpy(w, s, 16);
        if constexpr (nibbles<F>)
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
        hex_digits<16>(p, s + k);
        sum = sum16<F>(sum, s + k);
    }
    if (k + 8 <= n) {
        hex_digits<8>(p, s + k);
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
    const bool seg = formats[static_cast<std::size_t>(format)].page == page_rule::segment;
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
    } else if (formats[static_cast<std::size_t>(format)].page != page_rule::none) {
        p = page_record(p, format, base);
    }
    w.commit(p);
    return true;
}

// The end record with the entry point in its address field, where the format has one:
//   S7 05 AAAAAAAA CC, S8 04 AAAAAA CC, S9 03 AAAA CC   one's complement of count and address
//   :04 0000 05 AAAAAAAA CC, then the end record        start linear address, two's complement
char* put_entry(char* p, int format, std::uint32_t entry)
{
    const std::uint32_t sum = (entry >> 24) + ((entry >> 16) & 0xFF) + ((entry >> 8) & 0xFF) +
                              (entry & 0xFF);
    switch (format) {
    case motorola32:
        return put_eol(put2(put8(put_text(p, "S705"), entry), ~(5 + sum)));
    case exormacs:
        return put_eol(put2(put6(put_text(p, "S804"), entry), ~(4 + sum)));
    case exorciser:
        return put_eol(put2(put4(put_text(p, "S903"), entry), ~(3 + sum)));
    case intel32:
        p = put_eol(put2(put8(put_text(p, ":04000005"), entry), 0 - (4 + 5 + sum)));
        return put_text(p, formats[intel32].end);
    default:
        return nullptr;
    }
}

bool print_trailer(out_buffer& w, std::uint32_t records, int format,
                   std::optional<std::uint64_t> entry)
{
    const std::string_view end = formats[static_cast<std::size_t>(format)].end;
    if (format != mostech && !(entry && entry_limit(format)))
        return w.put(end);
    char* p = w.room();
    if (!p)
        return false;
    if (format == mostech)
        p = put_eol(put4(put4(put_text(p, end), records), records));
    else
        p = put_entry(p, format, static_cast<std::uint32_t>(*entry));
    w.commit(p);
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
            hex_digits<16>(digits32, s);
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

// The bytes of a record that begins off bytes into pieces[k] and runs on into later pieces.
const unsigned char* gather(unsigned char* to, std::span<const piece> pieces, std::size_t k,
                            std::size_t off, std::size_t len)
{
    for (std::size_t got = 0; got < len; ++k, off = 0) {
        const std::size_t m = std::min(len - got, pieces[k].size() - off);
        std::memcpy(to + got, pieces[k].data() + off, m);
        got += m;
    }
    return to;
}

std::size_t total(std::span<const piece> pieces)
{
    std::size_t n = 0;
    for (const piece& p : pieces)
        n += p.size();
    return n;
}

// The record loop over one block. Record k holds offsets R*k .. R*k+R-1 of the block, whatever
// the address and wherever one piece ends and the next begins. An Intel record that would
// straddle a 64 KiB page (only possible when the base is not a multiple of 16) ends at the
// page, and the rest of its bytes follow the new page record.
template <int F>
bool write_records(out_buffer& w, std::span<const piece> pieces, std::uint32_t file_base,
                   std::uint32_t& records)
{
    constexpr std::size_t rec = formats[F].record;
    constexpr bool paged = formats[F].page != page_rule::none;
    const std::size_t n = total(pieces);
    std::size_t i = 0;  // offset in the block
    // The piece that holds offset i: its bytes, the offsets where it begins and ends, and the
    // index of the piece after it. Kept in locals, which the record writes cannot alias.
    const unsigned char* cur = nullptr;
    std::size_t at = 0, end = 0, next_piece = 0;
    unsigned char joined[rec];  // a record that spans pieces
    std::uint32_t count = 0;
    char* p = nullptr;
    // One record of len bytes from s at block offset i, and what follows it in the block.
    auto put = [&](const unsigned char* s, std::size_t len) __attribute__((always_inline)) {
        // Fits in 32 bits: the limit check keeps every data address at or below 0xFFFFFFFF.
        const auto addr = static_cast<std::uint32_t>(file_base + i);
        if (len == rec) [[likely]]
            p = put_record<F>(p, s, rec, addr);
        else
            p = put_record<F>(p, s, len, addr);
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
    };
    auto length = [&] {
        std::size_t len = std::min(rec - i % rec, n - i);
        if constexpr (paged)
            len = std::min<std::size_t>(len, 0x10000 - ((file_base + i) & 0xFFFF));
        return len;
    };
    while (i < n) {
        p = w.room();
        if (!p)
            return false;
        const char* const full = w.full();
        while (i < n && p <= full) {
            while (i >= end) {
                at = end;
                cur = pieces[next_piece].data();
                end += pieces[next_piece++].size();
            }
            // Every record that begins rec bytes or more before the piece's end lies in it.
            while (i + rec <= end && p <= full)
                put(cur + (i - at), length());
            if (i < end && p <= full) {
                const std::size_t len = length();
                const unsigned char* s = cur + (i - at);
                if (len > end - i)
                    s = gather(joined, pieces, next_piece - 1, i - at, len);
                put(s, len);
            }
        }
        w.commit(p);
    }
    records += count;
    return true;
}

bool write_records(out_buffer& w, std::span<const piece> pieces, int format,
                   std::uint32_t file_base, std::uint32_t& records)
{
    switch (format) {
    case cosmac: return write_records<cosmac>(w, pieces, file_base, records);
    case fairbug: return write_records<fairbug>(w, pieces, file_base, records);
    case mostech: return write_records<mostech>(w, pieces, file_base, records);
    case exorciser: return write_records<exorciser>(w, pieces, file_base, records);
    case mds: return write_records<mds>(w, pieces, file_base, records);
    case signetics: return write_records<signetics>(w, pieces, file_base, records);
    case tektronix: return write_records<tektronix>(w, pieces, file_base, records);
    case exormacs: return write_records<exormacs>(w, pieces, file_base, records);
    case mcs86: return write_records<mcs86>(w, pieces, file_base, records);
    case sdsmac: return write_records<sdsmac>(w, pieces, file_base, records);
    case motorola32: return write_records<motorola32>(w, pieces, file_base, records);
    case intel32: return write_records<intel32>(w, pieces, file_base, records);
    default: return write_records<ihf>(w, pieces, file_base, records);
    }
}

bool append(void* ctx, const char* data, std::size_t n)
{
    static_cast<std::string*>(ctx)->append(data, n);
    return true;
}

bool fits(const format_row& f, std::uint64_t base, std::uint64_t size)
{
    return base <= f.limit && size <= f.end_max - base;
}

// An image for a format whose records carry no address: one block from the lowest address to
// one past the highest, what lies between the blocks erased flash (FF). The limit check has
// passed, so it holds at most 64 KiB.
std::vector<unsigned char> fill_gaps(std::span<const block> blocks, std::uint64_t lo,
                                     std::uint64_t hi)
{
    std::vector<unsigned char> image(static_cast<std::size_t>(hi - lo), 0xFF);
    for (const block& b : blocks) {
        auto at = static_cast<std::size_t>(b.base - lo);
        for (const piece& p : b.pieces) {
            std::copy(p.begin(), p.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
            at += p.size();
        }
    }
    return image;
}

}  // namespace

std::uint64_t block::size() const
{
    std::uint64_t n = 0;
    for (const auto& p : pieces)
        n += p.size();
    return n;
}

std::uint32_t format_limit(int format)
{
    if (format < cosmac || format > ihf)
        return 0;
    return formats[static_cast<std::size_t>(format)].limit;
}

hex_result bin2hex(std::span<const unsigned char> buff, int format, std::string_view filename,
                   std::uint32_t file_base, const sink& out)
{
    const block whole{file_base, {buff}};
    return write_image({&whole, 1}, format, filename, out);
}

std::uint64_t entry_limit(int format)
{
    switch (format) {
    case exorciser:
        return 0xFFFF;
    case exormacs:
        return 0xFFFFFF;
    case motorola32:
    case intel32:
        return 0xFFFFFFFF;
    default:
        return 0;
    }
}

hex_result write_image(std::span<const block> blocks, int format, std::string_view filename,
                       const sink& out, std::optional<std::uint64_t> entry)
{
    if (format < cosmac || format > ihf)
        return hex_result::too_big;
    if (entry && *entry > entry_limit(format) && entry_limit(format) != 0)
        return hex_result::entry_too_big;
    const format_row& f = formats[static_cast<std::size_t>(format)];
    const std::uint64_t first = blocks.empty() ? 0 : blocks.front().base;
    std::uint64_t lo = first, hi = first;
    for (const block& b : blocks) {
        const std::uint64_t size = b.size();
        if (!fits(f, b.base, size))
            return hex_result::too_big;
        lo = std::min(lo, b.base);
        hi = std::max(hi, b.base + size);
    }
    if (!f.addressed && blocks.size() > 1) {
        const std::vector<unsigned char> image = fill_gaps(blocks, lo, hi);
        const block whole{lo, {image}};
        return write_image({&whole, 1}, format, filename, out, entry);
    }

    out_buffer w{out};
    std::uint32_t records = 0;
    bool ok = print_header(w, static_cast<std::size_t>(hi - lo), format, filename,
                           static_cast<std::uint32_t>(first));
    for (std::size_t k = 0; ok && k < blocks.size(); ++k) {
        const auto base = static_cast<std::uint32_t>(blocks[k].base);
        if (k > 0 && f.page != page_rule::none) {
            char* p = w.room();
            ok = p != nullptr;
            if (ok)
                w.commit(page_record(p, format, base));
        }
        ok = ok && write_records(w, blocks[k].pieces, format, base, records);
    }
    ok = ok && print_trailer(w, records, format, entry) && w.flush();
    return ok ? hex_result::ok : hex_result::write_error;
}

sink string_sink(std::string& s) { return {&s, append}; }

}  // namespace zb
