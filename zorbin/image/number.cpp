#include "image/number.h"

namespace zb {

namespace {

int digit_of(char ch, unsigned base)
{
    const int c = ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch;
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint64_t> parse_number(std::string_view s, std::uint64_t max, bool need_digit)
{
    unsigned base = 10;
    if (s.starts_with('&')) {
        base = 16;
        s.remove_prefix(1);
    } else if (s.starts_with("0x") || s.starts_with("0X")) {
        base = 16;
        s.remove_prefix(2);
    }
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (int d; i < s.size() && (d = digit_of(s[i], base)) >= 0; ++i) {
        const auto digit = static_cast<std::uint64_t>(d);
        if (value > (max - digit) / base)
            return std::nullopt;
        value = value * base + digit;
    }
    if (need_digit && i == 0)
        return std::nullopt;
    if (i == s.size())
        return value;
    // A K or M suffix, the last character.
    const char c = s[i];
    const unsigned shift = c == 'k' || c == 'K' ? 10 : c == 'm' || c == 'M' ? 20 : 0;
    if (shift == 0 || i + 1 != s.size() || value > max >> shift)
        return std::nullopt;
    return value << shift;
}

}  // namespace zb
