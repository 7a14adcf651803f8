// The kind decision.
#include "read/input.h"

#include <array>

namespace zb {

namespace {

bool same_word(std::string_view s, std::string_view t)
{
    if (s.size() != t.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto low = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (low(s[i]) != low(t[i]))
            return false;
    }
    return true;
}

}  // namespace

std::optional<input_kind> kind_of_word(std::string_view word)
{
    constexpr std::array<std::pair<std::string_view, kind>, 4> own{
        {{"elf", kind::elf}, {"aif", kind::aif}, {"bin", kind::bin}, {"uf2", kind::uf2}}};
    for (auto [w, k] : own)
        if (same_word(word, w))
            return input_kind{k, none};
    for (const fmt f : hex_formats)
        if (same_word(word, formats[f].word))
            return input_kind{kind::hex, f};
    return std::nullopt;
}

}  // namespace zb
