// zorbin's ELF reader on arbitrary bytes, then the record engine on what it read. The reader
// must stay inside the buffer and either fail with a reason or give blocks that are ascending,
// apart and made of the file's own bytes, exactly the pieces a plain reference reader (below)
// finds, with the section names and symbols it finds, which the look-ups find again. The
// engine's output of the blocks must be the records of each block as bin2hex writes them
// alone, laid out one after the other.
//
// Input layout: byte 0 the format (bits 0..6: the b-th row of the table, round and round)
// and, in bit 7, -base; bytes 1..4 the -base value (little-endian); the rest the file. The
// seeds in fuzz/corpus/zorbin_elf_fuzz are GNU linker output (ARM of both byte orders,
// x86-64, one without section headers) behind motorola32 without -base, and intel32, cosmac
// and sdsmac with it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "read/elf.h"
#include "write/engine.h"

namespace {

using bytes = std::span<const unsigned char>;

// The reference reader: straight loops over the headers, no sorting or searching, the rule
// for a section inside several segments spelled out. Returns false where the file is bad.
struct ref_reader {
    bytes f;
    bool wide = false, big = false;

    bool in(std::uint64_t off, std::uint64_t n) const { return off <= f.size() && n <= f.size() - off; }
    std::uint64_t num(std::uint64_t off, std::size_t n) const
    {
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < n; ++k)
            v |= std::uint64_t{f[static_cast<std::size_t>(off + k)]} << (big ? 8 * (n - 1 - k) : 8 * k);
        return v;
    }
    std::uint64_t w(std::uint64_t off) const { return num(off, wide ? 8 : 4); }

    // Pieces by address (ascending), or false.
    bool read(std::multimap<std::uint64_t, bytes>& out) const
    {
        const std::size_t eh = wide ? 64 : 52, ph_min = wide ? 56 : 32, sh_min = wide ? 64 : 40;
        if (f.size() < eh)
            return false;
        std::uint64_t phoff = w(wide ? 32 : 28), shoff = w(wide ? 40 : 32);
        std::uint64_t phent = num(wide ? 54 : 42, 2), phnum = num(wide ? 56 : 44, 2);
        std::uint64_t shent = num(wide ? 58 : 46, 2), shnum = num(wide ? 60 : 48, 2);
        if (shoff == 0)
            shnum = 0;
        if (shoff != 0 && (shnum == 0 || phnum == 0xFFFF)) {
            if (shent < sh_min || !in(shoff, shent))
                return false;
            if (shnum == 0)
                shnum = w(shoff + (wide ? 32 : 20));
            if (phnum == 0xFFFF)
                phnum = num(shoff + (wide ? 44 : 28), 4);
        }
        if (phoff == 0)
            phnum = 0;
        auto bad_table = [&](std::uint64_t off, std::uint64_t n, std::uint64_t ent, std::uint64_t min) {
            return n > 0 && (ent < min || !in(off, 0) || n > (f.size() - off) / ent);
        };
        if (bad_table(phoff, phnum, phent, ph_min) || bad_table(shoff, shnum, shent, sh_min))
            return false;
        struct seg { std::uint64_t off, end, paddr; };
        // Every p_paddr 0 and several PT_LOAD segments taking memory: run addresses.
        bool any_paddr = false;
        int loads = 0;
        for (std::uint64_t k = 0; k < phnum; ++k) {
            const std::uint64_t e = phoff + k * phent;
            any_paddr = any_paddr || w(e + (wide ? 24 : 12)) != 0;
            loads += num(e, 4) == 1 && w(e + (wide ? 40 : 20)) != 0;
        }
        const bool run = !any_paddr && loads > 1;
        std::vector<seg> segs;
        for (std::uint64_t k = 0; k < phnum; ++k) {
            const std::uint64_t e = phoff + k * phent;
            const std::uint64_t off = w(e + (wide ? 8 : 4)), n = w(e + (wide ? 32 : 16));
            const std::uint64_t paddr = w(e + (run ? (wide ? 16 : 8) : (wide ? 24 : 12)));
            if (num(e, 4) != 1 || n == 0)
                continue;
            segs.push_back({off, n > ~std::uint64_t{0} - off ? ~std::uint64_t{0} : off + n, paddr});
            if (shnum > 0)
                continue;  // only has to hold its sections
            if (!in(off, n) || n - 1 > ~std::uint64_t{0} - paddr)
                return false;
            out.insert({paddr, f.subspan(static_cast<std::size_t>(off), static_cast<std::size_t>(n))});
        }
        for (std::uint64_t k = 0; k < shnum; ++k) {
            const std::uint64_t e = shoff + k * shent;
            const std::uint64_t flags = w(e + 8), addr0 = w(e + (wide ? 16 : 12));
            const std::uint64_t off = w(e + (wide ? 24 : 16)), n = w(e + (wide ? 32 : 20));
            if (!(flags & 2) || num(e + 4, 4) == 8 || n == 0)
                continue;
            if (!in(off, n))
                return false;
            // Of the segments whose file range holds the section's whole, the one reaching
            // furthest; of equal reach the one starting first, then the first in header order.
            const seg* best = nullptr;
            for (const seg& s : segs)
                if (s.off <= off && off <= s.end && s.end - off >= n &&
                    (!best || s.end > best->end || (s.end == best->end && s.off < best->off)))
                    best = &s;
            std::uint64_t addr = addr0;
            if (best && !run)
                addr = best->paddr + (off - best->off);
            if (n - 1 > ~std::uint64_t{0} - addr)
                return false;
            out.insert({addr, f.subspan(static_cast<std::size_t>(off), static_cast<std::size_t>(n))});
        }
        return !out.empty();
    }
};

// The reference for names and symbols, on a file the reader accepted: straight loops, each
// name read from where it starts.
struct ref_symbol {
    std::string name;
    std::uint64_t value, size;
    std::uint32_t section;
    unsigned char info;
};

struct ref_names {
    const ref_reader& r;
    std::uint64_t shoff, shent, shnum;

    std::uint64_t field(std::uint64_t k, std::size_t at64, std::size_t at32, std::size_t n) const
    {
        return r.num(shoff + k * shent + (r.wide ? at64 : at32), n);
    }
    std::uint64_t word(std::uint64_t k, std::size_t at64, std::size_t at32) const
    {
        return field(k, at64, at32, r.wide ? 8 : 4);
    }
    // The name at off of the table in section k, or "" where it has none.
    std::string name(std::uint64_t k, std::uint64_t off) const
    {
        if (k == 0 || k >= shnum)
            return "";
        const std::uint64_t at = word(k, 24, 16), n = word(k, 32, 20);
        if (!r.in(at, n))
            return "";
        std::string s;
        for (std::uint64_t i = off; i < n; ++i) {
            const unsigned char c = r.f[static_cast<std::size_t>(at + i)];
            if (c == 0)
                return s;
            s += static_cast<char>(c);
        }
        return "";
    }
    std::uint64_t shstrndx() const
    {
        const std::uint64_t k = r.num(r.wide ? 62 : 50, 2);
        return k == 0xFFFF ? field(0, 40, 24, 4) : k;
    }
    // False where the symbol table is bad.
    bool symbols(std::vector<ref_symbol>& out) const
    {
        std::uint64_t t = 0;
        for (const std::uint64_t type : {2, 11}) {
            for (std::uint64_t k = 0; k < shnum && t == 0; ++k)
                if (field(k, 4, 4, 4) == type)
                    t = k;
            if (t != 0)
                break;
        }
        if (t == 0)
            return true;
        const std::uint64_t ent = word(t, 56, 36), at = word(t, 24, 16), n = word(t, 32, 20);
        const std::uint64_t link = field(t, 40, 24, 4);
        if (ent < (r.wide ? 24u : 16u) || !r.in(at, n) || link == 0 || link >= shnum ||
            !r.in(word(link, 24, 16), word(link, 32, 20)))
            return false;
        for (std::uint64_t k = 1; k < n / ent; ++k) {
            const std::uint64_t e = at + k * ent;
            out.push_back({name(link, r.num(e, 4)), r.w(e + (r.wide ? 8 : 4)),
                           r.w(e + (r.wide ? 16 : 8)),
                           static_cast<std::uint32_t>(r.num(e + (r.wide ? 6 : 14), 2)),
                           static_cast<unsigned char>(r.num(e + (r.wide ? 4 : 12), 1))});
        }
        return true;
    }
};

bool inside(std::string_view s, bytes f)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return s.empty() || (p >= f.data() && p + s.size() <= f.data() + f.size());
}

// The names and symbols against the reference; the look-ups find what the tables hold.
void check_tables(const zb::elf_image& read, bytes f)
{
    const ref_reader r{f, f[4] == 2, f[5] == 2};
    const std::uint64_t shoff = r.w(r.wide ? 40 : 32);
    const std::uint64_t shent = r.num(r.wide ? 58 : 46, 2);
    const ref_names names{r, shoff, shent, read.sections.size()};
    for (const zb::elf_section& s : read.sections) {
        CHECK(inside(s.name, f) && s.name.find('\0') == std::string_view::npos);
        CHECK(s.name == names.name(names.shstrndx(), names.field(s.index, 0, 0, 4)));
        if (!s.placed)
            continue;
        CHECK(zb::section_holding(read, s.load) == &s);
        CHECK(zb::section_holding(read, s.load + (s.size - 1)) == &s);
        const zb::elf_symbol* y = zb::symbol_holding(read, s.load);
        CHECK(!y || (zb::section_of(read, *y) == &s && y->addr <= s.addr));
    }
    std::vector<ref_symbol> ref;
    const bool ok = names.symbols(ref);
    CHECK(ok == (read.symbol_error.f == zb::elf_fault::none));
    if (!ok) {
        CHECK(read.symbols.empty());
        return;
    }
    CHECK(read.symbols.size() == ref.size());
    const bool arm = r.num(18, 2) == 40;
    for (std::size_t k = 0; k < ref.size(); ++k) {
        const zb::elf_symbol& s = read.symbols[k];
        const ref_symbol& t = ref[k];
        CHECK(inside(s.name, f) && s.name == t.name);
        CHECK(s.value == t.value && s.size == t.size && s.section == t.section);
        CHECK(s.type == (t.info & 15) && s.bind == t.info >> 4);
        CHECK(s.addr == (arm && s.type == 2 ? t.value & ~std::uint64_t{1} : t.value));
    }
    for (std::size_t k = 0; k < read.symbols.size() && k < 8; ++k) {
        const auto all = zb::symbols_named(read, read.symbols[k].name);
        CHECK(std::find(all.begin(), all.end(), &read.symbols[k]) != all.end());
    }
}

std::vector<unsigned char> gathered(const zb::block& b)
{
    std::vector<unsigned char> v;
    for (auto p : b.pieces)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// The lines of s (each ended by "\n") from line `first` on, less the last `drop` lines.
std::string lines(const std::string& s, std::size_t first, std::size_t drop)
{
    std::vector<std::size_t> starts{0};
    for (std::size_t k = 0; k < s.size(); ++k)
        if (s[k] == '\n')
            starts.push_back(k + 1);
    const std::size_t count = starts.size() - 1;
    CHECK(count >= first + drop);
    return s.substr(starts[first], starts[count - drop] - starts[first]);
}

std::string last_line(const std::string& s)
{
    const std::size_t n = static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
    return lines(s, n - 1, 0);
}

void check_engine(const std::vector<zb::block>& blocks, zb::fmt format)
{
    std::string got;
    const zb::hex_result r = zb::write_image(blocks, format, "in.elf", zb::string_sink(got));
    const std::uint64_t limit = zb::format_limit(format);
    const std::uint64_t end_max = limit == 0xFFFFFFFF ? limit + 1 : limit;
    bool fits = true;
    for (const auto& b : blocks)
        fits = fits && b.base <= limit && b.size() <= end_max - b.base;
    if (!fits) {
        CHECK(r == zb::hex_result::too_big && got.empty());
        return;
    }
    // A format with a check of its own may refuse the blocks (a gap, no byte), then before
    // its first byte.
    const zb::format_row& row = zb::formats[format];
    if (row.check && !row.check({format, blocks, {}, "in.elf"}).empty()) {
        CHECK(r == zb::hex_result::refused && got.empty());
        return;
    }
    CHECK(r == zb::hex_result::ok);
    // What follows holds for records; a format written whole keeps its own structure.
    if (!zb::formats[format].write)
        return;
    std::vector<std::string> alone;
    for (const auto& b : blocks) {
        std::string s;
        CHECK(zb::bin2hex(gathered(b), format, "in.elf", static_cast<std::uint32_t>(b.base),
                          zb::string_sink(s)) == zb::hex_result::ok);
        alone.push_back(s);
    }
    if (blocks.size() == 1) {
        CHECK(got == alone[0]);
        return;
    }
    if (!zb::formats[format].addressed) {
        const std::uint64_t lo = blocks.front().base, hi = blocks.back().base + blocks.back().size();
        std::vector<unsigned char> image(static_cast<std::size_t>(hi - lo), 0xFF);
        for (const auto& b : blocks) {
            const auto v = gathered(b);
            std::copy(v.begin(), v.end(), image.begin() + static_cast<std::ptrdiff_t>(b.base - lo));
        }
        std::string whole;
        zb::bin2hex(image, format, "in.elf", static_cast<std::uint32_t>(lo), zb::string_sink(whole));
        CHECK(got == whole);
        return;
    }
    // Each block's records as written alone, the intel32 and mcs86 ones with the extended
    // address record that opens them; sdsmac's start record, once, gives the image's span.
    const std::size_t skip = format == zb::sdsmac ? 1 : 0;
    std::string expected;
    for (const std::string& s : alone)
        expected += lines(s, skip, 1);
    CHECK(lines(got, skip, 1) == expected);
    if (format == zb::sdsmac) {
        const std::uint64_t span = blocks.back().base + blocks.back().size() - blocks.front().base;
        std::string start;
        zb::bin2hex(std::vector<unsigned char>(static_cast<std::size_t>(span)), format, "in.elf", 0,
                    zb::string_sink(start));
        CHECK(got.substr(0, got.find('\n')) == start.substr(0, start.find('\n')));
    }
    if (format == zb::mostech) {
        std::size_t records = 0;
        for (const auto& s : alone)
            records += static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')) - 1;
        char want[32];
        std::snprintf(want, sizeof want, ";00%04X%04X\r\n", static_cast<unsigned>(records & 0xFFFF),
                      static_cast<unsigned>(records & 0xFFFF));
        CHECK(last_line(got) == want);
    } else {
        CHECK(last_line(got) == last_line(alone[0]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const zb::fmt format = zb::hex_formats[(data[0] & 0x7F) % zb::hex_formats.size()];
    const bool baseflag = (data[0] & 0x80) != 0;
    std::uint32_t base;
    std::memcpy(&base, data + 1, 4);
    // Exactly the file's size, as the driver loads it, so a read past either end is caught.
    const std::vector<unsigned char> file(data + 5, data + size);
    const bytes f(file);

    zb::elf_image read = zb::read_elf({.file = f});
    std::multimap<std::uint64_t, bytes> ref;
    const bool ident_ok =
        f.size() >= 16 && (f[4] == 1 || f[4] == 2) && (f[5] == 1 || f[5] == 2) && f[6] == 1;
    const bool ref_ok = ident_ok && ref_reader{f, f[4] == 2, f[5] == 2}.read(ref);
    if (read.error.f != zb::elf_fault::none) {
        CHECK(read.img.parts.empty());
        for (char c : zb::elf_what(read.error))
            CHECK(c >= 0x20 && c < 0x7F);
        // The reference may accept pieces that overlap, which the reader refuses.
        if (ref_ok)
            CHECK(read.error.f == zb::elf_fault::overlap);
        return 0;
    }
    std::vector<zb::block> blocks = zb::blocks_of(read.img);
    CHECK(ref_ok);

    // Blocks ascending and apart, each piece a window on the file, together the reference's pieces.
    std::vector<std::pair<std::uint64_t, bytes>> pieces;
    CHECK(!blocks.empty());
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const zb::block& b = blocks[k];
        CHECK(!b.pieces.empty());
        std::uint64_t addr = b.base;
        for (auto p : b.pieces) {
            CHECK(!p.empty() && p.data() >= f.data() && p.data() + p.size() <= f.data() + f.size());
            pieces.push_back({addr, p});
            addr += p.size();
        }
        if (k > 0) {
            const zb::block& a = blocks[k - 1];
            CHECK(b.base > a.base && b.base - a.base > a.size());
        }
    }
    CHECK(pieces.size() == ref.size());
    auto it = ref.begin();
    for (const auto& [addr, p] : pieces) {
        CHECK(it->first == addr && it->second.data() == p.data() && it->second.size() == p.size());
        ++it;
    }
    check_tables(read, f);

    if (baseflag) {
        zb::rebase(read.img, base);
        blocks = zb::blocks_of(read.img);
        CHECK(blocks.front().base == base);
    }
    check_engine(blocks, format);
    return 0;
}
