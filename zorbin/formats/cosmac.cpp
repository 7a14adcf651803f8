// RCA Cosmac (!M change memory command) in and out:
//   !M AAAA DD DD.. ,       data bytes from AAAA on, blanks between bytes allowed; a comma
//   DD DD.. ;               goes on at the next address, at the end of a line on the next
//   AAAA DD..               line; a semicolon takes a new address, here or on the next line
// A line that ends without either ends the command; another !M may begin a new one. The
// format has no checksum and no end record.
#include <string>

#include "formats/hexread.h"
#include "formats/records.h"

namespace zb {

namespace {

// in.mode between lines: 0 no command open, -1 data goes on, -2 an address comes next.
constexpr int no_command = 0, more_data = -1, new_address = -2;

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

// "!M", then an address and data: hex digits, blanks, commas and semicolons only.
bool shape_cosmac(std::string_view line, std::string_view)
{
    if (!line.starts_with("!M"))
        return false;
    std::size_t k = 2;
    while (k < line.size() && blank(line[k]))
        ++k;
    if (k == line.size() || digit_of[static_cast<unsigned char>(line[k])] == bad_digit)
        return false;
    for (; k < line.size(); ++k) {
        const char c = line[k];
        if (digit_of[static_cast<unsigned char>(c)] == bad_digit && !blank(c) && c != ',' &&
            c != ';')
            return false;
    }
    return true;
}

bool read_cosmac(hex_in& in, std::string_view line)
{
    std::size_t k = 0;
    int state = in.mode;
    if (state == no_command) {
        if (!line.starts_with("!M"))
            return in.fail(bad_char_at(line, line.starts_with("!") ? 1 : 0));
        k = 2;
        state = new_address;
    }
    const char* s = line.data();
    const std::size_t size = line.size();
    while (true) {
        while (k < size && blank(s[k]))
            ++k;
        if (k == size) {
            // A command opened by !M needs its address; after data the line end closes it.
            if (state == new_address && k == 2 && in.mode == no_command)
                return in.fail(hex_fault::no_address);
            in.mode = state == new_address ? new_address : no_command;
            return true;
        }
        if (state == new_address) {
            std::size_t d = k;
            std::uint32_t addr = 0;
            while (d < size && digit_of[static_cast<unsigned char>(s[d])] != bad_digit && d - k < 5)
                addr = addr << 4 | digit_of[static_cast<unsigned char>(s[d++])];
            if (d == k)
                return in.fail(bad_char_at(line, k));
            if (d - k > 4)
                return in.fail(hex_fault::long_address, k + 1);
            in.next = addr;
            k = d;
            state = more_data;
            continue;
        }
        if (s[k] == ',' || s[k] == ';') {
            state = s[k] == ',' ? more_data : new_address;
            ++k;
            std::size_t rest = k;
            while (rest < size && blank(s[rest]))
                ++rest;
            if (rest == size) {
                in.mode = state;
                return true;
            }
            continue;
        }
        if (k + 1 >= size || pair_at(s + k) > 0xFF)
            return in.fail(k + 1 >= size ? bad_char_at(line, k + 1) : bad_char(line, k));
        unsigned char* to = in.take(in.next, 1, 0xFFFF);
        if (!to)
            return false;
        *to = static_cast<unsigned char>(pair_at(s + k));
        ++in.next;
        k += 2;
    }
}

// The writer. A record is its data digits only; the loop puts ",\r\n" between records, and
// the command "!M AAAA ," opens the image:
//   !MAAAA ,
//   D..,
//   D..
namespace {

[[gnu::always_inline]] inline char* cosmac_record(char* p, const unsigned char* s, std::size_t n,
                                                  std::uint32_t)
{
    std::uint32_t sum = 0;
    return put_data<cosmac>(p, s, n, sum);
}

}  // namespace

bool start_cosmac(out_buffer& w, fmt, std::size_t, std::string_view, std::uint32_t base)
{
    char* p = w.room();
    if (p)
        w.commit(put_text(put4(put_text(p, "!M"), base), " ,\r\n"));
    return p != nullptr;
}

bool write_cosmac(out_buffer& w, std::span<const piece> pieces, std::uint32_t base,
                  std::uint32_t& records)
{
    return write_records<cosmac, cosmac_record>(w, pieces, base, records);
}

}  // namespace zb
