// Signetics absolute object records in and out:
//   : AAAA LL HH D.. SS     HH rotate-and-XOR over the address bytes and LL, SS over the data
//   : AAAA 00               the end, without checksums
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

namespace {

std::uint32_t rotate_xor(std::uint32_t sum, const unsigned char* s, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t x = (sum ^ s[k]) & 0xFF;
        sum = ((x << 1) | (x >> 7)) & 0xFF;
    }
    return sum;
}

}  // namespace

// The count is the third byte; the end record, count 0, has no checksums.
bool shape_signetics(std::string_view line, std::string_view)
{
    if (!line.starts_with(':') || line.size() < 7 || !all_hex(line.substr(1)))
        return false;
    return line.size() == (pair_at(line.data() + 5) == 0 ? 7 : counted_size(line, 5, 11));
}

bool read_signetics(hex_in& in, std::string_view line)
{
    if (line[0] != ':')
        return in.fail(bad_char_at(line, 0));
    if (line.size() < 7)
        return in.fail(bad_char_at(line, line.size()));
    const char* s = line.data();
    const auto addr = digits_at(s + 1, 4);
    const unsigned n = pair_at(s + 5);
    if (!addr || n > 0xFF)
        return in.fail(bad_char(line, 1));
    if (n == 0) {
        if (line.size() != 7)
            return in.fail(hex_fault::end_size, line.size());
        in.ended = true;
        return true;
    }
    if (line.size() != 11 + 2 * std::size_t{n})
        return in.fail(wrong_count(n, 11 + 2 * std::size_t{n}, line.size()));
    const unsigned head = pair_at(s + 7);
    const unsigned check = pair_at(s + 9 + 2 * n);
    if (head > 0xFF)
        return in.fail(bad_char(line, 7));
    if (check > 0xFF)
        return in.fail(bad_char(line, 9 + 2 * n));
    const unsigned char fields[]{static_cast<unsigned char>(*addr >> 8),
                                 static_cast<unsigned char>(*addr), static_cast<unsigned char>(n)};
    if (const std::uint32_t want = rotate_xor(0, fields, 3); head != want)
        return in.fail(wrong_sum(head, want, 2, hex_fault::address_sum));
    std::uint32_t ignored = 0;
    const unsigned char* to = data_at(in, line, 9, *addr, n, 0xFFFF, ignored);
    if (!to)
        return false;
    if (const std::uint32_t want = rotate_xor(0, to, n); check != want)
        return in.fail(wrong_sum(check, want, 2, hex_fault::data_sum));
    ++in.records;
    return true;
}

// The writer:
//   : AAAA nn HH D.. CC          rotate-and-XOR, head and data separately
bool write_signetics(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                     std::uint32_t& records)
{
    return write_records<signetics, split_record<signetics, ':'>>(w, pieces, base, records);
}

}  // namespace zb
