// Intel hex in and out, for mds, mcs86, intel32 and other tools' files:
//   : LL AAAA TT D.. CC   LL data bytes at offset AAAA of the page, CC the two's complement
//                         of the 8-bit sum of every byte before it
// TT 00 data, 01 end, 02 extended segment address (page = value * 16), 03 start segment
// address (CS:IP, entry = CS * 16 + IP), 04 extended linear address (page = value * 65536),
// 05 start linear address (entry); an end record's address is the entry point of a file with
// 16-bit addresses. Records that give two entry points are refused. A record that runs past
// the end of its 64 KiB page goes on at the next address, as the page base plus the offset
// counts.
#include <string>

#include "formats/formats.h"
#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

bool shape_intel(std::string_view line, std::string_view)
{
    return line.starts_with(':') && all_hex(line.substr(1)) &&
           line.size() == counted_size(line, 1, 11);
}

bool read_intel(hex_in& in, std::string_view line)
{
    if (line[0] != ':')
        return in.fail(bad_char_at(line, 0));
    if (line.size() < 11)
        return in.fail(hex_fault::short_record, line.size());
    const char* s = line.data();
    const auto count = count_at(in, line, 1, 11);
    if (!count)
        return false;
    const unsigned n = *count;
    const auto offset = digits_at(s + 3, 4);
    const unsigned type = pair_at(s + 7);
    const unsigned check = pair_at(s + 9 + 2 * n);
    if (!offset || type > 0xFF)
        return in.fail(bad_char(line, 1));
    if (check > 0xFF)
        return in.fail(bad_char(line, 9 + 2 * n));
    std::uint32_t sum = n + (*offset >> 8) + (*offset & 0xFF) + type;
    unsigned char field[4];  // the value of a record that is not data
    if (type == 0) {
        if (!data_at(in, line, 9, in.next + *offset, n, 0xFFFFFFFF, sum))
            return false;
        ++in.records;
    } else {
        static constexpr unsigned sizes[] = {0, 0, 2, 4, 2, 4};
        if (type > 5)
            return in.fail(hex_fault::unknown_type, type);
        if (n != sizes[type])
            return in.fail(hex_fault::type_count, type, n, sizes[type]);
        if (!decode(s + 9, n, field, sum))
            return in.fail(bad_char(line, 9));
    }
    if (((sum + check) & 0xFF) != 0)
        return in.fail(wrong_sum(check, (0 - sum) & 0xFF));
    const std::uint32_t v16 = std::uint32_t{field[0]} << 8 | field[1];
    const std::uint32_t v32 = v16 << 16 | std::uint32_t{field[2]} << 8 | field[3];
    switch (type) {
    case 1:
        in.ended = true;
        // The end record of a file with 16-bit addresses carries its entry point (0: none);
        // after a start record it can only repeat that one's low 16 bits.
        if (*offset != 0 && !(in.entry && (*in.entry & 0xFFFF) == *offset))
            return in.start_at(*offset);
        break;
    case 2:
        in.next = std::uint64_t{v16} << 4;
        in.word = in.word == intel32 ? intel32 : mcs86;
        break;
    case 3:
        in.word = in.word == intel32 ? intel32 : mcs86;
        return in.start_at(std::uint64_t{v16} * 16 + (v32 & 0xFFFF));
    case 4:
        in.next = std::uint64_t{v16} << 16;
        in.word = intel32;
        break;
    case 5:
        in.word = intel32;
        return in.start_at(v32);
    }
    return true;
}

// The writers of mds, mcs86 and intel32:
//   : nn AAAA 00 D.. CC          two's complement
// mcs86 and intel32 open the image and each 64 KiB page with an extended address record,
// and intel32 ends, where an entry point is given, with a start linear address record:
//   :04 0000 05 AAAAAAAA CC, then the end record
namespace {

template <fmt F>
[[gnu::always_inline]] inline char* intel_record(char* p, const unsigned char* s, std::size_t n,
                                                 std::uint32_t addr)
{
    const auto count = static_cast<std::uint32_t>(n);
    std::uint32_t sum = head_sum<F>(addr, count);
    *p++ = ':';
    p = put4(put2(p, count), addr);
    p = put2(p, 0);
    p = put_data<F>(p, s, n, sum);
    return put_eol(put2(p, 0 - sum));
}

}  // namespace

template <fmt F>
bool write_intel(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                 std::uint32_t& records)
{
    return write_records<F, intel_record<F>>(w, pieces, base, records);
}

template bool write_intel<mds>(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
template bool write_intel<mcs86>(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
template bool write_intel<intel32>(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);

bool start_page(out_buffer& w, fmt f, std::size_t, std::string_view, std::uint32_t base)
{
    char* p = w.room();
    if (p)
        w.commit(page_record(p, f, base));
    return p != nullptr;
}

char* end_intel32(char* p, fmt, std::uint32_t, std::optional<std::uint32_t> entry)
{
    if (entry) {
        const std::uint32_t e = *entry;
        const std::uint32_t sum = (e >> 24) + ((e >> 16) & 0xFF) + ((e >> 8) & 0xFF) + (e & 0xFF);
        p = put_eol(put2(put8(put_text(p, ":04000005"), e), 0 - (4 + 5 + sum)));
    }
    return put_text(p, formats[intel32].end);
}

}  // namespace zb
