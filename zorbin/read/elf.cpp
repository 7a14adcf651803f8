// ELF reader: identification, the header tables of either class, the loadable sections (or
// segments) and their load addresses, the section names and the symbol table. Every offset,
// count and size comes from the file, so each is checked against the file before it is used,
// and no loop runs longer than the file allows.
#include "read/elf.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <optional>

namespace zb {

namespace {

using bytes = std::span<const unsigned char>;

// Where the fields lie in one ELF class. Addresses, offsets, sizes and section flags are
// `word` bytes wide; types, names, sh_link and st_name 4 bytes; table entry sizes, counts and
// st_shndx 2 bytes; st_info 1.
struct layout {
    std::size_t ehdr;  // header size
    std::size_t word;  // 4 or 8
    std::size_t e_entry, e_phoff, e_shoff, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
    std::size_t phdr;  // smallest program header entry
    std::size_t p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz;
    std::size_t shdr;  // smallest section header entry
    std::size_t sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info,
        sh_entsize;
    std::size_t sym;   // smallest symbol entry
    std::size_t st_name, st_value, st_size, st_info, st_shndx;
};

constexpr layout elf32{
    .ehdr = 52, .word = 4, .e_entry = 24, .e_phoff = 28, .e_shoff = 32, .e_phentsize = 42,
    .e_phnum = 44, .e_shentsize = 46, .e_shnum = 48, .e_shstrndx = 50,
    .phdr = 32, .p_type = 0, .p_offset = 4, .p_vaddr = 8, .p_paddr = 12, .p_filesz = 16,
    .p_memsz = 20,
    .shdr = 40, .sh_name = 0, .sh_type = 4, .sh_flags = 8, .sh_addr = 12, .sh_offset = 16,
    .sh_size = 20, .sh_link = 24, .sh_info = 28, .sh_entsize = 36,
    .sym = 16, .st_name = 0, .st_value = 4, .st_size = 8, .st_info = 12, .st_shndx = 14};
constexpr layout elf64{
    .ehdr = 64, .word = 8, .e_entry = 24, .e_phoff = 32, .e_shoff = 40, .e_phentsize = 54,
    .e_phnum = 56, .e_shentsize = 58, .e_shnum = 60, .e_shstrndx = 62,
    .phdr = 56, .p_type = 0, .p_offset = 8, .p_vaddr = 16, .p_paddr = 24, .p_filesz = 32,
    .p_memsz = 40,
    .shdr = 64, .sh_name = 0, .sh_type = 4, .sh_flags = 8, .sh_addr = 16, .sh_offset = 24,
    .sh_size = 32, .sh_link = 40, .sh_info = 44, .sh_entsize = 56,
    .sym = 24, .st_name = 0, .st_value = 8, .st_size = 16, .st_info = 4, .st_shndx = 6};

constexpr std::size_t ident_size = 16;
constexpr std::uint32_t pt_load = 1;
constexpr std::uint32_t sht_nobits = 8;
constexpr std::uint64_t shf_alloc = 2;
constexpr std::uint64_t pn_xnum = 0xFFFF;  // program header count held in section 0's sh_info
constexpr std::uint64_t shn_xindex = 0xFFFF;  // string table index held in section 0's sh_link
constexpr std::uint32_t sht_symtab = 2, sht_dynsym = 11;
constexpr std::uint64_t em_arm = 40;
constexpr unsigned char stt_func = 2, stt_section = 3, stt_file = 4;

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

// The NUL-ended names at the offsets `at` of table t, raw; empty where t holds none. Taken in
// order of offset, a name that starts at or before the NUL the one before it ended at ends
// there too, so the table is scanned once, however many names share its bytes.
std::vector<std::string_view> names_at(const reader& r, const names& t,
                                       const std::vector<std::uint64_t>& at)
{
    std::vector<std::size_t> order(at.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return at[a] < at[b]; });
    *r.work += order.size() * static_cast<std::uint64_t>(std::bit_width(order.size()));
    std::vector<std::string_view> out(at.size());
    const char* base = reinterpret_cast<const char*>(r.file.data()) + t.off;
    std::uint64_t end = 0;  // the NUL the last scan found, or t.size
    bool scanned = false;
    for (const std::size_t k : order) {
        const std::uint64_t o = at[k];
        if (o >= t.size)
            break;
        if (!scanned || o > end) {
            const void* z = std::memchr(base + o, 0, static_cast<std::size_t>(t.size - o));
            end = z ? static_cast<std::uint64_t>(static_cast<const char*>(z) - base) : t.size;
            *r.work += end - o + 1;
            scanned = true;
        }
        if (end < t.size)
            out[k] = {base + o, static_cast<std::size_t>(end - o)};
    }
    return out;
}

constexpr std::uint64_t no_segment = ~std::uint64_t{0};

// Every section header with its raw name, and where each loadable one goes (held: the
// segment that holds it, or no_segment). The first loadable section whose bytes cannot be
// placed stops the read before the names are looked at.
elf_error read_sections(const reader& r, const layout& l, const table& sh, const program& prog,
                        std::vector<elf_section>& out, std::vector<std::uint64_t>& held)
{
    const segment_finder segs(prog.loads);
    std::vector<std::uint64_t> name_at;
    out.reserve(static_cast<std::size_t>(sh.count));
    held.assign(static_cast<std::size_t>(sh.count), no_segment);
    for (std::uint64_t k = 0; k < sh.count; ++k) {
        const std::uint64_t e = sh.entry(k);
        elf_section s{.index = k,
                      .type = static_cast<std::uint32_t>(r.at(e + l.sh_type, 4)),
                      .flags = r.at(e + l.sh_flags, l.word),
                      .addr = r.at(e + l.sh_addr, l.word),
                      .offset = r.at(e + l.sh_offset, l.word),
                      .size = r.at(e + l.sh_size, l.word)};
        s.load = s.addr;
        name_at.push_back(r.at(e + l.sh_name, 4));
        if (loadable(s)) {
            const segment_at* seg = !prog.run_addresses && r.holds(s.offset, s.size)
                                        ? segs.holding(s.offset, s.size, *r.work)
                                        : nullptr;
            if (seg) {
                s.load = seg->paddr + (s.offset - seg->offset);
                held[static_cast<std::size_t>(k)] = seg->index;
            }
            if (elf_error f = check_piece(r, "section", k, s.offset, s.size, s.load);
                f.f != elf_fault::none)
                return f;
        }
        out.push_back(s);
    }
    const std::vector<std::string_view> n = names_at(r, name_table(r, l, sh), name_at);
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k].name = n[k];
    return {};
}

// The loadable sections that args keeps, as pieces.
void place(const reader& r, const program& prog, const elf_args& args,
           std::vector<elf_section>& secs, const std::vector<std::uint64_t>& held,
           std::vector<piece_at>& pieces)
{
    for (elf_section& s : secs) {
        if (!loadable(s) || (args.keep && !args.keep(s, args.with)))
            continue;
        const std::uint64_t seg = held[static_cast<std::size_t>(s.index)];
        std::string why = prog.run_addresses  ? std::string(by_run_address)
                          : seg != no_segment ? "segment " + std::to_string(seg)
                                              : "no segment: run address";
        s.placed = true;
        pieces.push_back({r.file.subspan(static_cast<std::size_t>(s.offset),
                                         static_cast<std::size_t>(s.size)),
                          s.index,
                          {shown_name(s.name, s.index), s.addr, s.load, s.offset, std::move(why)}});
    }
}

// The first section of the type, if any; section 0 is none, whatever its type says.
const elf_section* first_of(const std::vector<elf_section>& secs, std::uint32_t type)
{
    for (std::size_t k = 1; k < secs.size(); ++k)
        if (secs[k].type == type)
            return &secs[k];
    return nullptr;
}

// The symbols of .symtab, or of .dynsym where there is none.
elf_error read_symbols(const reader& r, const layout& l, const table& sh, elf_image& out)
{
    const std::vector<elf_section>& secs = out.sections;
    const elf_section* t = first_of(secs, sht_symtab);
    if (!t)
        t = first_of(secs, sht_dynsym);
    if (!t)
        return {};
    const std::uint64_t e = sh.entry(t->index);
    const std::uint64_t entsize = r.at(e + l.sh_entsize, l.word);
    if (entsize < l.sym)
        return err(elf_fault::symbol_size, "", t->index, entsize, l.sym);
    if (!r.holds(t->offset, t->size))
        return err(elf_fault::data_outside, "section", t->index, t->size, t->offset);
    const std::uint64_t link = r.at(e + l.sh_link, 4);
    if (link == 0 || link >= secs.size())
        return err(elf_fault::bad_link, "", t->index, link, secs.size());
    const elf_section& str = secs[static_cast<std::size_t>(link)];
    if (!r.holds(str.offset, str.size))
        return err(elf_fault::data_outside, "section", link, str.size, str.offset);

    // An ARM function's address has the Thumb state in bit 0; the code is at the even address.
    const bool arm = r.at(18, 2) == em_arm;
    const std::uint64_t count = t->size / entsize;
    std::vector<std::uint64_t> name_at;
    out.symtab = t->index;
    out.symbols.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t k = 1; k < count; ++k) {
        const std::uint64_t at = t->offset + k * entsize;
        const std::uint64_t info = r.at(at + l.st_info, 1);
        elf_symbol y{.value = r.at(at + l.st_value, l.word),
                     .size = r.at(at + l.st_size, l.word),
                     .section = static_cast<std::uint32_t>(r.at(at + l.st_shndx, 2)),
                     .type = static_cast<unsigned char>(info & 0xF),
                     .bind = static_cast<unsigned char>(info >> 4)};
        y.addr = arm && y.type == stt_func ? y.value & ~std::uint64_t{1} : y.value;
        name_at.push_back(r.at(at + l.st_name, 4));
        out.symbols.push_back(y);
    }
    const std::vector<std::string_view> n = names_at(r, {str.offset, str.size}, name_at);
    for (std::size_t k = 0; k < n.size(); ++k)
        out.symbols[k].name = n[k];
    return {};
}

// The orders the look-ups search: placed sections by load address, symbols by section and
// address (in table order where those are equal).
void order_for_lookups(elf_image& e)
{
    for (const elf_section& s : e.sections)
        if (s.placed)
            e.by_load.push_back(static_cast<std::size_t>(s.index));
    std::sort(e.by_load.begin(), e.by_load.end(), [&](std::size_t a, std::size_t b) {
        return e.sections[a].load < e.sections[b].load;
    });
    e.by_addr.resize(e.symbols.size());
    std::iota(e.by_addr.begin(), e.by_addr.end(), std::size_t{0});
    std::stable_sort(e.by_addr.begin(), e.by_addr.end(), [&](std::size_t a, std::size_t b) {
        const elf_symbol &x = e.symbols[a], &y = e.symbols[b];
        return x.section != y.section ? x.section < y.section : x.addr < y.addr;
    });
    for (const std::size_t n : {e.by_load.size(), e.by_addr.size()})
        e.work += n * static_cast<std::uint64_t>(std::bit_width(n));
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

std::string shown_name(std::string_view raw, std::uint64_t k)
{
    constexpr std::size_t longest = 64;
    if (raw.empty())
        return "section " + std::to_string(k);
    std::string s;
    for (const char ch : raw.substr(0, longest)) {
        const auto c = static_cast<unsigned char>(ch);
        s += c >= 0x20 && c < 0x7F ? ch : '?';
    }
    return s;
}

bool loadable(const elf_section& s)
{
    return (s.flags & shf_alloc) != 0 && s.type != sht_nobits && s.size > 0;
}

bool names_a_place(const elf_symbol& s)
{
    const std::string_view n = s.name;
    const bool mapping = n.size() >= 2 && n[0] == '$' &&
                         (n[1] == 'a' || n[1] == 't' || n[1] == 'd') &&
                         (n.size() == 2 || n[2] == '.');
    return s.type != stt_section && s.type != stt_file && !mapping;
}

bool is_elf(std::span<const unsigned char> file)
{
    return file.size() >= 4 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' &&
           file[3] == 'F';
}

elf_image read_elf(const elf_args& args)
{
    const std::span<const unsigned char> file = args.file;
    elf_image r;
    image& img = r.img;
    auto fail = [&](elf_error e) {
        img.parts.clear();
        r.sections.clear();
        r.symbols.clear();
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
    if (sh.count > 0) {
        std::vector<std::uint64_t> held;
        if (elf_error e = read_sections(rd, l, sh, prog, r.sections, held); e.f != elf_fault::none)
            return fail(e);
        place(rd, prog, args, r.sections, held, pieces);
        r.symbol_error = read_symbols(rd, l, sh, r);
        if (r.symbol_error.f != elf_fault::none)
            r.symbols.clear();
    }
    if (pieces.empty())
        return fail(err(elf_fault::nothing));
    if (elf_error e = join(pieces, sh.count > 0 ? "section" : "segment", img); e.f != elf_fault::none)
        return fail(e);
    order_for_lookups(r);
    return r;
}

std::vector<const elf_symbol*> symbols_named(const elf_image& e, std::string_view name)
{
    std::vector<const elf_symbol*> found;
    for (const elf_symbol& s : e.symbols)
        if (s.name == name)
            found.push_back(&s);
    return found;
}

const elf_section* section_holding(const elf_image& e, std::uint64_t addr)
{
    const auto it = std::upper_bound(
        e.by_load.begin(), e.by_load.end(), addr,
        [&](std::uint64_t a, std::size_t k) { return a < e.sections[k].load; });
    if (it == e.by_load.begin())
        return nullptr;
    const elf_section& s = e.sections[*(it - 1)];
    return addr - s.load < s.size ? &s : nullptr;
}

const elf_symbol* symbol_holding(const elf_image& e, std::uint64_t addr)
{
    const elf_section* sec = section_holding(e, addr);
    if (!sec)
        return nullptr;
    const std::uint64_t run = sec->addr + (addr - sec->load);
    auto it = std::upper_bound(e.by_addr.begin(), e.by_addr.end(), run,
                               [&](std::uint64_t a, std::size_t k) {
                                   const elf_symbol& s = e.symbols[k];
                                   return s.section != sec->index ? sec->index < s.section
                                                                  : a < s.addr;
                               });
    // Of the symbols at the nearest address, one whose size reaches the byte names it better
    // than a label there.
    const elf_symbol* label = nullptr;
    while (it != e.by_addr.begin()) {
        const elf_symbol& s = e.symbols[*--it];
        if (s.section != sec->index || (label && s.addr != label->addr))
            break;
        if (!names_a_place(s) || (s.size > 0 && run - s.addr >= s.size))
            continue;
        if (s.size > 0)
            return &s;
        label = label ? label : &s;
    }
    return label;
}

const elf_section* section_of(const elf_image& e, const elf_symbol& s)
{
    if (s.section == shn_undef || s.section >= shn_loreserve || s.section >= e.sections.size())
        return nullptr;
    return &e.sections[s.section];
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
    case elf_fault::symbol_size:
        return "symbol table section " + std::to_string(e.a) + " entry size " +
               std::to_string(e.b) + " is smaller than " + std::to_string(e.c);
    case elf_fault::bad_link:
        return "symbol table section " + std::to_string(e.a) + " links to section " +
               std::to_string(e.b) + " of " + std::to_string(e.c);
    }
    return {};
}

std::string elf_message(std::string_view infile, const elf_error& e)
{
    return "Bad ELF image " + std::string(infile) + ": " + elf_what(e) + "\n";
}
}  // namespace zb
