// ELF reader: identification, the header tables of either class, the loadable sections (or
// segments) and their load addresses. Every offset, count and size comes from the file, so each
// is checked against the file before it is used, and no loop runs longer than the file allows.
#include "elf.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace zb {

namespace {

using bytes = std::span<const unsigned char>;

// Where the fields lie in one ELF class. Addresses, offsets, sizes and section flags are
// `word` bytes wide; types and sh_info 4 bytes; table entry sizes and counts 2 bytes.
struct layout {
    std::size_t ehdr;  // header size
    std::size_t word;  // 4 or 8
    std::size_t e_phoff, e_shoff, e_phentsize, e_phnum, e_shentsize, e_shnum;
    std::size_t phdr;  // smallest program header entry
    std::size_t p_type, p_offset, p_paddr, p_filesz;
    std::size_t shdr;  // smallest section header entry
    std::size_t sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_info;
};

constexpr layout elf32{52, 4, 28, 32, 42, 44, 46, 48, 32, 0, 4, 12, 16, 40, 4, 8, 12, 16, 20, 28};
constexpr layout elf64{64, 8, 32, 40, 54, 56, 58, 60, 56, 0, 8, 24, 32, 64, 4, 8, 16, 24, 32, 44};

constexpr std::size_t ident_size = 16;
constexpr std::uint32_t pt_load = 1;
constexpr std::uint32_t sht_nobits = 8;
constexpr std::uint64_t shf_alloc = 2;
constexpr std::uint64_t pn_xnum = 0xFFFF;  // program header count held in section 0's sh_info

// The one way to reach the file's bytes: n (1..8) bytes at off in the file's byte order, or
// nothing unless all of them lie in the file.
struct reader {
    bytes file;
    bool big;

    std::optional<std::uint64_t> get(std::uint64_t off, std::size_t n) const
    {
        if (off > file.size() || n > file.size() - off)
            return std::nullopt;
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t at = static_cast<std::size_t>(off) + (big ? k : n - 1 - k);
            v = v << 8 | file[at];
        }
        return v;
    }
    // A field of a table already found to lie in the file.
    std::uint64_t at(std::uint64_t off, std::size_t n) const { return get(off, n).value_or(0); }
    bool holds(std::uint64_t off, std::uint64_t n) const
    {
        return off <= file.size() && n <= file.size() - off;
    }
};

std::string hex(std::uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

// A header table: count entries of entsize bytes from off.
struct table {
    std::uint64_t off = 0, count = 0, entsize = 0;
    std::uint64_t entry(std::uint64_t k) const { return off + k * entsize; }
};

// "" when the table lies in the file with entries large enough for the class, else why not.
std::string check_table(const reader& r, const table& t, std::size_t smallest, const char* what)
{
    if (t.count == 0)
        return {};
    if (t.entsize < smallest)
        return std::string(what) + " header size " + std::to_string(t.entsize) +
               " is smaller than " + std::to_string(smallest);
    if (!r.holds(t.off, 0) || t.count > (r.file.size() - t.off) / t.entsize)
        return std::string(what) + " headers (" + std::to_string(t.count) + " of " +
               std::to_string(t.entsize) + " bytes at " + hex(t.off) + ") lie outside the file";
    return {};
}

// A stretch of the file to be placed at a load address.
struct piece_at {
    std::uint64_t addr;
    bytes data;
    std::uint64_t index;  // section or program header number, for messages
};

struct segment_at {
    std::uint64_t offset, end;  // file range
    std::uint64_t paddr;
};

// "" or why the n bytes at file offset off cannot be placed at addr.
std::string check_piece(const reader& r, const char* what, std::uint64_t index,
                        std::uint64_t off, std::uint64_t n, std::uint64_t addr)
{
    const std::string name = std::string(what) + " " + std::to_string(index);
    if (!r.holds(off, n))
        return name + " data (" + hex(n) + " bytes at " + hex(off) + ") lies outside the file";
    if (n - 1 > ~std::uint64_t{0} - addr)
        return name + " at load address " + hex(addr) + " with " + hex(n) +
               " bytes runs past 64 bits";
    return {};
}

// The PT_LOAD segments with bytes in the file, in header order.
std::string load_segments(const reader& r, const layout& l, const table& ph,
                          std::vector<segment_at>& out, std::vector<piece_at>& pieces)
{
    for (std::uint64_t k = 0; k < ph.count; ++k) {
        const std::uint64_t e = ph.entry(k);
        if (r.at(e + l.p_type, 4) != pt_load)
            continue;
        const std::uint64_t off = r.at(e + l.p_offset, l.word);
        const std::uint64_t n = r.at(e + l.p_filesz, l.word);
        const std::uint64_t paddr = r.at(e + l.p_paddr, l.word);
        if (n == 0)
            continue;
        if (std::string why = check_piece(r, "segment", k, off, n, paddr); !why.empty())
            return why;
        out.push_back({off, off + n, paddr});
        pieces.push_back({paddr, r.file.subspan(static_cast<std::size_t>(off),
                                                static_cast<std::size_t>(n)), k});
    }
    return {};
}

// Finds the segment whose file range holds a section. Of the segments that begin at or before
// the section, the one whose range reaches furthest holds it if any does (of equal reach, the
// one that begins first, then the first in header order). Sorted once, each look-up is a
// binary search, so a file of many sections and many segments is still read quickly.
class segment_finder {
public:
    explicit segment_finder(std::vector<segment_at> segs) : sorted(std::move(segs))
    {
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const segment_at& a, const segment_at& b) { return a.offset < b.offset; });
        reach.resize(sorted.size());
        for (std::size_t k = 0; k < sorted.size(); ++k)
            reach[k] = k > 0 && sorted[reach[k - 1]].end >= sorted[k].end ? reach[k - 1] : k;
    }

    const segment_at* holding(std::uint64_t off, std::uint64_t n) const
    {
        auto it = std::upper_bound(sorted.begin(), sorted.end(), off,
                                   [](std::uint64_t o, const segment_at& s) { return o < s.offset; });
        if (it == sorted.begin())
            return nullptr;
        const segment_at& s = sorted[reach[static_cast<std::size_t>(it - sorted.begin()) - 1]];
        return s.end - off >= n ? &s : nullptr;
    }

private:
    std::vector<segment_at> sorted;
    std::vector<std::size_t> reach;  // for each prefix of sorted, the segment reaching furthest
};

std::string sections(const reader& r, const layout& l, const table& sh,
                     const segment_finder& segs, std::vector<piece_at>& pieces)
{
    for (std::uint64_t k = 0; k < sh.count; ++k) {
        const std::uint64_t e = sh.entry(k);
        const std::uint64_t n = r.at(e + l.sh_size, l.word);
        if ((r.at(e + l.sh_flags, l.word) & shf_alloc) == 0 || r.at(e + l.sh_type, 4) == sht_nobits ||
            n == 0)
            continue;
        const std::uint64_t off = r.at(e + l.sh_offset, l.word);
        std::uint64_t addr = r.at(e + l.sh_addr, l.word);
        if (const segment_at* s = r.holds(off, n) ? segs.holding(off, n) : nullptr)
            addr = s->paddr + (off - s->offset);
        if (std::string why = check_piece(r, "section", k, off, n, addr); !why.empty())
            return why;
        pieces.push_back({addr, r.file.subspan(static_cast<std::size_t>(off),
                                               static_cast<std::size_t>(n)), k});
    }
    return {};
}

// Sorts the pieces by address and joins those that touch into blocks; "" or the first overlap.
std::string join(std::vector<piece_at>& pieces, const char* what, std::vector<block>& blocks)
{
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const piece_at& a, const piece_at& b) { return a.addr < b.addr; });
    std::uint64_t last = 0;  // highest address of the block being built
    for (const piece_at& p : pieces) {
        if (!blocks.empty() && p.addr <= last) {
            const piece_at& q = *(&p - 1);
            return std::string(what) + "s " + std::to_string(q.index) + " and " +
                   std::to_string(p.index) + " overlap at load address " + hex(p.addr);
        }
        if (blocks.empty() || p.addr != last + 1)
            blocks.push_back({p.addr, {}});
        blocks.back().pieces.push_back(p.data);
        last = p.addr + (p.data.size() - 1);
    }
    return {};
}

}  // namespace

bool is_elf(std::span<const unsigned char> file)
{
    return file.size() >= 4 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' &&
           file[3] == 'F';
}

elf_image read_elf(std::span<const unsigned char> file)
{
    elf_image img;
    auto fail = [&](std::string why) {
        img.blocks.clear();
        img.error = std::move(why);
        return std::move(img);
    };
    if (file.size() < ident_size)
        return fail("file ends inside the 16-byte identification");
    const unsigned cls = file[4], order = file[5], version = file[6];
    if (cls != 1 && cls != 2)
        return fail("unknown class " + std::to_string(cls));
    if (order != 1 && order != 2)
        return fail("unknown byte order " + std::to_string(order));
    if (version != 1)
        return fail("unknown version " + std::to_string(version));
    const layout& l = cls == 1 ? elf32 : elf64;
    const reader r{file, order == 2};
    if (!r.holds(0, l.ehdr))
        return fail("file ends inside the " + std::to_string(l.ehdr) + "-byte header");

    table sh{r.at(l.e_shoff, l.word), r.at(l.e_shnum, 2), r.at(l.e_shentsize, 2)};
    table ph{r.at(l.e_phoff, l.word), r.at(l.e_phnum, 2), r.at(l.e_phentsize, 2)};
    if (sh.off == 0)
        sh.count = 0;
    // Past 0xFFFF sections (or 0xFFFE program headers) the real counts live in section 0.
    if (sh.off != 0 && (sh.count == 0 || ph.count == pn_xnum)) {
        table first{sh.off, 1, sh.entsize};
        if (std::string why = check_table(r, first, l.shdr, "section"); !why.empty())
            return fail(why);
        if (sh.count == 0)
            sh.count = r.at(sh.off + l.sh_size, l.word);
        if (ph.count == pn_xnum)
            ph.count = r.at(sh.off + l.sh_info, 4);
    }
    if (ph.off == 0)
        ph.count = 0;
    if (std::string why = check_table(r, ph, l.phdr, "program"); !why.empty())
        return fail(why);
    if (std::string why = check_table(r, sh, l.shdr, "section"); !why.empty())
        return fail(why);

    std::vector<segment_at> segs;
    std::vector<piece_at> pieces;
    if (std::string why = load_segments(r, l, ph, segs, pieces); !why.empty())
        return fail(why);
    if (sh.count > 0) {
        pieces.clear();
        if (std::string why = sections(r, l, sh, segment_finder(std::move(segs)), pieces);
            !why.empty())
            return fail(why);
    }
    if (pieces.empty())
        return fail("no loadable contents");
    if (std::string why = join(pieces, sh.count > 0 ? "section" : "segment", img.blocks);
        !why.empty())
        return fail(why);
    return img;
}

void rebase(std::vector<block>& blocks, std::uint32_t base)
{
    if (blocks.empty())
        return;
    const std::uint64_t lowest = blocks.front().base;
    for (block& b : blocks) {
        const std::uint64_t distance = b.base - lowest;
        b.base = distance > ~std::uint64_t{0} - base ? ~std::uint64_t{0} : distance + base;
    }
}

std::string elf_message(std::string_view infile, std::string_view what)
{
    return "Bad ELF image " + std::string(infile) + ": " + std::string(what) + "\n";
}

}  // namespace zb
