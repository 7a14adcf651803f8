// MOS Technology records in:
//   ; LL AAAA D.. SSSS      SSSS the 16-bit sum of LL, the address bytes and the data
//   ; 00 NNNN NNNN          the end: the number of data records, twice
#include <string>

#include "hexread.h"

namespace zb {

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

}  // namespace zb
