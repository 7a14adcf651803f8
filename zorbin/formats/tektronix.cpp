// Tektronix hexadecimal records in and out:
//   / AAAA LL HH D.. SS     HH the 8-bit sum of the six digits of address and LL, SS of the
//                           data's digits
//   / AAAA 00 HH            the end; AAAA is the entry point
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

namespace {

std::uint32_t digit_sum(const char* s, std::size_t n)
{
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < n; ++k)
        sum += digit_of[static_cast<unsigned char>(s[k])];
    return sum & 0xFF;
}

}  // namespace

// The count is the third byte; the end record, count 0, has no data checksum.
bool shape_tektronix(std::string_view line, std::string_view)
{
    if (!line.starts_with('/') || line.size() < 9 || !all_hex(line.substr(1)))
        return false;
    return line.size() == (pair_at(line.data() + 5) == 0 ? 9 : counted_size(line, 5, 11));
}

bool read_tektronix(hex_in& in, std::string_view line)
{
    if (line[0] != '/')
        return in.fail(bad_char_at(line, 0));
    if (line.size() < 9)
        return in.fail(bad_char(line, 1));
    const char* s = line.data();
    const auto addr = digits_at(s + 1, 4);
    const unsigned n = pair_at(s + 5);
    const unsigned head = pair_at(s + 7);
    if (!addr || n > 0xFF || head > 0xFF)
        return in.fail(bad_char(line, 1));
    const std::size_t want_size = n == 0 ? 9 : 11 + 2 * std::size_t{n};
    if (line.size() != want_size)
        return in.fail(wrong_count(n, want_size, line.size()));
    if (const std::uint32_t want = digit_sum(s + 1, 6); head != want)
        return in.fail(wrong_sum(head, want, 2, hex_fault::address_sum));
    if (n == 0) {
        in.entry = *addr;
        in.ended = true;
        return true;
    }
    const unsigned check = pair_at(s + 9 + 2 * n);
    if (check > 0xFF)
        return in.fail(bad_char(line, 9 + 2 * n));
    std::uint32_t ignored = 0;
    if (!data_at(in, line, 9, *addr, n, 0xFFFF, ignored))
        return false;
    if (const std::uint32_t want = digit_sum(s + 9, 2 * n); check != want)
        return in.fail(wrong_sum(check, want, 2, hex_fault::data_sum));
    ++in.records;
    return true;
}

// The writer:
//   / AAAA nn HH D.. CC          nibble sums, head and data separately
bool write_tektronix(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                     std::uint32_t& records)
{
    return write_records<tektronix, split_record<tektronix, '/'>>(w, pieces, base, records);
}

}  // namespace zb
