// ELF reader: identification, the header tables of either class, the loadable sections (or
// segments) and their load addresses. Every offset, count and size comes from the file, so each
// is checked against the file before it is used, and no loop runs longer than the file allows.
#include "read/elf.h"

#include <algorithm>
#include <bit>
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
    std::uint64_t* work;  // fields read, and look-up steps (elf_image::work)

    std::optional<std::uint64_t> get(std::uint64_t off, std::size_t n) const
    {
        ++*work;
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

// A header table: count entries of entsize bytes from off.
struct table {
    std::uint64_t off = 0, count = 0, entsize = 0;
    std::uint64_t entry(std::uint64_t k) const { return off + k * entsize; }
};

elf_error err(elf_fault f, const char* what = "", std::uint64_t a = 0, std::uint64_t b = 0,
              std::uint64_t c = 0, std::uint64_t d = 0)
{
    return {f, what, a, b, c, d};
}

// None when the table lies in the file with entries large enough for the class.
elf_error check_table(const reader& r, const table& t, std::size_t smallest, const char* what)
{
    if (t.count == 0)
        return {};
    if (t.entsize < smallest)
        return err(elf_fault::entry_small, what, t.entsize, smallest);
    if (!r.holds(t.off, 0) || t.count > (r.file.size() - t.off) / t.entsize)
        return err(elf_fault::table_outside, what, t.count, t.entsize, t.off);
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

// None, or why the n bytes at file offset off cannot be placed at addr.
elf_error check_piece(const reader& r, const char* what, std::uint64_t index,
                      std::uint64_t off, std::uint64_t n, std::uint64_t addr)
{
    if (!r.holds(off, n))
        return err(elf_fault::data_outside, what, index, n, off);
    if (n - 1 > ~std::uint64_t{0} - addr)
        return err(elf_fault::past_64_bits, what, index, addr, n);
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

elf_error load_segments(const reader& r, const layout& l, const table& ph, bool sections,
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
        if (elf_error e = check_piece(r, "segment", k, off, n, paddr); e.f != elf_fault::none)
            return e;
        const std::string name = "segment " + std::to_string(k);
        out.pieces.push_back({r.file.subspan(static_cast<std::size_t>(off),
                                             static_cast<std::size_t>(n)),
                              k,
                              {name, vaddr, paddr, off,
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

    const segment_at* holding(std::uint64_t off, std::uint64_t n, std::uint64_t& work) const
    {
        work += static_cast<std::uint64_t>(std::bit_width(sorted.size()));  // the search's steps
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

elf_error sections(const reader& r, const layout& l, const table& sh, const program& prog,
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
        origin from{section_name(r, strtab, r.at(e + l.sh_name, 4), k), run, run, off,
                    "no segment: run address"};
        if (prog.run_addresses)
            from.why = by_run_address;
        else if (const segment_at* s = r.holds(off, n) ? segs.holding(off, n, *r.work) : nullptr) {
            from.load = s->paddr + (off - s->offset);
            from.why = "segment " + std::to_string(s->index);
        }
        if (elf_error e = check_piece(r, "section", k, off, n, from.load); e.f != elf_fault::none)
            return e;
        pieces.push_back({r.file.subspan(static_cast<std::size_t>(off),
                                         static_cast<std::size_t>(n)),
                          k, std::move(from)});
    }
    return {};
}

// Sorts the pieces by address into the image's parts; none or the first overlap.
elf_error join(std::vector<piece_at>& pieces, const char* what, image& img)
{
    std::stable_sort(pieces.begin(), pieces.end(), [](const piece_at& a, const piece_at& b) {
        return a.from.load < b.from.load;
    });
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        const piece_at &q = pieces[k - 1], &p = pieces[k];
        if (p.from.load <= q.from.load + (q.data.size() - 1))
            return err(elf_fault::overlap, what, q.index, p.index, p.from.load);
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
    auto fail = [&](elf_error e) {
        img.parts.clear();
        r.error = e;
        return std::move(r);
    };
    if (file.size() < ident_size)
        return fail(err(elf_fault::short_ident, "", ident_size));
    const unsigned cls = file[4], order = file[5], version = file[6];
    if (cls != 1 && cls != 2)
        return fail(err(elf_fault::unknown_class, "", cls));
    if (order != 1 && order != 2)
        return fail(err(elf_fault::unknown_order, "", order));
    if (version != 1)
        return fail(err(elf_fault::unknown_version, "", version));
    const layout& l = cls == 1 ? elf32 : elf64;
    const reader rd{file, order == 2, &r.work};
    if (!rd.holds(0, l.ehdr))
        return fail(err(elf_fault::short_header, "", l.ehdr));
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
        if (elf_error e = check_table(rd, first, l.shdr, "section"); e.f != elf_fault::none)
            return fail(e);
        if (sh.count == 0)
            sh.count = rd.at(sh.off + l.sh_size, l.word);
        if (ph.count == pn_xnum)
            ph.count = rd.at(sh.off + l.sh_info, 4);
    }
    if (ph.off == 0)
        ph.count = 0;
    if (elf_error e = check_table(rd, ph, l.phdr, "program"); e.f != elf_fault::none)
        return fail(e);
    if (elf_error e = check_table(rd, sh, l.shdr, "section"); e.f != elf_fault::none)
        return fail(e);

    program prog;
    if (elf_error e = load_segments(rd, l, ph, sh.count > 0, prog); e.f != elf_fault::none)
        return fail(e);
    std::vector<piece_at> pieces = std::move(prog.pieces);
    if (sh.count > 0)
        if (elf_error e = sections(rd, l, sh, prog, pieces); e.f != elf_fault::none)
            return fail(e);
    if (pieces.empty())
        return fail(err(elf_fault::nothing));
    if (elf_error e = join(pieces, sh.count > 0 ? "section" : "segment", img); e.f != elf_fault::none)
        return fail(e);
    return r;
}

std::string elf_what(const elf_error& e)
{
    const std::string what = e.what;
    switch (e.f) {
    case elf_fault::none:
        break;
    case elf_fault::short_ident:
        return "file ends inside the " + std::to_string(e.a) + "-byte identification";
    case elf_fault::unknown_class:
        return "unknown class " + std::to_string(e.a);
    case elf_fault::unknown_order:
        return "unknown byte order " + std::to_string(e.a);
    case elf_fault::unknown_version:
        return "unknown version " + std::to_string(e.a);
    case elf_fault::short_header:
        return "file ends inside the " + std::to_string(e.a) + "-byte header";
    case elf_fault::entry_small:
        return what + " header size " + std::to_string(e.a) + " is smaller than " +
               std::to_string(e.b);
    case elf_fault::table_outside:
        return what + " headers (" + std::to_string(e.a) + " of " + std::to_string(e.b) +
               " bytes at " + hex_text(e.c) + ") lie outside the file";
    case elf_fault::data_outside:
        return what + " " + std::to_string(e.a) + " data (" + hex_text(e.b) + " bytes at " + hex_text(e.c) +
               ") lies outside the file";
    case elf_fault::past_64_bits:
        return what + " " + std::to_string(e.a) + " at load address " + hex_text(e.b) + " with " +
               hex_text(e.c) + " bytes runs past 64 bits";
    case elf_fault::overlap:
        return what + "s " + std::to_string(e.a) + " and " + std::to_string(e.b) +
               " overlap at load address " + hex_text(e.c);
    case elf_fault::nothing:
        return "no loadable contents";
    }
    return {};
}

std::string elf_message(std::string_view infile, const elf_error& e)
{
    return "Bad ELF image " + std::string(infile) + ": " + elf_what(e) + "\n";
}
}  // namespace zb
