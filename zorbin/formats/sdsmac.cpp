// Texas Instruments tagged object (SDSMAC) in and out: tagged fields, a record ended by F at the end
// of its line, the file by a line ":".
//   0 LLLL NNNNNNNN         file header: byte count and an 8-character name
//   K LLLL text             program name, LLLL characters from the K on
//   9 AAAA                  the address of the data after it (0 before the first)
//   B DDDD  * DD            a data word (two bytes, high first), a data byte
//   7 CCCC  8 CCCC          checksum: the 16-bit two's complement of the sum of the
//                           character codes from the record's first tag up to this tag
//   F                       the end of the record
// zorbin's own start line, 0 LLLL 7 <name as hex pairs> 8 SSSS F, carries the plain sum of
// its characters up to the 8; it is known by that sum. A writer fills an odd last byte with
// FF in the last word, which is read as data.
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

namespace {

bool zorbin_start(std::string_view line)
{
    const std::size_t n = line.size();
    if (n < 12 || line[0] != '0' || line[5] != '7' || line[n - 6] != '8' || line[n - 1] != 'F' ||
        (n - 12) % 2 != 0)
        return false;
    for (std::size_t k = 1; k < n - 1; ++k)
        if (k != 5 && k != n - 6 && digit_of[static_cast<unsigned char>(line[k])] == bad_digit)
            return false;
    return *digits_at(line.data() + n - 5, 4) == (char_sum(line.substr(0, n - 5)) & 0xFFFF);
}

}  // namespace

// A tag first, a checksum tag with its four digits and F last; a program name may hold any
// character that is no control character.
bool shape_sdsmac(std::string_view line, std::string_view)
{
    const std::size_t n = line.size();
    if (n < 6 || std::string_view("0K9B*78").find(line[0]) == std::string_view::npos ||
        line[n - 1] != 'F' || (line[n - 6] != '7' && line[n - 6] != '8') ||
        !all_hex(line.substr(n - 5, 4)))
        return false;
    for (const char c : line)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

bool read_sdsmac(hex_in& in, std::string_view line)
{
    if (line == ":") {
        in.ended = true;
        return true;
    }
    if (in.line == in.first && zorbin_start(line)) {
        in.header = true;
        return true;
    }
    const char* s = line.data();
    const std::size_t size = line.size();
    std::uint32_t sum = 0;
    bool checked = false;
    for (std::size_t k = 0; k < size;) {
        const char tag = s[k];
        sum += static_cast<unsigned char>(tag);
        if (tag == 'F') {
            if (k + 1 != size)
                return in.fail(hex_fault::early_f, k + 1);
            if (!checked)
                return in.fail(hex_fault::no_checksum);
            return true;
        }
        if (checked)
            return in.fail(hex_fault::after_checksum, k - 4);
        // Every other tag has four digits after it, but the data byte (two) and the header
        // (four, then eight characters).
        const std::size_t width = tag == '*' ? 2 : 4;
        if (size - k - 1 < width || !digits_at(s + k + 1, width))
            return in.fail(size - k - 1 < width ? hex_error{hex_fault::short_field, k + 1}
                                                : bad_char(line, k + 1));
        const std::uint32_t v = *digits_at(s + k + 1, width);
        const std::string_view digits = line.substr(k + 1, width);
        switch (tag) {
        case '0':
            if (size - k - 5 < 8)
                return in.fail(hex_fault::short_header, k + 1);
            if (in.records > 0)
                return in.fail(hex_fault::header_after_data);
            sum += char_sum(line.substr(k + 1, 12));
            k += 13;
            continue;
        case 'K':
            if (v < 5 || v > size - k)
                return in.fail(hex_fault::long_name, v);
            sum += char_sum(line.substr(k + 1, v - 1));
            k += v;
            continue;
        case '9':
            in.next = v;
            break;
        case 'B':
        case '*': {
            const std::size_t n = tag == 'B' ? 2 : 1;
            unsigned char* to = in.take(in.next, n, 0xFFFF);
            if (!to)
                return false;
            if (n == 2) {
                to[0] = static_cast<unsigned char>(v >> 8);
                to[1] = static_cast<unsigned char>(v);
            } else {
                to[0] = static_cast<unsigned char>(v);
            }
            in.next += n;
            ++in.records;
            break;
        }
        case '7':
        case '8':
            if (((sum + v) & 0xFFFF) != 0)
                return in.fail(wrong_sum(v, (0 - sum) & 0xFFFF, 4));
            checked = true;
            k += 5;
            continue;
        default:
            return in.fail(bad_char_at(line, k));
        }
        sum += char_sum(digits);
        k += 1 + width;
    }
    return in.fail(hex_fault::no_f);
}

// The writer:
//   9AAAA BWWWW.. 8CCCCF         CCCC = -(sum of character codes 9 .. 8)
// after zorbin's start record: 0 <size> 7 <file name as upper-cased character codes> 8 <sum> F,
// where the sum is the plain 16-bit sum of the character codes up to and including the 8.
namespace {

[[gnu::always_inline]] inline char* sdsmac_record(char* p, const unsigned char* s, std::size_t n,
                                                  std::uint32_t addr)
{
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
    return put_eol(p);
}

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

}  // namespace

bool start_sdsmac(out_buffer& w, fmt, std::size_t size, std::string_view filename, std::uint32_t)
{
    return w.put(sdsmac_start(size, filename));
}

bool write_sdsmac(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                  std::uint32_t& records)
{
    return write_records<sdsmac, sdsmac_record>(w, pieces, base, records);
}

}  // namespace zb
