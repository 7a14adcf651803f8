// MOS Technology records in and out:
//   ; LL AAAA D.. SSSS      SSSS the 16-bit sum of LL, the address bytes and the data
//   ; 00 NNNN NNNN          the end: the number of data records, twice
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

bool shape_mostech(std::string_view line, std::string_view)
{
    return line.starts_with(';') && all_hex(line.substr(1)) &&
           line.size() == counted_size(line, 1, 11);
}

bool read_mostech(hex_in& in, std::string_view line)
{
    if (line[0] != ';')
        return in.fail(bad_char_at(line, 0));
    if (line.size() < 3)
        return in.fail(bad_char_at(line, line.size()));
    const char* s = line.data();
    const auto count = count_at(in, line, 1, 11);
    if (!count)
        return false;
    const unsigned n = *count;
    const auto addr = digits_at(s + 3, 4);
    const auto check = digits_at(s + 7 + 2 * n, 4);
    if (!addr)
        return in.fail(bad_char(line, 3));
    if (!check)
        return in.fail(bad_char(line, 7 + 2 * n));
    if (n == 0) {
        if (*addr != in.records || *check != in.records)
            return in.fail(hex_fault::end_counts, *addr, *check, in.records);
        in.ended = true;
        return true;
    }
    std::uint32_t sum = n + (*addr >> 8) + (*addr & 0xFF);
    if (!data_at(in, line, 7, *addr, n, 0xFFFF, sum))
        return false;
    if ((sum & 0xFFFF) != *check)
        return in.fail(wrong_sum(*check, sum & 0xFFFF, 4));
    ++in.records;
    return true;
}

// The writer:
//   ; nn AAAA D.. CCCC       16-bit sum of count, address and data bytes
//   ;00 NNNN NNNN            the end, with the number of data records twice
namespace {

[[gnu::always_inline]] inline char* mostech_record(char* p, const unsigned char* s, std::size_t n,
                                                   std::uint32_t addr)
{
    const auto count = static_cast<std::uint32_t>(n);
    std::uint32_t sum = head_sum<mostech>(addr, count);
    *p++ = ';';
    p = put4(put2(p, count), addr);
    p = put_data<mostech>(p, s, n, sum);
    return put_eol(put4(p, sum));
}

}  // namespace

bool write_mostech(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                   std::uint32_t& records)
{
    return write_records<mostech, mostech_record>(w, pieces, base, records);
}

char* end_mostech(char* p, fmt, std::uint32_t records, std::optional<std::uint32_t>)
{
    return put_eol(put4(put4(put_text(p, formats[mostech].end), records), records));
}

}  // namespace zb
