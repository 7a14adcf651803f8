// Fairchild Fairbug records in and out:
//   S AAAA                  the address of the X records after it
//   X D(8 bytes) C          always 8 bytes (a writer fills the last with FF, which are read
//                           as data, but past 0xFFFF dropped), C the low 4 bits of the sum
//                           of the 16 digits
//   *                       the end
#include <algorithm>
#include <cstring>
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

// The address line, S and four digits, and a line after it: a file of that line alone holds
// no record of data, and is taken for the plain text it much more likely is.
bool shape_fairbug(std::string_view line, std::string_view next)
{
    return line.size() == 5 && line[0] == 'S' && all_hex(line.substr(1)) && !next.empty();
}

bool read_fairbug(hex_in& in, std::string_view line)
{
    const char* s = line.data();
    if (line[0] == 'S') {
        const auto addr = line.size() == 5 ? digits_at(s + 1, 4) : std::nullopt;
        if (!addr)
            return in.fail(line.size() == 5 ? bad_char(line, 1)
                                            : hex_error{hex_fault::address_size, line.size()});
        in.next = *addr;
        in.header = true;
        return true;
    }
    if (line == "*") {
        in.ended = true;
        return true;
    }
    if (line[0] != 'X')
        return in.fail(bad_char_at(line, 0));
    if (!in.header)
        return in.fail(hex_fault::data_first);
    if (line.size() != 18)
        return in.fail(hex_fault::data_size, line.size());
    const unsigned check = digit_of[static_cast<unsigned char>(s[17])];
    if (in.next > 0xFFFF)
        return in.fail(hex_fault::past_limit, 0xFFFF);
    unsigned char d[8];
    std::uint32_t ignored = 0;
    if (!decode(s + 1, 8, d, ignored) || check == bad_digit)
        return in.fail(bad_char(line, 1));
    std::uint32_t sum = 0;
    for (const unsigned char v : d)
        sum += (v >> 4) + (v & 15);
    if ((sum & 15) != check)
        return in.fail(wrong_sum(check, sum & 15, 1));
    // Data that ends near 0xFFFF still fills its record up to 8 bytes: that fill has no
    // address, so it is dropped, and anything but fill there is data past the limit.
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(8, 0x10000 - in.next));
    for (std::size_t k = n; k < 8; ++k)
        if (d[k] != 0xFF)
            return in.fail(hex_fault::past_limit, 0xFFFF);
    unsigned char* to = in.take(in.next, n, 0xFFFF);
    if (!to)
        return false;
    std::memcpy(to, d, n);
    in.next += 8;
    ++in.records;
    return true;
}

// The writer: "S AAAA" opens the image, each record is
//   X D(8 bytes, FF fill) C      C = nibble sum of the data, 4 bits
namespace {

[[gnu::always_inline]] inline char* fairbug_record(char* p, const unsigned char* s, std::size_t n,
                                                   std::uint32_t)
{
    std::uint32_t sum = 0;
    *p++ = 'X';
    p = put_data<fairbug>(p, s, n, sum);
    for (std::size_t k = n; k < 8; ++k) {
        p = put2(p, 0xFF);
        sum = add_checksum<fairbug>(sum, 0xFF);
    }
    *p++ = digits[sum & 0xF];
    return put_eol(p);
}

}  // namespace

bool start_fairbug(out_buffer& w, fmt, std::size_t, std::string_view, std::uint32_t base)
{
    char* p = w.room();
    if (p) {
        *p++ = 'S';
        w.commit(put_eol(put4(p, base)));
    }
    return p != nullptr;
}

bool write_fairbug(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                   std::uint32_t& records)
{
    return write_records<fairbug, fairbug_record>(w, pieces, base, records);
}

}  // namespace zb
