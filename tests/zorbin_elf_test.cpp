// zorbin on ELF input: recognition, the load-address rule, the multi-block layout of every
// format, -base, limits, hostile headers, and real linker output read back by srec_cat and
// compared with objcopy's S-records.
#include "formats/formats.h"
#include "read/elf.h"
#include "harness.h"

#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using th::lines;

// An ELF file under construction: header, program headers after it, the contents from data_at
// on, section headers (after a null entry) at the end.
struct elf_maker {
    bool wide = false, big = false;
    bool section_headers = true;
    struct section {
        std::uint32_t type;
        std::uint64_t flags, addr, offset, size;
        std::uint32_t name = 0, link = 0;  // sh_name, sh_link
        std::uint64_t entsize = 0;
    };
    struct segment {
        std::uint64_t offset, paddr, filesz, vaddr;
    };
    std::vector<section> sections;
    std::vector<segment> segments;
    std::string data;
    std::uint16_t shstrndx = 0;
    static constexpr std::uint64_t data_at = 0x200;

    std::uint64_t put(std::string_view b)
    {
        const std::uint64_t off = data_at + data.size();
        data += b;
        return off;
    }
    // A section of these bytes with this address (SHF_ALLOC, SHT_PROGBITS unless told).
    std::uint64_t section_at(std::uint64_t addr, std::string_view b, std::uint32_t type = 1,
                             std::uint64_t flags = 2)
    {
        const std::uint64_t off = put(b);
        sections.push_back({type, flags, addr, off, b.size()});
        return off;
    }
    void load(std::uint64_t offset, std::uint64_t filesz, std::uint64_t paddr)
    {
        segments.push_back({offset, paddr, filesz, paddr});
    }
    // A segment that runs at vaddr and is stored at paddr.
    void load_at(std::uint64_t offset, std::uint64_t filesz, std::uint64_t paddr,
                 std::uint64_t vaddr)
    {
        segments.push_back({offset, paddr, filesz, vaddr});
    }

    std::size_t ehdr() const { return wide ? 64 : 52; }
    std::size_t word() const { return wide ? 8 : 4; }
    // Offsets of e_phoff, e_shoff, e_phentsize (phnum, shentsize and shnum follow it).
    std::size_t e_phoff() const { return wide ? 32 : 28; }
    std::size_t e_shoff() const { return wide ? 40 : 32; }
    std::size_t e_phentsize() const { return wide ? 54 : 42; }

    // A symbol table entry.
    std::string symbol(std::uint32_t name, std::uint64_t value, std::uint64_t size,
                       unsigned char info, std::uint16_t shndx) const
    {
        std::string e;
        set(e, 0, 4, name);
        set(e, wide ? 8 : 4, word(), value);
        set(e, wide ? 16 : 8, word(), size);
        set(e, wide ? 4 : 12, 1, info);
        set(e, wide ? 6 : 14, 2, shndx);
        e.resize(wide ? 24 : 16, '\0');
        return e;
    }

    void set(std::string& f, std::uint64_t off, std::size_t n, std::uint64_t v) const
    {
        if (f.size() < off + n)
            f.resize(off + n, '\0');
        for (std::size_t k = 0; k < n; ++k)
            f[off + (big ? n - 1 - k : k)] = static_cast<char>(v >> (8 * k));
    }

    std::string bytes() const
    {
        std::string f(data_at, '\0');
        f += data;
        f.replace(0, 7, std::string("\x7F" "ELF") + char(wide ? 2 : 1) + char(big ? 2 : 1) + '\1');
        set(f, 16, 2, 2);   // ET_EXEC
        set(f, 18, 2, 40);  // EM_ARM
        set(f, 20, 4, 1);
        const std::size_t w = word(), ph = wide ? 56 : 32, sh = wide ? 64 : 40;
        set(f, e_phentsize() - 2, 2, ehdr());
        set(f, e_phentsize(), 2, ph);
        set(f, e_phentsize() + 4, 2, sh);
        if (!segments.empty()) {
            set(f, e_phoff(), w, ehdr());
            set(f, e_phentsize() + 2, 2, segments.size());
        }
        for (std::size_t k = 0; k < segments.size(); ++k) {
            const std::uint64_t e = ehdr() + k * ph;
            const segment& s = segments[k];
            set(f, e, 4, 1);  // PT_LOAD
            set(f, e + (wide ? 8 : 4), w, s.offset);
            set(f, e + (wide ? 16 : 8), w, s.vaddr);
            set(f, e + (wide ? 24 : 12), w, s.paddr);
            set(f, e + (wide ? 32 : 16), w, s.filesz);
            set(f, e + (wide ? 40 : 20), w, s.filesz);
        }
        if (!section_headers)
            return f;
        const std::uint64_t shoff = f.size();
        set(f, e_shoff(), w, shoff);
        set(f, e_phentsize() + 6, 2, sections.size() + 1);
        set(f, e_phentsize() + 8, 2, shstrndx);
        f.resize(shoff + sh, '\0');  // the null section
        for (const section& s : sections) {
            const std::uint64_t e = f.size();
            set(f, e, 4, s.name);
            set(f, e + (wide ? 40 : 24), 4, s.link);
            set(f, e + (wide ? 56 : 36), w, s.entsize);
            set(f, e + 4, 4, s.type);
            set(f, e + 8, w, s.flags);
            set(f, e + (wide ? 16 : 12), w, s.addr);
            set(f, e + (wide ? 24 : 16), w, s.offset);
            set(f, e + (wide ? 32 : 20), w, s.size);
            f.resize(e + sh, '\0');
        }
        return f;
    }
};

elf_maker make(bool wide, bool big = false)
{
    elf_maker m;
    m.wide = wide;
    m.big = big;
    return m;
}

// Two blocks: 01 02 03 04 05 at 0x100, from two sections that touch (listed the wrong way
// round), and 0A 0B 0C at 0x120; .bss and a section that is not loaded are left out.
elf_maker two_blocks(bool wide, bool big)
{
    elf_maker m = make(wide, big);
    m.section_at(0x103, "\x04\x05");
    m.section_at(0x100, "\x01\x02\x03");
    m.section_at(0x200, std::string(0x40, '\0'), 8);  // SHT_NOBITS
    m.section_at(0, "not loaded", 1, 0);
    m.section_at(0x120, "\x0A\x0B\x0C");
    return m;
}

const char* shape(bool wide, bool big)
{
    return wide ? (big ? "ELF64 big-endian" : "ELF64 little-endian")
                : (big ? "ELF32 big-endian" : "ELF32 little-endian");
}

class zorbin_elf : public th::tmpdir {
protected:
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }
};

TEST_F(zorbin_elf, two_blocks_in_one_output_per_format)
{
    const std::string ff11(22, 'F'), ff16(32, 'F');
    const std::pair<const char*, std::string> cases[] = {
        {"intel32", lines({":020000040000FA", ":050100000102030405EB", ":020000040000FA",
                           ":030120000A0B0CBB", ":00000001FF"})},
        {"mcs86", lines({":020000020000FC", ":050100000102030405EB", ":020000020000FC",
                         ":030120000A0B0CBB", ":00000001FF"})},
        {"mostech", lines({";05010001020304050015", ";0301200A0B0C0045", ";0000020002"})},
        {"cosmac", lines({"!M0100 ,", "0102030405" + ff11 + ",", ff16 + ",", "0A0B0C"})},
        {"fairbug", lines({"S0100", "X0102030405FFFFFF9", "XFFFFFFFFFFFFFFFF0", "XFFFFFFFFFFFFFFFF0",
                           "XFFFFFFFFFFFFFFFF0", "X0A0B0CFFFFFFFFFF7", "*"})},
        {"sdsmac", lines({"000237494D472E454C4680475F", "90100B0102B0304B05FF8FB8DF",
                          "90120B0A0BB0CFF8FC66F", ":"})},
        {"motorola32", lines({"S30A000001000102030405E5", "S30800000120" "0A0B0CB5",
                              "S70500000000FA"})},
    };
    for (bool wide : {false, true}) {
        for (bool big : {false, true}) {
            th::write_file(path("img.elf"), two_blocks(wide, big).bytes());
            for (const auto& [format, expected] : cases) {
                SCOPED_TRACE(std::string(format) + ", " + shape(wide, big));
                auto r = zorbin({std::string("-") + format, "img.elf"});
                EXPECT_EQ(r.out, expected);
                EXPECT_EQ(r.err, "");  // no "not an AIF image" warning
                EXPECT_EQ(r.status, 0);
            }
        }
    }
}

// The same image with -base: it moves whole, the blocks keep their distance.
TEST_F(zorbin_elf, base_moves_the_whole_image)
{
    elf_maker moved{};
    moved.section_at(0x8003, "\x04\x05");
    moved.section_at(0x8000, "\x01\x02\x03");
    moved.section_at(0x8020, "\x0A\x0B\x0C");
    th::write_file(path("moved.elf"), moved.bytes());
    th::write_file(path("img.elf"), two_blocks(true, false).bytes());
    for (const char* format : {"-intel32", "-mostech", "-cosmac", "-sdsmac", "-ihf"}) {
        SCOPED_TRACE(format);
        auto want = zorbin({format, "moved.elf"});
        auto got = zorbin({format, "-base", "0x8000", "img.elf"});
        EXPECT_EQ(want.status, 0);
        EXPECT_EQ(got.status, 0);
        // sdsmac's start record names the input file; all else must agree.
        EXPECT_EQ(got.out.substr(got.out.find('\n')), want.out.substr(want.out.find('\n')));
    }
}

// Where each section lands: inside a PT_LOAD segment's file range at p_paddr plus its offset
// in the segment, else at its own address; without section headers, the segments themselves.
TEST_F(zorbin_elf, load_addresses)
{
    struct load_case {
        const char* what;
        elf_maker m;
        std::string s3;  // motorola32 records, without the end record
    };
    std::vector<load_case> cases;
    for (bool wide : {false, true}) {
        elf_maker m = make(wide);
        const std::uint64_t text = m.section_at(0x08000000, "\x11\x22");
        m.section_at(0x20000000, "\x33\x44");  // .data, run in RAM, stored after .text
        m.load(text, 4, 0x08000000);
        cases.push_back({"a RAM section inside a flash segment: its flash address", m,
                         lines({"S309080000001122334444"})});
        m = make(wide);
        const std::uint64_t a = m.section_at(0x1000, "\x11\x22");
        m.section_at(0x2000, "\x33\x44");
        m.load(a, 3, 0x9000);  // holds the first section and half the second
        cases.push_back({"a section only half inside a segment: its own address", m,
                         lines({"S30700002000334461", "S30700009000112235"})});
        m = make(wide);
        m.section_headers = false;
        const std::uint64_t seg = m.put("\x55\x66\x77");
        m.load(seg, 2, 0x4000);  // p_filesz 2: the third byte is not the segment's
        m.load(seg + 2, 0, 0x5000);  // nothing in the file: nothing written
        cases.push_back({"no section headers: the PT_LOAD segments", m,
                         lines({"S307000040005566FD"})});
        m = make(wide);
        const std::uint64_t b = m.section_at(0x1000, "\x11\x22");
        m.load(b, 2, 0x9000);
        m.put("pad");
        m.section_at(0x3000, "\x33\x44");  // its bytes lie past the segment's end
        cases.push_back({"a section that starts past a segment's end: its own address", m,
                         lines({"S30700003000334451", "S30700009000112235"})});
        m = make(wide);
        const std::uint64_t c = m.section_at(0x1000, "\x11\x22");
        m.load(c, 0x10000, 0x9000);  // p_filesz runs past the end of the file
        cases.push_back({"a segment past the end of the file holds its sections", m,
                         lines({"S30700009000112235"})});
        m = make(wide);
        const std::uint64_t d = m.section_at(0x1000, "\x11\x22");
        const std::uint64_t e = m.section_at(0x2000, "\x33\x44");
        m.load_at(d, 2, 0, 0x1000);
        m.load_at(e, 2, 0, 0x2000);
        cases.push_back({"every p_paddr 0, two segments: run addresses", m,
                         lines({"S307000010001122B5", "S30700002000334461"})});
        m.segments.pop_back();
        cases.push_back({"one segment with p_paddr 0: its load address 0", m,
                         lines({"S307000000001122C5", "S30700002000334461"})});
        m.section_headers = false;
        m.load_at(e, 2, 0, 0x2000);
        cases.push_back({"no section headers, every p_paddr 0: run addresses", m,
                         lines({"S307000010001122B5", "S30700002000334461"})});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + shape(c.m.wide, false));
        th::write_file(path("img.elf"), c.m.bytes());
        auto r = zorbin({"-motorola32", "img.elf"});
        EXPECT_EQ(r.out, c.s3 + "S70500000000FA\r\n");
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(zorbin_elf, recognition)
{
    const std::string elf = two_blocks(false, false).bytes();
    th::write_file(path("img.elf"), elf);
    th::write_file(path("img.bin"), elf);
    // -bin takes the file as it is.
    auto r = zorbin({"-motorola32", "-bin", "img.elf"});
    auto plain = zorbin({"-motorola32", "-bin", "img.bin"});
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with("S315000000007F454C46")) << r.out.substr(0, 40);

    // The AIF marker is looked for first: an AIF image that happens to begin 7F 45 4C 46.
    std::string aif(128, '\0');
    aif.replace(0, 4, "\x7F" "ELF");
    aif.replace(0x10, 4, "\x11\x00\x00\xEF", 4);
    aif.replace(0x14, 4, "\x02\x00\x00\x00", 4);  // read-only size 2
    aif.replace(0x28, 4, "\x00\x80\x00\x00", 4);  // base 0x8000
    aif += "\xAB\xCD";
    th::write_file(path("img.aif"), aif);
    r = zorbin({"-motorola32", "img.aif"});
    EXPECT_EQ(r.out, lines({"S30700008000ABCD00", "S70500000000FA"}));
    EXPECT_EQ(r.status, 0);

    // Three bytes of the magic are no ELF file: a plain binary, with the warning.
    th::write_file(path("short.bin"), "\x7F" "EL");
    r = zorbin({"-motorola32", "short.bin"});
    EXPECT_EQ(r.err, "warning: not an AIF image, plain binary assumed\r\n");
    EXPECT_EQ(r.status, 0);
}

// A broken or hostile file: "Bad ELF image IN: <what>", exit 1, no output file made and an
// old one untouched.
struct bad_case {
    std::string what;
    std::string file;
};

std::vector<bad_case> bad_cases(bool wide, bool big)
{
    std::vector<bad_case> cases;
    const elf_maker base = two_blocks(wide, big);
    const std::string good = base.bytes();
    const std::string eh = std::to_string(base.ehdr());
    auto patched = [&](std::uint64_t off, std::size_t n, std::uint64_t v) {
        std::string f = good;
        base.set(f, off, n, v);
        return f;
    };
    const std::uint64_t shoff = good.size() - 6 * (wide ? 64 : 40);
    const std::uint64_t sh1 = shoff + (wide ? 64 : 40);  // first real section header
    const std::size_t w = base.word();
    auto at = [&](std::uint64_t off) { return sh1 + off; };
    cases.push_back({"file ends inside the 16-byte identification", good.substr(0, 15)});
    cases.push_back({"file ends inside the " + eh + "-byte header", good.substr(0, base.ehdr() - 1)});
    cases.push_back({"unknown class 3", patched(4, 1, 3)});
    cases.push_back({"unknown class 0", patched(4, 1, 0)});
    cases.push_back({"unknown byte order 0", patched(5, 1, 0)});
    cases.push_back({"unknown version 2", patched(6, 1, 2)});
    char buf[160];
    std::snprintf(buf, sizeof buf, "section headers (6 of %d bytes at 0x%llX) lie outside the file",
                  wide ? 64 : 40, static_cast<unsigned long long>(shoff));
    cases.push_back({buf, good.substr(0, good.size() - 1)});
    std::snprintf(buf, sizeof buf, "section headers (65535 of %d bytes at 0x%llX) lie outside the file",
                  wide ? 64 : 40, static_cast<unsigned long long>(shoff));
    cases.push_back({buf, patched(base.e_phentsize() + 6, 2, 0xFFFF)});
    cases.push_back({std::string("section header size 20 is smaller than ") + (wide ? "64" : "40"),
                     patched(base.e_phentsize() + 4, 2, 20)});
    {
        std::string f = patched(base.e_phoff(), w, good.size() - 8);
        base.set(f, base.e_phentsize() + 2, 2, 1);
        std::snprintf(buf, sizeof buf, "program headers (1 of %d bytes at 0x%llX) lie outside the file",
                      wide ? 56 : 32, static_cast<unsigned long long>(good.size() - 8));
        cases.push_back({buf, f});
        base.set(f, base.e_phentsize(), 2, 8);
        cases.push_back({std::string("program header size 8 is smaller than ") + (wide ? "56" : "32"), f});
    }
    // Section 1 (04 05 at 0x103): its data moved, grown, or its address pushed to the top.
    std::snprintf(buf, sizeof buf, "section 1 data (0x2 bytes at 0x%llX) lies outside the file",
                  static_cast<unsigned long long>(good.size() - 1));
    cases.push_back({buf, patched(at(wide ? 24 : 16), w, good.size() - 1)});
    cases.push_back({wide ? "section 1 data (0x100000000 bytes at 0x200) lies outside the file"
                          : "section 1 data (0xFFFFFFFF bytes at 0x200) lies outside the file",
                     patched(at(wide ? 32 : 20), w, wide ? 0x100000000 : 0xFFFFFFFF)});
    if (wide)
        cases.push_back({"section 1 at load address 0xFFFFFFFFFFFFFFFF with 0x2 bytes runs past 64 bits",
                         patched(at(16), 8, ~std::uint64_t{0})});
    const std::uint64_t addr1 = at(wide ? 16 : 12);
    cases.push_back({"sections 2 and 1 overlap at load address 0x102", patched(addr1, w, 0x102)});
    cases.push_back({"sections 1 and 2 overlap at load address 0x100", patched(addr1, w, 0x100)});
    {
        elf_maker m = make(wide, big);
        m.section_at(0x200, std::string(0x40, '\0'), 8);
        m.section_at(0, "symbols", 2, 0);
        m.section_at(0x300, "", 1, 2);  // empty
        cases.push_back({"no loadable contents", m.bytes()});
        m = make(wide, big);
        m.section_headers = false;
        cases.push_back({"no loadable contents", m.bytes()});
        const std::uint64_t off = m.put("\x01\x02\x03\x04");
        m.load(off, 4, 0x100);
        m.load(off + 2, 2, 0x103);
        cases.push_back({"segments 0 and 1 overlap at load address 0x103", m.bytes()});
        m.segments.pop_back();
        m.load(off, 0x10, 0x200);
        std::snprintf(buf, sizeof buf, "segment 1 data (0x10 bytes at 0x%llX) lies outside the file",
                      static_cast<unsigned long long>(off));
        cases.push_back({buf, m.bytes()});
    }
    return cases;
}

TEST_F(zorbin_elf, broken_files_stop_with_a_message_and_write_nothing)
{
    for (bool wide : {false, true}) {
        for (bool big : {false, true}) {
            for (const auto& c : bad_cases(wide, big)) {
                SCOPED_TRACE(c.what + ", " + shape(wide, big));
                th::write_file(path("img.elf"), c.file);
                fs::remove(path("new.hex"));
                th::write_file(path("old.hex"), "old\n");
                for (const char* out : {"new.hex", "old.hex"}) {
                    auto r = zorbin({"-intel32", "img.elf", out});
                    EXPECT_EQ(r.out, "Bad ELF image img.elf: " + c.what + "\r\n");
                    EXPECT_EQ(r.err, "");
                    EXPECT_EQ(r.status, 1);
                }
                EXPECT_FALSE(fs::exists(path("new.hex")));
                EXPECT_EQ(th::read_file(path("old.hex")), "old\n");
            }
        }
    }
}

// The limit of the format, checked for every block after -base and before a byte is written.
TEST_F(zorbin_elf, every_block_within_the_limit)
{
    struct limit_case {
        const char* what;
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    elf_maker high = make(true);
    high.section_at(0x100, "\x01");
    high.section_at(0x100000000, "\x02");  // past 4 GiB: a limit, not a broken file
    th::write_file(path("high.elf"), high.bytes());
    std::string far = high.bytes();
    far[24 + 4] = '\1';  // e_entry 0x100000000, past every end record's field as well
    th::write_file(path("far.elf"), far);
    elf_maker wide16{};
    wide16.section_at(0x100, "\x01");
    wide16.section_at(0xFFFF, "\x02");  // ends at 0x10000
    th::write_file(path("wide16.elf"), wide16.bytes());
    const std::string max32 = "Base and/or size too big for this format, max = 0xFFFFFFFF\r\n";
    const std::string max16 = "Base and/or size too big for this format, max = 0xFFFF\r\n";
    const limit_case cases[] = {
        {"ELF64 address past 4 GiB", {"-motorola32", "high.elf", "out.hex"}, max32, 1},
        {"and its entry point too", {"-motorola32", "far.elf", "out.hex"}, max32, 1},
        {"-base keeps the distance, so 0x200 pushes it past",
         {"-intel32", "-base", "0x200", "high.elf", "out.hex"}, max32, 1},
        {"second block ends one past 0xFFFF", {"-mds", "wide16.elf", "out.hex"}, max16, 1},
        {"gap-filled image too", {"-cosmac", "wide16.elf", "out.hex"}, max16, 1},
        {"-base 0 fits it", {"-mds", "-base", "0", "wide16.elf", "out.hex"}, "", 0},
        {"-base 0x101 does not", {"-fairbug", "-base", "0x101", "wide16.elf", "out.hex"}, max16, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        th::write_file(path("out.hex"), "old\n");
        auto r = zorbin(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        if (c.status != 0)
            EXPECT_EQ(th::read_file(path("out.hex")), "old\n");
        else
            EXPECT_EQ(th::read_file(path("out.hex")),
                      lines({":0100000001FE", ":01FEFF000200", ":00000001FF"}));
    }
}

// The reader alone on every cut of a two-block file and every value of each header byte: it
// fails or gives pieces inside the buffer, and never reads past it (ASan watches).
TEST(zorbin_elf_reader, untrusted_bytes_stay_inside_the_buffer)
{
    auto read = [](const std::string& bytes) {
        std::vector<unsigned char> file(bytes.begin(), bytes.end());
        const std::span<const unsigned char> f(file);
        const zb::elf_image img = zb::read_elf({.file = f});
        // A read that succeeds keeps the header's promise: ascending blocks, none empty, none
        // touching or overlapping the next, every piece a window on the file.
        const std::vector<zb::block> blocks = zb::blocks_of(img.img);
        for (std::size_t k = 0; k < blocks.size(); ++k) {
            EXPECT_GT(blocks[k].size(), 0u);
            if (k > 0) {
                EXPECT_GT(blocks[k].base, blocks[k - 1].base + blocks[k - 1].size());
            }
        }
        for (const auto& p : img.img.parts)
            EXPECT_TRUE(p.data.data() >= f.data() &&
                        p.data.data() + p.data.size() <= f.data() + f.size());
    };
    for (bool wide : {false, true}) {
        for (bool big : {false, true}) {
            elf_maker m = two_blocks(wide, big);
            m.load(m.sections[1].offset, 5, 0x9000);
            const std::string good = m.bytes();
            for (std::size_t n = 0; n <= good.size(); ++n)
                read(good.substr(0, n));
            std::vector<std::size_t> offsets;
            for (std::size_t k = 0; k < m.ehdr() + 2 * (wide ? 56 : 32); ++k)
                offsets.push_back(k);
            for (std::size_t k = good.size() - 3 * (wide ? 64 : 40); k < good.size(); ++k)
                offsets.push_back(k);
            for (std::size_t off : offsets) {
                for (int v : {0x00, 0x01, 0x02, 0x7F, 0x80, 0xFE, 0xFF}) {
                    std::string b = good;
                    b[off] = static_cast<char>(v);
                    read(b);
                }
            }
        }
    }
}

// One loadable section, .text (4 bytes at 0x1000), then a symbol table of these entries, its
// string table and the section names: sections 1 to 4.
elf_maker with_symbols(bool wide, bool big, const std::string& strtab,
                       const std::vector<std::string>& symbols)
{
    elf_maker m = make(wide, big);
    m.section_at(0x1000, "\x01\x02\x03\x04");
    std::string table(wide ? 24 : 16, '\0');  // the null symbol
    for (const std::string& e : symbols)
        table += e;
    m.section_at(0, table, 2, 0);
    m.section_at(0, strtab, 3, 0);
    m.section_at(0, std::string("\0.text\0.symtab\0.strtab\0.shstrtab\0", 33), 3, 0);
    m.sections[0].name = 1;
    m.sections[1].name = 7;
    m.sections[1].link = 3;
    m.sections[1].entsize = wide ? 24 : 16;
    m.sections[2].name = 15;
    m.sections[3].name = 23;
    m.shstrndx = 4;
    return m;
}

zb::elf_image read_elf_of(const std::string& f, const zb::elf_args& a = {})
{
    zb::elf_args args = a;
    args.file = {reinterpret_cast<const unsigned char*>(f.data()), f.size()};
    return zb::read_elf(args);
}

// Raw names, every field of a symbol, and the look-ups, in either class and byte order.
TEST(zorbin_elf_reader, sections_and_symbols_as_the_file_has_them)
{
    for (bool wide : {false, true}) {
        for (bool big : {false, true}) {
            SCOPED_TRACE(shape(wide, big));
            const elf_maker base = make(wide, big);
            const std::string str("\0reset\0data\0dup\0abs\0\x01x\0", 24);
            const std::string f = with_symbols(wide, big, str, {
                base.symbol(1, 0x1001, 2, 0x12, 1),        // FUNC GLOBAL, Thumb code at 0x1000
                base.symbol(7, 0x1002, 2, 0x01, 1),        // OBJECT LOCAL
                base.symbol(12, 0x1000, 0, 0x00, 1),       // dup, twice
                base.symbol(12, 0x1003, 0, 0x20, 1),       // WEAK
                base.symbol(16, 0x1234, 0, 0x10, 0xFFF1),  // absolute
                base.symbol(20, 0, 0, 0x10, 0),            // undefined, a raw name
            }).bytes();
            const zb::elf_image e = read_elf_of(f);
            ASSERT_EQ(zb::elf_what(e.error), "");
            ASSERT_EQ(zb::elf_what(e.symbol_error), "");
            std::vector<std::string> got;
            for (const zb::elf_section& c : e.sections)
                got.push_back(std::string(c.name) + (c.placed ? " placed" : ""));
            EXPECT_EQ(got, (std::vector<std::string>{"", ".text placed", ".symtab", ".strtab",
                                                     ".shstrtab"}));
            EXPECT_EQ(e.symtab, 2u);
            got.clear();
            for (const zb::elf_symbol& y : e.symbols) {  // value, addr, size, type, bind, section
                char b[64];
                std::snprintf(b, sizeof b, " %llX %llX %llu %d %d %X",
                              static_cast<unsigned long long>(y.value),
                              static_cast<unsigned long long>(y.addr),
                              static_cast<unsigned long long>(y.size), y.type, y.bind, y.section);
                got.push_back(std::string(y.name) + b);
            }
            const std::vector<std::string> want{
                "reset 1001 1000 2 2 1 1", "data 1002 1002 2 1 0 1",   "dup 1000 1000 0 0 0 1",
                "dup 1003 1003 0 0 2 1",   "abs 1234 1234 0 0 1 FFF1", "\x01x 0 0 0 0 1 0"};
            EXPECT_EQ(got, want);

            const auto dup = zb::symbols_named(e, "dup");
            ASSERT_EQ(dup.size(), 2u);
            EXPECT_NE(dup[0]->addr, dup[1]->addr);
            EXPECT_TRUE(zb::symbols_named(e, "none").empty());
            EXPECT_EQ(zb::section_holding(e, 0x1003)->name, ".text");
            EXPECT_EQ(zb::section_holding(e, 0x1004), nullptr);
            EXPECT_EQ(zb::section_holding(e, 0xFFF), nullptr);
            // A sized symbol holds its bytes; past them, the nearest label.
            EXPECT_EQ(zb::symbol_holding(e, 0x1000)->name, "reset");
            EXPECT_EQ(zb::symbol_holding(e, 0x1002)->name, "data");
            EXPECT_EQ(zb::symbol_holding(e, 0x1003)->name, "dup");
            EXPECT_EQ(zb::section_of(e, e.symbols[0])->name, ".text");
            EXPECT_EQ(zb::section_of(e, e.symbols[4]), nullptr);
            EXPECT_EQ(zb::section_of(e, e.symbols[5]), nullptr);
        }
    }
}

// A broken symbol table costs the symbols, not the image: only what needs them fails.
TEST(zorbin_elf_reader, a_broken_symbol_table_leaves_the_image)
{
    for (bool wide : {false, true}) {
        const elf_maker good = with_symbols(wide, false, std::string("\0a\0", 3),
                                            {make(wide).symbol(1, 0x1000, 0, 0x10, 1)});
        const std::string ent = wide ? "24" : "16";
        struct row {
            std::string what;
            void (*patch)(elf_maker&);
        };
        const row rows[] = {
            {"symbol table section 2 entry size 8 is smaller than " + ent,
             [](elf_maker& m) { m.sections[1].entsize = 8; }},
            {"section 2 data (0x" + std::string(wide ? "30" : "20") +
                 " bytes at 0x1000000) lies outside the file",
             [](elf_maker& m) { m.sections[1].offset = 0x1000000; }},
            {"symbol table section 2 links to section 0 of 5",
             [](elf_maker& m) { m.sections[1].link = 0; }},
            {"symbol table section 2 links to section 9 of 5",
             [](elf_maker& m) { m.sections[1].link = 9; }},
            {"section 3 data (0xFFFF bytes at 0x" + std::string(wide ? "234" : "224") +
                 ") lies outside the file",
             [](elf_maker& m) { m.sections[2].size = 0xFFFF; }},
        };
        for (const row& r : rows) {
            SCOPED_TRACE(r.what);
            elf_maker m = good;
            r.patch(m);
            const zb::elf_image e = read_elf_of(m.bytes());
            ASSERT_EQ(zb::elf_what(e.error), "");
            EXPECT_EQ(zb::elf_what(e.symbol_error), r.what);
            EXPECT_TRUE(e.symbols.empty());
            EXPECT_EQ(e.img.parts.size(), 1u);
        }
        // The null section is none, whatever type it says.
        std::string f = good.bytes();
        good.set(f, elf_maker::data_at + good.data.size() + 4, 4, 2);
        const zb::elf_image e = read_elf_of(f);
        EXPECT_EQ(zb::elf_what(e.symbol_error), "");
        EXPECT_EQ(e.symbols.size(), 1u);
    }
}

// Headers that claim far more than the file holds fail; many real headers are all read. (How
// long they take is a matter for bench/, not for a test on a busy machine.)
TEST(zorbin_elf_reader, claims_cost_no_more_than_the_file)
{
    elf_maker m = make(true);
    for (int k = 0; k < 65534; ++k)
        m.sections.push_back({1, 2, 0x1000 + 0x100000000ull * k, 0x200, 0x100000000});
    std::string f = m.bytes();
    std::vector<unsigned char> file(f.begin(), f.end());
    zb::elf_image img = zb::read_elf({.file = file});
    EXPECT_EQ(zb::elf_what(img.error), "section 1 data (0x100000000 bytes at 0x200) lies outside the file");
    EXPECT_LT(img.work, 100u) << "65,534 sections claimed, the first one refused";

    // 65,534 one-byte sections, each in its own PT_LOAD segment of 65,534 (a count the
    // header gives as 0xFFFF, which sends the reader to section 0 for it): all read.
    constexpr std::uint64_t n = 65534;
    elf_maker many = make(true);
    many.data = std::string(n, '\x5A');
    for (std::uint64_t k = 0; k < n; ++k)
        many.sections.push_back({1, 2, 0, elf_maker::data_at + k, 1});
    f = many.bytes();
    const std::uint64_t phoff = f.size(), shoff = elf_maker::data_at + n;
    f.resize(phoff + n * 56, '\0');
    many.set(f, many.e_phoff(), 8, phoff);
    many.set(f, many.e_phentsize() + 2, 2, 0xFFFF);
    many.set(f, shoff + 44, 4, n);
    for (std::uint64_t k = 0; k < n; ++k) {
        const std::uint64_t e = phoff + k * 56;
        many.set(f, e, 4, 1);
        many.set(f, e + 8, 8, elf_maker::data_at + k);
        many.set(f, e + 24, 8, 0x10000 + 2 * k);
        many.set(f, e + 32, 8, 1);
    }
    file.assign(f.begin(), f.end());
    img = zb::read_elf({.file = file});
    ASSERT_EQ(zb::elf_what(img.error), "");
    // A few fields of each header and a binary search per section: about 30 steps a header,
    // where sections times segments would be 4.3 billion.
    EXPECT_LT(img.work, 40 * 2 * n);
    ASSERT_EQ(img.img.parts.size(), n);
    EXPECT_EQ(img.img.parts[1].from.load, 0x10002u);

    // 200,000 symbols and 30,000 sections, all named at offset 0 of a 1 MiB string table: a
    // name read where it starts would be 200 billion steps; the table is scanned once.
    const std::string symbol = make(true).symbol(0, 0x1000, 0, 0x10, 1);
    for (const bool nul : {false, true}) {
        std::string names(1u << 20, 'n');
        if (nul)
            names.back() = '\0';
        elf_maker hostile =
            with_symbols(true, false, names, std::vector<std::string>(200000, symbol));
        hostile.shstrndx = 3;  // the section names in the same table
        for (std::uint64_t k = 0; k < 30000; ++k)  // each loaded: its name is shown by -info
            hostile.sections.push_back({1, 2, 0x10000 + k, 0x200, 1});
        f = hostile.bytes();
        const zb::elf_image e = read_elf_of(f);
        ASSERT_EQ(zb::elf_what(e.error), "");
        ASSERT_EQ(zb::elf_what(e.symbol_error), "");
        ASSERT_EQ(e.symbols.size(), 200000u);
        ASSERT_EQ(e.sections.size(), 30005u);
        const std::string_view name =
            nul ? std::string_view(names).substr(0, names.size() - 1) : "";
        EXPECT_EQ(e.symbols.back().name, name);
        EXPECT_EQ(e.sections.back().name, name);
        EXPECT_LT(e.work, 2 * f.size()) << "about 40 steps a symbol and 20 a section, "
                                          "the table's bytes once";
    }
}

// Real linker output. Tools run through env, which finds them on PATH.
th::result tool(const std::vector<std::string>& args, const th::options& o)
{
    std::vector<std::string> argv{"env"};
    argv.insert(argv.end(), args.begin(), args.end());
    return th::run_argv("/usr/bin/env", argv, o);
}

// The sample's program (a vector table and code in flash, read-only data, initialised data
// run in RAM and stored in flash, .bss) and its linker script, which puts a configuration block
// in a second flash region past a gap; without the gap, the script drops that block.
std::string arm_script(bool gap)
{
    std::string script = th::read_file(th::sample("elf/app.ld"));
    if (!gap) {
        const std::string config = "  .config : { KEEP(*(.config)) } > FLASH2\n";
        const std::size_t at = script.find(config);
        EXPECT_NE(at, std::string::npos);
        script.replace(at, config.size(), "  /DISCARD/ : { *(.config) }\n");
    }
    return script;
}

constexpr const char* host_source = R"(
    .text
    .globl _start
_start:
    mov $60, %eax
    syscall
    .section .rodata
    .ascii "host read-only data"
    .data
    .quad 0x1122334455667788
    .bss
    .space 32
)";

// Lowest address and span of the data of an S-record file.
std::pair<std::uint64_t, std::uint64_t> extent(const std::string& srec)
{
    std::uint64_t lo = ~std::uint64_t{0}, hi = 0;
    std::istringstream in(srec);
    for (std::string l; std::getline(in, l);) {
        if (l.size() < 4 || l[0] != 'S' || l[1] < '1' || l[1] > '3')
            continue;
        const std::size_t alen = static_cast<std::size_t>(l[1] - '0') + 1;
        const std::uint64_t count = std::stoull(l.substr(2, 2), nullptr, 16);
        const std::uint64_t addr = std::stoull(l.substr(4, 2 * alen), nullptr, 16);
        lo = std::min(lo, addr);
        hi = std::max(hi, addr + count - alen - 1);
    }
    return {lo, hi - lo};
}

std::string hex(std::uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

class zorbin_elf_tools : public zorbin_elf {
protected:
    // Assembles and links src into name.elf with the given tools; its objcopy S-records go to
    // name.srec.
    void link(const std::string& name, const std::string& prefix, const std::string& src,
              const std::string& script, std::vector<std::string> flags)
    {
        th::write_file(path(name + ".s"), src);
        std::vector<std::string> as{prefix + "as"}, ld{prefix + "ld"};
        as.insert(as.end(), flags.begin(), flags.end());
        ld.insert(ld.end(), flags.begin(), flags.end());
        as.insert(as.end(), {"-o", name + ".o", name + ".s"});
        if (!script.empty()) {
            th::write_file(path(name + ".ld"), script);
            ld.insert(ld.end(), {"-T", name + ".ld"});
        }
        ld.insert(ld.end(), {"-o", name + ".elf", name + ".o"});
        const std::vector<std::string> objcopy{prefix + "objcopy", "-O", "srec", name + ".elf",
                                               name + ".srec"};
        for (const auto& cmd : {as, ld, objcopy}) {
            auto r = tool(cmd, in_dir());
            ASSERT_EQ(r.status, 0) << cmd[0] << ": " << r.err;
        }
    }

    // zorbin's output of name.elf in each format, read back by srec_cat, holds exactly the
    // memory image of objcopy's S-records: at their own addresses for the 32-bit formats,
    // moved to 0x1000 for the narrow ones, the gaps filled with FF where the format needs it.
    void read_back(const std::string& name)
    {
        struct reader {
            const char* format;
            const char* option;
            bool native;
            bool filled;
        };
        static constexpr reader readers[] = {
            {"-motorola32", "-Motorola", true, false}, {"-intel32", "-Intel", true, false},
            {"-mcs86", "-Intel", false, false},        {"-mds", "-Intel", false, false},
            {"-exorciser", "-Motorola", false, false}, {"-exormacs", "-Motorola", false, false},
            {"-mostech", "-MOS_Technologies", false, false},
            {"-tektronix", "-Tektronix", false, false}, {"-signetics", "-SIGnetics", false, false},
            {"-cosmac", "-COsmac", false, true},       {"-fairbug", "-FAIrchild", false, true},
        };
        const auto [lo, span] = extent(th::read_file(path(name + ".srec")));
        ASSERT_GT(span, 0u);
        for (const reader& r : readers) {
            SCOPED_TRACE(name + " " + r.format);
            const std::uint64_t at = r.native ? lo : 0x1000;
            std::vector<std::string> args{r.format, name + ".elf", "out.hex"};
            if (!r.native)
                args.insert(args.begin(), {"-base", hex(at)});
            auto z = zorbin(args);
            ASSERT_EQ(z.status, 0) << z.out;
            EXPECT_EQ(z.err, "");
            std::vector<std::string> back{"srec_cat", "out.hex", r.option};
            std::vector<std::string> want{"srec_cat", name + ".srec", "-Motorola"};
            if (!r.native) {
                want.insert(want.end(), {"-offset", "-" + hex(lo - at)});
            }
            if (r.filled) {
                back.insert(back.end(), {"-crop", hex(at), hex(at + span)});
                want.insert(want.end(), {"-fill", "0xFF", hex(at), hex(at + span)});
            }
            // Data only: objcopy's file carries the entry point, zorbin's none.
            back.insert(back.end(), {"-o", "back.srec", "-Data_Only"});
            want.insert(want.end(), {"-o", "want.srec", "-Data_Only"});
            for (const auto& cmd : {back, want}) {
                auto c = tool(cmd, in_dir());
                ASSERT_EQ(c.status, 0) << c.err;
            }
            auto cmp = tool({"srec_cmp", "back.srec", "want.srec"}, in_dir());
            EXPECT_EQ(cmp.status, 0) << cmp.out << cmp.err;
        }
    }
};

TEST_F(zorbin_elf_tools, arm_images_hold_what_objcopy_writes)
{
    for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy",
                          "srec_cat", "srec_cmp"})
        REQUIRE_TOOL(t);
    const std::pair<const char*, std::vector<std::string>> images[] = {
        {"little", {}},
        {"big", {"-EB"}},
    };
    for (const auto& [name, flags] : images) {
        SCOPED_TRACE(name);
        link(name, "arm-none-eabi-", th::read_file(th::sample("elf/app.s")), arm_script(true), flags);
        read_back(name);
        // Two blocks: flash from 0x08000000 (vectors, code, read-only data, then .data's
        // initial values), and the configuration at 0x08000800; .bss nowhere.
        auto r = zorbin({"-intel32", std::string(name) + ".elf"});
        EXPECT_EQ(r.out.find(":020000040800F2\r\n"), 0u);
        EXPECT_NE(r.out.find("\r\n:020000040800F2\r\n:08080000"), std::string::npos) << r.out;
    }
    // The bundled sample, as make demo converts it.
    fs::copy_file(th::sample("app.elf"), path("sample.elf"));
    auto r = tool({"arm-none-eabi-objcopy", "-O", "srec", "sample.elf", "sample.srec"}, in_dir());
    ASSERT_EQ(r.status, 0) << r.err;
    read_back("sample");
}

TEST_F(zorbin_elf_tools, host_elf64_holds_what_objcopy_writes)
{
    for (const char* t : {"as", "ld", "objcopy", "srec_cat", "srec_cmp"})
        REQUIRE_TOOL(t);
    link("host", "", host_source, "", {});
    ASSERT_EQ(th::read_file(path("host.elf")).substr(4, 1), "\x02");  // ELF64
    read_back("host");
}

// A contiguous image is the same output as its objcopy -O binary bytes with -bin at its lowest
// address (or both moved to 0x100 for the narrow formats), in every format.
TEST_F(zorbin_elf_tools, contiguous_image_equals_its_binary)
{
    for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy"})
        REQUIRE_TOOL(t);
    link("flat", "arm-none-eabi-", th::read_file(th::sample("elf/app.s")), arm_script(false), {});
    fs::create_directory(path("e"));
    fs::create_directory(path("b"));
    fs::copy_file(path("flat.elf"), path("e/app"));
    auto bin = tool({"arm-none-eabi-objcopy", "-O", "binary", "flat.elf", "b/app"}, in_dir());
    ASSERT_EQ(bin.status, 0) << bin.err;
    th::options e = in_dir(), b = in_dir();
    e.cwd = path("e");
    b.cwd = path("b");
    for (const zb::fmt f : zb::hex_formats) {
        const std::string format = std::string(1, '-').append(zb::formats[f].word);
        SCOPED_TRACE(format);
        const bool wide = zb::formats[f].limit == 0xFFFFFFFF;
        std::vector<std::string> from_elf{format, "app"}, from_bin{format, "-bin", "app"};
        // The binary has no entry point; the ELF file's e_entry, moved with the image.
        from_bin.insert(from_bin.end(), {"-base", wide ? "0x08000000" : "0x100", "-entry",
                                         wide ? "0x08000010" : "0x110"});
        if (!wide)
            from_elf.insert(from_elf.end(), {"-base", "0x100"});
        auto x = th::run("zorbin", from_elf, e), y = th::run("zorbin", from_bin, b);
        EXPECT_EQ(x.status, 0);
        EXPECT_EQ(x.out, y.out);
    }
}

// Sections whose bytes lie in no PT_LOAD segment go to their own address, as both objcopys
// place them: one that the linker script keeps out of every segment, and a signature added
// to a linked file afterwards, its bytes past the last segment's.
TEST_F(zorbin_elf_tools, sections_outside_every_segment_at_their_own_address)
{
    for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy",
                          "srec_cat", "srec_cmp"})
        REQUIRE_TOOL(t);
    const std::string src = "    .text\n    .word 1, 2, 3, 4\n"
                            "    .section .cal,\"a\"\n    .word 0xCAFEF00D, 0x12345678\n";
    const std::string script = "PHDRS { text PT_LOAD; }\nSECTIONS {\n"
                               "  .text 0x08000000 : { *(.text) } :text\n"
                               "  .cal 0x3000 : { *(.cal) } :NONE\n}\n";
    link("cal", "arm-none-eabi-", src, script, {});
    th::write_file(path("sig.bin"), "0123456789ABCDEF");
    fs::copy_file(th::sample("app.elf"), path("app.elf"));
    auto add = tool({"arm-none-eabi-objcopy", "--add-section", ".sig=sig.bin",
                     "--set-section-flags", ".sig=alloc,load,readonly,data,contents",
                     "--change-section-address", ".sig=0x08001000", "app.elf", "sig.elf"},
                    in_dir());
    ASSERT_EQ(add.status, 0) << add.err;
    ASSERT_EQ(tool({"arm-none-eabi-objcopy", "-O", "srec", "sig.elf", "sig.srec"}, in_dir()).status, 0);
    for (const char* name : {"cal", "sig"}) {
        for (const auto& [format, reader] : {std::pair{"-motorola32", "-Motorola"}, {"-intel32", "-Intel"}}) {
            SCOPED_TRACE(std::string(name) + " " + format);
            auto z = zorbin({format, std::string(name) + ".elf", "out.hex"});
            ASSERT_EQ(z.status, 0) << z.out;
            auto cmp = tool({"srec_cmp", "out.hex", reader, std::string(name) + ".srec", "-Motorola"},
                            in_dir());
            EXPECT_EQ(cmp.status, 0) << cmp.out << cmp.err;
        }
    }
    auto info = zorbin({"-info", "sig.elf"});
    EXPECT_NE(info.out.find(".sig      0x08001000  0x08001000  0x00003000     16  no segment: run address\r\n"),
              std::string::npos) << info.out;
}

// The two objects of a generated link: a Thumb function calling one of the other object, a
// weak function, a sized object, a common symbol, an absolute one, and a local `counter` in
// each object, so that one name has two addresses.
constexpr const char* gen_a = R"(
    .syntax unified
    .thumb
    .section .vectors, "a"
    .word _stack_top
    .word reset + 1
    .text
    .global reset
    .type reset, %function
    .thumb_func
reset:
    movs r0, #0
    bl helper
    b reset
    .size reset, . - reset
    .weak hook
    .type hook, %function
    .thumb_func
hook:
    bx lr
    .size hook, . - hook
    .data
counter:
    .word 1
    .global table
    .type table, %object
table:
    .word 1, 2, 3, 4
    .size table, 16
    .comm shared, 8, 4
)";
constexpr const char* gen_b = R"(
    .syntax unified
    .thumb
    .text
    .global helper
    .type helper, %function
    .thumb_func
helper:
    bx lr
    .size helper, . - helper
    .data
counter:
    .word 2
    .global limit
    .set limit, 0x1234
)";
constexpr const char* lib_source = R"(
    .text
    .globl api
    .type api, @function
api:
    ret
    .size api, . - api
    .data
    .globl level
    .type level, @object
level:
    .quad 7
    .size level, 8
    .weak soft
soft:
    .quad 1
)";

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;)
        w.push_back(s);
    return w;
}

std::uint64_t hex_of(const std::string& s) { return std::stoull(s, nullptr, 16); }

// A section as objdump -h lists it.
struct dumped {
    std::string name;
    std::uint64_t size, vma, lma, offset;
    bool loaded;  // CONTENTS and LOAD
};

std::vector<dumped> objdump_sections(const std::string& out)
{
    std::vector<dumped> v;
    std::istringstream in(out);
    for (std::string line, flags; std::getline(in, line);) {
        const std::vector<std::string> w = words(line);
        if (w.size() != 7 || w[0].find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::getline(in, flags);
        v.push_back({w[1], hex_of(w[2]), hex_of(w[3]), hex_of(w[4]), hex_of(w[5]),
                     flags.find("CONTENTS") != std::string::npos &&
                         flags.find("LOAD") != std::string::npos});
    }
    return v;
}

// A symbol as nm shows it: "name value size" and its binding (l, g or w), " U" when it is
// undefined and " A" when it is absolute.
std::string shown(std::string_view name, std::uint64_t value, std::uint64_t size, char bind,
                  bool undefined, bool absolute)
{
    return std::string(name) + " " + hex(value) + " " + hex(size) + " " + bind +
           (undefined ? " U" : "") + (absolute ? " A" : "");
}

std::vector<std::string> nm_symbols(const std::string& out)
{
    std::vector<std::string> v;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> w = words(line);
        if (w.size() < 2 || w.size() > 4)
            continue;
        // An undefined symbol has no value; one of size 0 no size.
        w.insert(w.size() == 2 ? w.begin() : w.begin() + 1, 4 - w.size(), "0");
        const char c = w[2][0];
        const bool weak = std::string_view("WwVv").find(c) != std::string_view::npos;
        const bool undefined = std::string_view("Uwv").find(c) != std::string_view::npos;
        v.push_back(shown(w[3], hex_of(w[0]), hex_of(w[1]),
                          weak ? 'w' : std::isupper(c) ? 'g' : 'l', undefined,
                          c == 'A' || c == 'a'));
    }
    std::sort(v.begin(), v.end());
    return v;
}

// What nm lists by default: no section, file or ARM mapping symbols.
bool listed(const zb::elf_symbol& s)
{
    const std::string_view n = s.name;
    const bool mapping = n.size() >= 2 && n[0] == '$' &&
                         std::string_view("atd").find(n[1]) != std::string_view::npos &&
                         (n.size() == 2 || n[2] == '.');
    return s.type != 3 && s.type != 4 && !mapping && !n.empty();
}

std::vector<std::string> our_symbols(const zb::elf_image& e)
{
    std::vector<std::string> v;
    for (const zb::elf_symbol& s : e.symbols)
        if (listed(s))
            v.push_back(shown(s.name, s.section == zb::shn_undef ? 0 : s.addr, s.size,
                              s.bind == 2 ? 'w' : s.bind == 0 ? 'l' : 'g',
                              s.section == zb::shn_undef, s.section == zb::shn_abs));
    std::sort(v.begin(), v.end());
    return v;
}

const zb::elf_section* named(const zb::elf_image& e, std::string_view name)
{
    for (const zb::elf_section& s : e.sections)
        if (s.name == name)
            return &s;
    return nullptr;
}

// The sections as objdump -h lists them (load address included), the symbols as nm lists them
// (of .symtab, or .dynsym in a stripped shared object), and each symbol found again at its
// address in the image, for the sample, a generated link of either byte order and host files.
TEST_F(zorbin_elf_tools, sections_and_symbols_as_objdump_and_nm_list_them)
{
    for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-nm",
                          "arm-none-eabi-objdump", "as", "ld", "nm", "objdump", "objcopy", "strip"})
        REQUIRE_TOOL(t);
    fs::copy_file(th::sample("app.elf"), path("sample.elf"));
    const std::string script = th::read_file(th::sample("elf/app.ld"));
    th::write_file(path("a.s"), gen_a);
    th::write_file(path("b.s"), gen_b);
    for (const std::string e : {"", "-EB"}) {
        const std::string o = e.empty() ? "little" : "big";
        th::write_file(path(o + ".ld"), script);
        std::vector<std::vector<std::string>> cmds{
            {"arm-none-eabi-as", "-o", o + "-a.o", "a.s"},
            {"arm-none-eabi-as", "-o", o + "-b.o", "b.s"},
            {"arm-none-eabi-ld", "-T", o + ".ld", "-o", o + ".elf", o + "-a.o", o + "-b.o"}};
        if (!e.empty())
            for (auto& c : cmds)
                c.insert(c.begin() + 1, e);
        for (const auto& c : cmds)
            ASSERT_EQ(tool(c, in_dir()).status, 0) << c[0];
    }
    link("host", "", host_source, "", {});
    th::write_file(path("lib.s"), lib_source);
    const std::vector<std::string> lib[] = {{"as", "-o", "lib.o", "lib.s"},
                                            {"ld", "-shared", "-o", "lib.elf", "lib.o"},
                                            {"strip", "lib.elf"}};
    for (const auto& c : lib)
        ASSERT_EQ(tool(c, in_dir()).status, 0) << c[0];

    struct row {
        const char* name;
        const char* prefix;  // of the tools
        const char* table;   // the symbol table read
    };
    const row rows[] = {
        {"sample", "arm-none-eabi-", ".symtab"}, {"little", "arm-none-eabi-", ".symtab"},
        {"big", "arm-none-eabi-", ".symtab"},    {"host", "", ".symtab"},
        {"lib", "", ".dynsym"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string file = std::string(r.name) + ".elf";
        const std::string bytes = th::read_file(path(file));
        const zb::elf_image e = read_elf_of(bytes);
        ASSERT_EQ(zb::elf_what(e.error), "");
        ASSERT_EQ(zb::elf_what(e.symbol_error), "");
        const std::string p = r.prefix;
        const th::result dump = tool({p + "objdump", "-h", file}, in_dir());
        ASSERT_EQ(dump.status, 0) << dump.err;
        const std::vector<dumped> listed_sections = objdump_sections(dump.out);
        ASSERT_FALSE(listed_sections.empty());
        for (const dumped& d : listed_sections) {
            SCOPED_TRACE(d.name);
            const zb::elf_section* s = named(e, d.name);
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(hex(s->size), hex(d.size));
            EXPECT_EQ(hex(s->addr), hex(d.vma));
            EXPECT_EQ(hex(s->offset), hex(d.offset));
            EXPECT_EQ(s->placed, d.loaded && d.size > 0);
            if (d.loaded) {
                EXPECT_EQ(hex(s->load), hex(d.lma));
            }
        }
        EXPECT_EQ(e.sections[e.symtab].name, r.table);
        std::vector<std::string> nm_args{p + "nm", "-S", file};
        if (r.table == std::string_view(".dynsym"))
            nm_args.insert(nm_args.begin() + 1, "-D");
        const th::result nm = tool(nm_args, in_dir());
        ASSERT_EQ(nm.status, 0) << nm.err;
        EXPECT_EQ(our_symbols(e), nm_symbols(nm.out));
        // Every symbol inside a section of the image is found again at its load address.
        for (const zb::elf_symbol& s : e.symbols) {
            const zb::elf_section* in = zb::section_of(e, s);
            if (!listed(s) || !in || !in->placed || s.addr - in->addr >= in->size)
                continue;
            const zb::elf_symbol* found = zb::symbol_holding(e, in->load + (s.addr - in->addr));
            ASSERT_NE(found, nullptr) << s.name;
            EXPECT_EQ(hex(found->addr), hex(s.addr)) << s.name << " found as " << found->name;
        }
    }

    // The generated link: one name at two addresses, and the look-ups by load address.
    const std::string little = th::read_file(path("little.elf"));
    const zb::elf_image e = read_elf_of(little);
    const std::vector<const zb::elf_symbol*> counter = zb::symbols_named(e, "counter");
    ASSERT_EQ(counter.size(), 2u);
    EXPECT_NE(counter[0]->addr, counter[1]->addr);
    const zb::elf_section* data = named(e, ".data");
    ASSERT_NE(data, nullptr);
    ASSERT_NE(data->load, data->addr);  // stored in flash, run in RAM
    EXPECT_EQ(zb::section_holding(e, data->load + 4), data);
    EXPECT_EQ(zb::section_holding(e, data->addr), nullptr);
    EXPECT_EQ(zb::symbol_holding(e, data->load + 6)->name, "table");
    EXPECT_EQ(zb::symbol_holding(e, data->load + (counter[1]->addr - data->addr) + 2), counter[1]);

    // The hook that section selection will use: everything but .data.
    const auto no_data = [](const zb::elf_section& s, const void*) { return s.name != ".data"; };
    const zb::elf_image kept = read_elf_of(little, {.keep = no_data});
    ASSERT_EQ(zb::elf_what(kept.error), "");
    EXPECT_EQ(kept.img.parts.size(), e.img.parts.size() - 1);
    for (const zb::part& part : kept.img.parts)
        EXPECT_NE(part.from.name, ".data");
    EXPECT_FALSE(named(kept, ".data")->placed);
    EXPECT_EQ(zb::section_holding(kept, data->load), nullptr);
}

}  // namespace
