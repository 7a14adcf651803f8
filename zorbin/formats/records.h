// What the writers of the hex formats share: hex digits from a table, the checksum steps of
// each rule, the output buffer, and the record loop over one block, which each format's file
// instantiates with its own record layout (formats.h names the file).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "formats/sink.h"
#include "formats/formats.h"
#include "formats/hexdigits.h"

namespace zb {

inline constexpr char digits[] = "0123456789ABCDEF";

// The two digits of every byte value, as they lie in memory.
inline constexpr auto hex_pairs = [] {
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
inline constexpr std::size_t buf_size = 256 * 1024;
// More than the longest record (ihf's with -reclen 1023: 2063 characters) plus a page record.
inline constexpr std::size_t slack = 4096;

struct out_buffer {
    const sink& out;
    std::unique_ptr<char[]> buf{new char[buf_size]};
    std::size_t len = 0;
    std::size_t reclen = 0;  // -reclen: data bytes of a full record; 0: the format's own

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
template <fmt F>
constexpr sum_rule rule = formats[F].sum;

template <fmt F>
constexpr bool nibbles = rule<F> == sum_rule::nibble4 || rule<F> == sum_rule::nibble8;

// One checksum step over a byte value, per format. sdsmac sums the character codes of its
// record text instead (char_sum).
template <fmt F>
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
template <fmt F>
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

inline std::uint32_t char_sum(const char* p, const char* end)
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

inline std::uint32_t char_sum(std::string_view s) { return char_sum(s.data(), s.data() + s.size()); }

// The checksum steps of eight data bytes.
template <fmt F>
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
template <fmt F>
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
template <fmt F>
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
inline char* page_record(char* p, fmt format, std::uint32_t addr)
{
    const bool seg = formats[format].page == page_rule::segment;
    const std::uint32_t v = seg ? (addr >> 4) & 0xF000 : addr >> 16;
    const std::uint32_t type = seg ? 2 : 4;
    p = put_text(p, seg ? ":02000002" : ":02000004");
    p = put4(p, v);
    p = put2(p, 0 - (2 + type + (v >> 8) + (v & 0xFF)));
    return put_eol(p);
}

// The record of the formats with two checksums, one over the head and one over the data:
//   lead AAAA nn HH D.. CC
template <fmt F, char lead>
[[gnu::always_inline]] inline char* split_record(char* p, const unsigned char* s, std::size_t n,
                                                 std::uint32_t addr)
{
    const auto count = static_cast<std::uint32_t>(n);
    std::uint32_t sum = head_sum<F>(addr, count);
    *p++ = lead;
    p = put2(put2(put4(p, addr), count), sum);
    sum = 0;
    p = put_data<F>(p, s, n, sum);
    return put_eol(put2(p, sum));
}

// The bytes of a record that begins off bytes into pieces[k] and runs on into later pieces.
inline const unsigned char* gather(unsigned char* to, std::span<const piece> pieces, std::size_t k,
                            std::size_t off, std::size_t len)
{
    for (std::size_t got = 0; got < len; ++k, off = 0) {
        const std::size_t m = std::min(len - got, pieces[k].size() - off);
        std::memcpy(to + got, pieces[k].data() + off, m);
        got += m;
    }
    return to;
}

inline std::size_t total(std::span<const piece> pieces)
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
// put is the format's record layout: put(p, s, n, addr) writes one record of n bytes. R is
// the record length when it is known as compiled (the format's own: the fast path), else 0
// and the length is length_asked, -reclen's. Each is a function of its own, so that the
// fast path compiles as it would alone.
template <fmt F, auto put_record, std::size_t R>
[[gnu::noinline]] bool record_loop(out_buffer& w, std::span<const piece> pieces,
                                   std::uint32_t file_base, std::uint32_t& records,
                                   std::size_t length_asked)
{
    const std::size_t rec = R ? R : length_asked;
    constexpr bool paged = formats[F].page != page_rule::none;
    const std::size_t n = total(pieces);
    std::size_t i = 0;  // offset in the block
    // The piece that holds offset i: its bytes, the offsets where it begins and ends, and the
    // index of the piece after it. Kept in locals, which the record writes cannot alias.
    const unsigned char* cur = nullptr;
    std::size_t at = 0, end = 0, next_piece = 0;
    unsigned char joined[R ? R : longest_record];  // a record that spans pieces
    std::uint32_t count = 0;
    char* p = nullptr;
    // One record of len bytes from s at block offset i, and what follows it in the block.
    auto put = [&](const unsigned char* s, std::size_t len) __attribute__((always_inline)) {
        // Fits in 32 bits: the limit check keeps every data address at or below 0xFFFFFFFF.
        const auto addr = static_cast<std::uint32_t>(file_base + i);
        if (len == rec) [[likely]]
            p = put_record(p, s, rec, addr);
        else
            p = put_record(p, s, len, addr);
        ++count;
        i += len;
        if (i < n) {
            const auto next = static_cast<std::uint32_t>(addr + len);
            if constexpr (paged) {
                if ((next & 0xFFFF) == 0)
                    p = page_record(p, F, next);
            }
            if constexpr (!formats[F].between.empty())
                p = put_text(p, formats[F].between);
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

template <fmt F, auto put_record>
bool write_records(out_buffer& w, std::span<const piece> pieces, std::uint32_t file_base,
                   std::uint32_t& records)
{
    constexpr std::size_t own = formats[F].record;
    if constexpr (formats[F].reclen_max > 0)
        if (w.reclen != 0 && w.reclen != own)
            return record_loop<F, put_record, 0>(w, pieces, file_base, records, w.reclen);
    return record_loop<F, put_record, own>(w, pieces, file_base, records, own);
}

}  // namespace zb
