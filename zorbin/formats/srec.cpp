// Motorola S-records in and out, for exorciser, exormacs, motorola32 and other tools' files:
//   S t LL A.. D.. CC   LL counts the bytes after it (address, data, checksum), CC the one's
//                       complement of the 8-bit sum of LL, address and data
// S0 header (before any data), S1/S2/S3 data at 16/24/32-bit addresses, S5/S6 the number of
// data records so far (16/24 bits), S7/S8/S9 the entry point (32/24/16 bits) and the end.
#include <algorithm>
#include <string>

#include "formats/formats.h"
#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

bool shape_srec(std::string_view line, std::string_view)
{
    return line.size() >= 4 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9' &&
           all_hex(line.substr(1)) && line.size() == counted_size(line, 2, 4);
}

bool read_srec(hex_in& in, std::string_view line)
{
    // Address bytes by record type; 0 for the type that does not exist.
    static constexpr unsigned address_bytes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (line[0] != 'S')
        return in.fail(bad_char_at(line, 0));
    if (line.size() < 2 || line[1] < '0' || line[1] > '9')
        return in.fail(bad_char_at(line, 1));
    const unsigned type = static_cast<unsigned>(line[1] - '0');
    const unsigned alen = address_bytes[type];
    if (alen == 0)
        return in.fail(hex_fault::unknown_s4);
    if (line.size() < 4)
        return in.fail(bad_char_at(line, line.size()));
    const char* s = line.data();
    const unsigned count = pair_at(s + 2);
    if (count > 0xFF)
        return in.fail(bad_char(line, 2));
    if (line.size() != 4 + 2 * std::size_t{count})
        return in.fail(wrong_count(count, 4 + 2 * std::size_t{count}, line.size()));
    if (count < alen + 1)
        return in.fail(hex_fault::no_room, count, type);
    const auto addr = digits_at(s + 4, 2 * alen);
    if (!addr)
        return in.fail(bad_char(line, 4));
    const unsigned n = count - alen - 1;
    const unsigned check = pair_at(s + 4 + 2 * (alen + n));
    if (check > 0xFF)
        return in.fail(bad_char(line, 4 + 2 * (alen + n)));
    std::uint32_t sum = count + (*addr >> 24) + ((*addr >> 16) & 0xFF) + ((*addr >> 8) & 0xFF) +
                        (*addr & 0xFF);
    const bool data = type >= 1 && type <= 3;
    if (type != 0 && !data && n != 0)
        return in.fail(hex_fault::data_in_control, type, n);
    if (type == 0 && in.records > 0)
        return in.fail(hex_fault::late_header);
    unsigned char header[256];
    unsigned char* to = header;
    if (data && !(to = in.take(*addr, n, 0xFFFFFFFF)))
        return false;
    if (!decode(s + 4 + 2 * alen, n, to, sum))
        return in.fail(bad_char(line, 4 + 2 * alen));
    if (((sum + check) & 0xFF) != 0xFF)
        return in.fail(wrong_sum(check, ~sum & 0xFF));
    // The format the widest record says: S3 and S7 motorola32, S2 and S8 exormacs (the
    // numbers grow with the width).
    static constexpr fmt says[] = {none, exorciser, exormacs, motorola32, none, none, none,
                                   motorola32, exormacs, exorciser};
    in.word = std::max(in.word, says[type]);
    if (data) {
        ++in.records;
    } else if (type == 5 || type == 6) {
        const std::uint64_t mask = type == 5 ? 0xFFFF : 0xFFFFFF;
        if (*addr != (in.records & mask))
            return in.fail(hex_fault::wrong_records, type, *addr, in.records);
    } else if (type >= 7) {
        in.entry = *addr;
        in.ended = true;
    }
    return true;
}

// The writers of exorciser (S1), exormacs (S2) and motorola32 (S3):
//   Sx nn AAAA[AA[AA]] D.. CC    nn = count + address bytes + 1, one's complement
// and their end records with the entry point, where one is given:
//   S7 05 AAAAAAAA CC, S8 04 AAAAAA CC, S9 03 AAAA CC
namespace {

template <fmt F>
[[gnu::always_inline]] inline char* srec_record(char* p, const unsigned char* s, std::size_t n,
                                                std::uint32_t addr)
{
    const auto count = static_cast<std::uint32_t>(n);
    std::uint32_t sum = head_sum<F>(addr, count);
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
        static_assert(F == motorola32);
        p = put8(p, addr);
        sum += ((addr >> 16) & 0xFF) + (addr >> 24);
    }
    p = put_data<F>(p, s, n, sum);
    return put_eol(put2(p, ~sum));
}

}  // namespace

template <fmt F>
bool write_srec(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                std::uint32_t& records)
{
    return write_records<F, srec_record<F>>(w, pieces, base, records);
}

template bool write_srec<exorciser>(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
template bool write_srec<exormacs>(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);
template bool write_srec<motorola32>(out_buffer&, std::span<const piece>, std::uint32_t, std::uint32_t&);

// -header's record: S0 LL 0000 T.. CC, the text's bytes as they are. The caller keeps the
// text within the count field (formats.h, head_max).
bool head_srec(out_buffer& w, std::string_view text)
{
    char* p = w.room();
    if (!p)
        return false;
    const auto n = static_cast<std::uint32_t>(text.size());
    std::uint32_t sum = n + 3;
    p = put_text(put2(put_text(p, "S0"), n + 3), "0000");
    for (const char c : text) {
        p = put2(p, static_cast<unsigned char>(c));
        sum += static_cast<unsigned char>(c);
    }
    w.commit(put_eol(put2(p, ~sum)));
    return true;
}

char* end_srec(char* p, fmt f, std::uint32_t, std::optional<std::uint32_t> entry)
{
    if (!entry)
        return put_text(p, formats[f].end);
    const std::uint32_t e = *entry;
    const std::uint32_t sum = (e >> 24) + ((e >> 16) & 0xFF) + ((e >> 8) & 0xFF) + (e & 0xFF);
    if (f == motorola32)
        return put_eol(put2(put8(put_text(p, "S705"), e), ~(5 + sum)));
    if (f == exormacs)
        return put_eol(put2(put6(put_text(p, "S804"), e), ~(4 + sum)));
    return put_eol(put2(put4(put_text(p, "S903"), e), ~(3 + sum)));
}

}  // namespace zb
