// Naming an address by section and symbol.
#include "read/place.h"

#include <algorithm>

namespace zb {

namespace {

std::string with_offset(std::string_view name, std::uint64_t off)
{
    std::string s;
    for (const char ch : name.substr(0, 64)) {
        const auto c = static_cast<unsigned char>(ch);
        s += c >= 0x20 && c < 0x7F ? ch : '?';
    }
    return off == 0 ? s : s + "+" + hex_text(off);
}

// The nearest symbol at or below run in section sec that names a place; of several at that
// address, the first in the table.
const elf_symbol* nearest_before(const elf_image& e, const elf_section& sec, std::uint64_t run)
{
    auto it = std::upper_bound(
        e.by_addr.begin(), e.by_addr.end(), run, [&](std::uint64_t a, std::size_t k) {
            const elf_symbol& s = e.symbols[k];
            return s.section != sec.index ? sec.index < s.section : a < s.addr;
        });
    const elf_symbol* found = nullptr;
    while (it != e.by_addr.begin()) {
        const elf_symbol& s = e.symbols[*--it];
        if (s.section != sec.index || (found && s.addr != found->addr))
            break;
        if (names_a_place(s) && !s.name.empty())
            found = &s;
    }
    return found;
}

std::string elf_place(const elf_image& e, std::uint64_t addr)
{
    const elf_section* sec = section_holding(e, addr);
    if (!sec)
        return {};
    std::string s = "in " + shown_name(sec->name, sec->index);
    const std::uint64_t run = sec->addr + (addr - sec->load);
    const elf_symbol* y = symbol_holding(e, addr);
    if (y && y->size > 0 && !y->name.empty())
        return s + ", in " + with_offset(y->name, run - y->addr);
    if (const elf_symbol* n = nearest_before(e, *sec, run))
        return s + ", at " + with_offset(n->name, run - n->addr);
    return s;
}

}  // namespace

std::string place_of(const image& img, const elf_image* elf, std::uint64_t shift,
                     std::uint64_t addr)
{
    if (elf)
        if (std::string s = elf_place(*elf, addr - shift); !s.empty())
            return s;
    const auto it =
        std::upper_bound(img.parts.begin(), img.parts.end(), addr,
                         [](std::uint64_t a, const part& p) { return a < p.from.load; });
    if (it != img.parts.begin() && addr < end_of(*(it - 1)) && (it - 1)->from.made)
        return "in " + (it - 1)->from.name;
    return {};
}

}  // namespace zb
