// Extended Intellec hex records in and out, zorbin's own, with blanks between the fields:
//   : CC AAAA TT D.. SS     CC the byte count / 4 (remainder dropped), AAAA the address / 4,
//                           TT 00, D.. the bytes themselves, SS the two's complement of the
//                           8-bit sum of CC, the two bytes of AAAA, TT and the data
//   :00 0000 01 FF          the end
// Addresses count in units of 4 bytes: a record whose unit is the one its predecessor ends
// in goes on where that one ended, so a block at an address that is no multiple of 4 reads
// back whole, at the multiple of 4 below it.
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

// Blanks after the count, the address and the type and before the checksum, hex digits
// between them.
bool shape_ihf(std::string_view line, std::string_view)
{
    const std::size_t n = line.size();
    if (!line.starts_with(':') || (n != 14 && (n < 15 || (n - 15) % 2 != 0)))
        return false;
    for (const std::size_t col : {std::size_t{3}, std::size_t{8}, std::size_t{11}, n - 3})
        if (line[col] != ' ')
            return false;
    const std::string_view data = n == 14 ? std::string_view() : line.substr(12, n - 15);
    return all_hex(line.substr(1, 2)) && all_hex(line.substr(4, 4)) &&
           all_hex(line.substr(9, 2)) && all_hex(data) && all_hex(line.substr(n - 2));
}

bool read_ihf(hex_in& in, std::string_view line)
{
    if (line[0] != ':')
        return in.fail(bad_char_at(line, 0));
    // ":CC AAAA TT SS" without data, ":CC AAAA TT " data " SS" with: 15 characters and two
    // per byte.
    if (line.size() != 14 && (line.size() < 15 || (line.size() - 15) % 2 != 0))
        return in.fail(hex_fault::ihf_size, line.size());
    const char* s = line.data();
    for (std::size_t col : {std::size_t{3}, std::size_t{8}, std::size_t{11}, line.size() - 3})
        if (s[col] != ' ')
            return in.fail(bad_char_at(line, col));
    for (const std::size_t col : {std::size_t{1}, std::size_t{4}, std::size_t{9}, line.size() - 2})
        for (std::size_t k = col; k < col + (col == 4 ? 4 : 2); ++k)
            if (digit_of[static_cast<unsigned char>(s[k])] == bad_digit)
                return in.fail(bad_char_at(line, k));
    const unsigned units = pair_at(s + 1);
    const std::uint32_t addr = *digits_at(s + 4, 4);
    const unsigned type = pair_at(s + 9);
    const unsigned check = pair_at(s + line.size() - 2);
    const std::size_t n = line.size() == 14 ? 0 : (line.size() - 15) / 2;
    if (n / 4 != units)
        return in.fail(hex_fault::ihf_count, units, n, n / 4);
    std::uint32_t sum = units + (addr >> 8) + (addr & 0xFF) + type;
    if (type == 1) {
        if (n != 0)
            return in.fail(hex_fault::end_with_data);
        in.ended = true;
    } else if (type != 0) {
        return in.fail(hex_fault::unknown_type, type);
    } else {
        std::uint64_t at = std::uint64_t{addr} * 4;
        if (in.next > at && in.next - at < 4)
            at = in.next;
        if (!data_at(in, line, 12, at, n, 0x3FFFF, sum))
            return false;
        in.next = at + n;
        ++in.records;
    }
    if (((sum + check) & 0xFF) != 0)
        return in.fail(wrong_sum(check, (0 - sum) & 0xFF));
    return true;
}

// The writer:
//   : nn AAAA 00 D.. CC          nn and AAAA in units of 4 bytes, with blanks
namespace {

[[gnu::always_inline]] inline char* ihf_record(char* p, const unsigned char* s, std::size_t n,
                                               std::uint32_t addr)
{
    const auto count = static_cast<std::uint32_t>(n);
    const std::uint32_t units = addr / 4;
    std::uint32_t sum = count / 4 + ((units >> 8) & 0xFF) + (units & 0xFF);
    *p++ = ':';
    p = put2(p, count / 4);
    *p++ = ' ';
    p = put_text(put4(p, units), " 00 ");
    p = put_data<ihf>(p, s, n, sum);
    *p++ = ' ';
    return put_eol(put2(p, 0 - sum));
}

}  // namespace

bool write_ihf(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
               std::uint32_t& records)
{
    return write_records<ihf, ihf_record>(w, pieces, base, records);
}

}  // namespace zb
