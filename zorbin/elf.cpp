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
// `word` bytes wide; types, names and sh_link 4 bytes; table entry sizes and counts 2 bytes.
struct layout {
    std::size_t ehdr;  // header size
    std::size_t word;  // 4 or 8
    std::size_t e_entry, e_phoff, e_shoff, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
    std::size_t phdr;  // smallest program header entry
    std::size_t p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz;
    std::size_t shdr;  // smallest section header entry
    std::size_t sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info;
};

constexpr layout elf32{52, 4, 24, 28, 32, 42, 44, 46, 48, 50,
                       32, 0, 4, 8, 12, 16, 20,
                       40, 0, 4, 8, 12, 16, 20, 24, 28};
constexpr layout elf64{64, 8, 24, 32, 40, 54, 56, 58, 60, 62,
                       56, 0, 8, 16, 24, 32, 40,
                       64, 0, 4, 8, 16, 24, 32, 40, 44};

constexpr std::size_t ident_size = 16;
constexpr std::uint32_t pt_load = 1;
constexpr std::uint32_t sht_nobits = 8;
constexpr std::uint64_t shf_alloc = 2;
constexpr std::uint64_t pn_xnum = 0xFFFF;  // program header count held in section 0's sh_info
constexpr std::uint64_t shn_xindex = 0xFFFF;  // string table index held in section 0's sh_link

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
    bytes data;
    std::uint64_t index;  // section or program header number, for messages
    origin from;          // from.load is where it goes
};

struct segment_at {
    std::uint64_t offset, end;  // file range; end may lie past the end of the file
    std::uint64_t paddr;
    std::uint64_t index;
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

// The program headers as far as placement needs them.
struct program {
    std::vector<segment_at> loads;  // PT_LOAD with bytes in the file, in header order
    std::vector<piece_at> pieces;   // the same as pieces, for a file without section headers
    // Every program header has p_paddr 0 and more than one PT_LOAD takes memory: a linker
    // that never fills in load addresses. Placing each at 0 would only overlap them, so such
    // a file is placed at its run addresses.
    bool run_addresses = false;
};

constexpr std::string_view by_run_address = "p_paddr all 0: run address";

std::string load_segments(const reader& r, const layout& l, const table& ph, bool sections,
                          program& out)
{
    bool any_paddr = false;
    int taking_memory = 0;
    for (std::uint64_t k = 0; k < ph.count; ++k) {
        const std::uint64_t e = ph.entry(k);
        any_paddr = any_paddr || r.at(e + l.p_paddr, l.word) != 0;
        if (r.at(e + l.p_type, 4) == pt_load && r.at(e + l.p_memsz, l.word) != 0)
            taking_memory++;
    }
    out.run_addresses = !any_paddr && taking_memory > 1;

    for (std::uint64_t k = 0; k < ph.count; ++k) {
        const std::uint64_t e = ph.entry(k);
        if (r.at(e + l.p_type, 4) != pt_load)
            continue;
        const std::uint64_t off = r.at(e + l.p_offset, l.word);
        const std::uint64_t n = r.at(e + l.p_filesz, l.word);
        const std::uint64_t vaddr = r.at(e + l.p_vaddr, l.word);
        const std::uint64_t paddr = out.run_addresses ? vaddr : r.at(e + l.p_paddr, l.word);
        if (n == 0)
            continue;
        // With section headers the sections are what is written: a segment that claims
        // more of the file than there is only has to hold them.
        const std::uint64_t end = n > ~std::uint64_t{0} - off ? ~std::uint64_t{0} : off + n;
        out.loads.push_back({off, end, paddr, k});
        if (sections)
            continue;
        if (std::string why = check_piece(r, "segment", k, off, n, paddr); !why.empty())
            return why;
        const std::string name = "segment " + std::to_string(k);
        out.pieces.push_back({r.file.subspan(static_cast<std::size_t>(off),
                                             static_cast<std::size_t>(n)),
                              k,
                              {name, vaddr, paddr, off, n,
                               out.run_addresses ? std::string(by_run_address) : name}});
    }
    return {};
}

// Finds the PT_LOAD segment whose file range holds the whole of a section's. Of the segments
// that begin at or before the section, the one whose range reaches furthest holds it if any
// does (of equal reach, the one that begins first, then the first in header order). Sorted
// once, each look-up is a binary search, so a file of many sections and many segments is
// still read quickly.
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
        // A section that starts past the segment's end is outside it, however far it runs.
        const segment_at& s = sorted[reach[static_cast<std::size_t>(it - sorted.begin()) - 1]];
        return off <= s.end && s.end - off >= n ? &s : nullptr;
    }

private:
    std::vector<segment_at> sorted;
    std::vector<std::size_t> reach;  // for each prefix of sorted, the segment reaching furthest
};

// The section name table, where the header names one that lies in the file.
struct names {
    std::uint64_t off = 0, size = 0;
};

names name_table(const reader& r, const layout& l, const table& sh)
{
    std::uint64_t k = r.at(l.e_shstrndx, 2);
    if (k == shn_xindex)
        k = r.at(sh.off + l.sh_link, 4);
    if (k == 0 || k >= sh.count)
        return {};
    const std::uint64_t e = sh.entry(k);
    const std::uint64_t off = r.at(e + l.sh_offset, l.word), n = r.at(e + l.sh_size, l.word);
    return r.holds(off, n) ? names{off, n} : names{};
}

// A section's name as -info shows it: its bytes up to the NUL, anything but printable ASCII
// as "?", at most 64 characters; "section K" when the table does not hold it.
std::string section_name(const reader& r, const names& t, std::uint64_t name, std::uint64_t k)
{
    constexpr std::size_t longest = 64;
    std::string s;
    for (std::uint64_t i = name; i < t.size; ++i) {
        const unsigned char c = r.file[static_cast<std::size_t>(t.off + i)];
        if (c == 0)
            return s.empty() ? "section " + std::to_string(k) : s;
        if (s.size() < longest)
            s += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return "section " + std::to_string(k);
}

std::string sections(const reader& r, const layout& l, const table& sh, const program& prog,
                     std::vector<piece_at>& pieces)
{
    const segment_finder segs(prog.loads);
    const names strtab = name_table(r, l, sh);
    for (std::uint64_t k = 0; k < sh.count; ++k) {
        const std::uint64_t e = sh.entry(k);
        const std::uint64_t n = r.at(e + l.sh_size, l.word);
        if ((r.at(e + l.sh_flags, l.word) & shf_alloc) == 0 || r.at(e + l.sh_type, 4) == sht_nobits ||
            n == 0)
            continue;
        const std::uint64_t off = r.at(e + l.sh_offset, l.word);
        const std::uint64_t run = r.at(e + l.sh_addr, l.word);
        origin from{section_name(r, strtab, r.at(e + l.sh_name, 4), k), run, run, off, n,
                    "no segment: run address"};
        if (prog.run_addresses)
            from.why = by_run_address;
        else if (const segment_at* s = r.holds(off, n) ? segs.holding(off, n) : nullptr) {
            from.load = s->paddr + (off - s->offset);
            from.why = "segment " + std::to_string(s->index);
        }
        if (std::string why = check_piece(r, "section", k, off, n, from.load); !why.empty())
            return why;
        pieces.push_back({r.file.subspan(static_cast<std::size_t>(off),
                                         static_cast<std::size_t>(n)),
                          k, std::move(from)});
    }
    return {};
}

// Sorts the pieces by address into the image's parts; "" or the first overlap.
std::string join(std::vector<piece_at>& pieces, const char* what, image& img)
{
    std::stable_sort(pieces.begin(), pieces.end(), [](const piece_at& a, const piece_at& b) {
        return a.from.load < b.from.load;
    });
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        const piece_at &q = pieces[k - 1], &p = pieces[k];
        if (p.from.load <= q.from.load + (q.data.size() - 1))
            return std::string(what) + "s " + std::to_string(q.index) + " and " +
                   std::to_string(p.index) + " overlap at load address " + hex(p.from.load);
    }
    img.parts.reserve(pieces.size());
    for (piece_at& p : pieces)
        img.parts.push_back({p.data, std::move(p.from)});
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
    elf_image r;
    image& img = r.img;
    auto fail = [&](std::string why) {
        img.parts.clear();
        r.error = std::move(why);
        return std::move(r);
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
    const reader rd{file, order == 2};
    if (!rd.holds(0, l.ehdr))
        return fail("file ends inside the " + std::to_string(l.ehdr) + "-byte header");
    img.kind = std::string(cls == 1 ? "ELF32" : "ELF64") +
               (order == 2 ? " big-endian" : " little-endian");
    if (const std::uint64_t entry = rd.at(l.e_entry, l.word); entry != 0)
        img.entry = entry;

    table sh{rd.at(l.e_shoff, l.word), rd.at(l.e_shnum, 2), rd.at(l.e_shentsize, 2)};
    table ph{rd.at(l.e_phoff, l.word), rd.at(l.e_phnum, 2), rd.at(l.e_phentsize, 2)};
    if (sh.off == 0)
        sh.count = 0;
    // Past 0xFFFF sections (or 0xFFFE program headers) the real counts live in section 0.
    if (sh.off != 0 && (sh.count == 0 || ph.count == pn_xnum)) {
        table first{sh.off, 1, sh.entsize};
        if (std::string why = check_table(rd, first, l.shdr, "section"); !why.empty())
            return fail(why);
        if (sh.count == 0)
            sh.count = rd.at(sh.off + l.sh_size, l.word);
        if (ph.count == pn_xnum)
            ph.count = rd.at(sh.off + l.sh_info, 4);
    }
    if (ph.off == 0)
        ph.count = 0;
    if (std::string why = check_table(rd, ph, l.phdr, "program"); !why.empty())
        return fail(why);
    if (std::string why = check_table(rd, sh, l.shdr, "section"); !why.empty())
        return fail(why);

    program prog;
    if (std::string why = load_segments(rd, l, ph, sh.count > 0, prog); !why.empty())
        return fail(why);
    std::vector<piece_at> pieces = std::move(prog.pieces);
    if (sh.count > 0)
        if (std::string why = sections(rd, l, sh, prog, pieces); !why.empty())
            return fail(why);
    if (pieces.empty())
        return fail("no loadable contents");
    if (std::string why = join(pieces, sh.count > 0 ? "section" : "segment", img); !why.empty())
        return fail(why);
    return r;
}

std::string elf_message(std::string_view infile, std::string_view what)
{
    return "Bad ELF image " + std::string(infile) + ": " + std::string(what) + "\n";
}

}  // namespace zb
