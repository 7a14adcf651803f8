// zorbin -cmp: the comparison against a plain per-address reference, the verdict and the
// differing addresses of srec_cmp on a table of pairs, the report's lines, trouble as exit
// status 2 with nothing written, and the section and symbol names of an ELF link against
// readelf, nm and objdump.
#include "harness.h"
#include "image/diff.h"
#include "read/elf.h"

#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<unsigned char>;

// Half-open address intervals, merged where they touch.
using spans = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

void add_span(spans& s, std::uint64_t lo, std::uint64_t hi)
{
    if (!s.empty() && s.back().second == lo)
        s.back().second = hi;
    else
        s.emplace_back(lo, hi);
}

// ---- the comparison core against a plain map of addresses ----

struct made_image {
    zb::image img;
    std::vector<bytes> store;
};

// Parts at random places, some touching, some empty, bytes mostly those of a shared pattern
// so that the two images agree in long runs.
made_image random_image(std::mt19937_64& rng, const bytes& pattern)
{
    made_image m;
    m.store.reserve(16);
    std::uint64_t at = rng() % 64;
    const std::size_t parts = 1 + rng() % 8;
    for (std::size_t k = 0; k < parts; ++k) {
        const std::size_t n = rng() % 5 == 0 ? 0 : 1 + rng() % 300;
        bytes b(n);
        for (std::size_t i = 0; i < n; ++i)
            b[i] = rng() % 40 == 0 ? static_cast<unsigned char>(rng())
                                   : pattern[(at + i) % pattern.size()];
        m.store.push_back(std::move(b));
        m.img.parts.push_back({m.store.back(), {"p", at, at, 0, ""}});
        at += n + (rng() % 3 == 0 ? 0 : rng() % 100);
    }
    if (rng() % 3)
        m.img.entry = rng() % 4;
    return m;
}

std::map<std::uint64_t, unsigned char> memory(const zb::image& img)
{
    std::map<std::uint64_t, unsigned char> m;
    for (const zb::part& p : img.parts)
        for (std::size_t k = 0; k < p.data.size(); ++k)
            m[p.from.load + k] = p.data[k];
    return m;
}

// The ranges, address by address: each address of either image is the same, differs, or is
// held by one only; neighbours of one kind make one range.
zb::image_diff reference(const zb::image& a, const zb::image& b, std::size_t max)
{
    const auto ma = memory(a), mb = memory(b);
    std::set<std::uint64_t> all;
    for (const auto& [k, v] : ma)
        all.insert(k);
    for (const auto& [k, v] : mb)
        all.insert(k);
    std::vector<zb::diff_range> ranges;
    zb::image_diff d;
    for (const std::uint64_t addr : all) {
        const auto x = ma.find(addr), y = mb.find(addr);
        zb::diff_kind k;
        if (x != ma.end() && y != mb.end()) {
            if (x->second == y->second)
                continue;
            k = zb::diff_kind::bytes;
            ++d.differ;
        } else {
            k = x != ma.end() ? zb::diff_kind::only_a : zb::diff_kind::only_b;
            ++(x != ma.end() ? d.only_a : d.only_b);
        }
        if (ranges.empty() || ranges.back().kind != k ||
            ranges.back().addr + ranges.back().size != addr)
            ranges.push_back({.kind = k, .addr = addr});
        zb::diff_range& r = ranges.back();
        if (k == zb::diff_kind::bytes && r.shown < zb::diff_shown) {
            r.a[r.shown] = x->second;
            r.b[r.shown++] = y->second;
        }
        ++r.size;
    }
    for (std::size_t k = 0; k < ranges.size(); ++k)
        (k < max ? (d.ranges.push_back(ranges[k]), d.more) : ++d.more);
    d.entry_differs = a.entry != b.entry;
    return d;
}

TEST(zorbin_diff, ranges_are_those_of_a_plain_address_map)
{
    std::mt19937_64 rng(1234);
    bytes pattern(97);
    for (auto& v : pattern)
        v = static_cast<unsigned char>(rng());
    for (int t = 0; t < 400; ++t) {
        SCOPED_TRACE(t);
        const made_image a = random_image(rng, pattern), b = random_image(rng, pattern);
        const std::size_t max = t % 2 ? 20 : 3;
        const zb::image_diff got = zb::diff_images(a.img, b.img, max);
        const zb::image_diff want = reference(a.img, b.img, max);
        ASSERT_EQ(got.ranges.size(), want.ranges.size());
        for (std::size_t k = 0; k < got.ranges.size(); ++k) {
            const zb::diff_range &g = got.ranges[k], &w = want.ranges[k];
            EXPECT_EQ(g.kind, w.kind) << k;
            EXPECT_EQ(g.addr, w.addr) << k;
            EXPECT_EQ(g.size, w.size) << k;
            EXPECT_EQ(g.shown, w.shown) << k;
            EXPECT_EQ(g.a, w.a) << k;
            EXPECT_EQ(g.b, w.b) << k;
        }
        EXPECT_EQ(got.more, want.more);
        EXPECT_EQ(got.differ, want.differ);
        EXPECT_EQ(got.only_a, want.only_a);
        EXPECT_EQ(got.only_b, want.only_b);
        EXPECT_EQ(got.same(), want.ranges.empty() && want.more == 0 && !want.entry_differs);
        // An image is the same as itself, whatever its parts.
        EXPECT_TRUE(zb::diff_images(a.img, a.img, max).same());
    }
}

// Long equal runs are compared in blocks, a differing run byte by byte: 16 MiB that agree
// but for one byte in the middle cost one pass.
TEST(zorbin_diff, a_large_image_with_one_change)
{
    bytes x(16 << 20, 0x5A), y = x;
    y[8 << 20] = 0xA5;
    zb::image a, b;
    a.parts.push_back({x, {"a", 0x08000000, 0x08000000, 0, ""}});
    b.parts.push_back(
        {std::span<const unsigned char>(y).first(4 << 20), {"b", 0x08000000, 0x08000000, 0, ""}});
    b.parts.push_back(
        {std::span<const unsigned char>(y).subspan(4 << 20), {"b", 0x08400000, 0x08400000, 0, ""}});
    const zb::image_diff d = zb::diff_images(a, b, 20);
    ASSERT_EQ(d.ranges.size(), 1u);
    EXPECT_EQ(d.ranges[0].addr, 0x08800000u);
    EXPECT_EQ(d.ranges[0].size, 1u);
    EXPECT_EQ(d.differ, 1u);
}

// ---- end to end ----

class zorbin_cmp : public th::tmpdir {
protected:
    th::result zorbin(const std::vector<std::string>& args)
    {
        return th::run("zorbin", args, in_dir());
    }
    void make(const std::vector<std::string>& args)
    {
        const th::result r = zorbin(args);
        ASSERT_EQ(r.status, 0) << r.out;
    }
    th::result tool(const std::vector<std::string>& argv)
    {
        return th::run_argv(th::which(argv[0]), argv, in_dir());
    }
    std::set<std::string> files() const
    {
        std::set<std::string> s;
        for (const auto& e : fs::directory_iterator(dir))
            s.insert(e.path().filename().string());
        return s;
    }
};

// The ranges of zorbin's report and of srec_cmp -v: differing, left (the run's) only, right
// only; the entry points' difference.
struct verdict {
    spans differ, left, right;
    bool entry = false;
};

verdict zorbin_ranges(const std::string& report, const std::string& left, const std::string& right)
{
    verdict v;
    std::istringstream in(report);
    const std::regex line("^0x([0-9A-F]+)[^:]*: ([0-9]+) bytes? (differs?, .*|only in (.*))\r?$");
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (l.starts_with("entry point "))
            v.entry = true;
        if (!std::regex_match(l, m, line))
            continue;
        const std::uint64_t lo = std::stoull(m[1], nullptr, 16), n = std::stoull(m[2]);
        spans& s = m[4].matched ? (m[4] == left ? v.left : v.right) : v.differ;
        EXPECT_TRUE(!m[4].matched || m[4] == left || m[4] == right) << l;
        add_span(s, lo, lo + n);
    }
    return v;
}

verdict srec_cmp_ranges(const std::string& out)
{
    verdict v;
    spans* cur = nullptr;
    std::istringstream in(out);
    const std::regex number("(0x[0-9a-fA-F]+|[0-9]+)( - (0x[0-9a-fA-F]+|[0-9]+))?");
    for (std::string l; std::getline(in, l);) {
        if (l.starts_with("Execution start address"))
            v.entry = true;
        if (l.starts_with("Different:"))
            cur = &v.differ;
        else if (l.starts_with("Left only:"))
            cur = &v.left;
        else if (l.starts_with("Right only:"))
            cur = &v.right;
        else if (!l.starts_with(" ") && !l.starts_with("\t"))
            continue;
        if (!cur)
            continue;
        const std::string body = l.substr(l.find(':') == std::string::npos ? 0 : l.find(':') + 1);
        for (std::sregex_iterator it(body.begin(), body.end(), number), end; it != end; ++it) {
            const std::uint64_t lo = std::stoull((*it)[1], nullptr, 0);
            const std::uint64_t hi = (*it)[3].matched ? std::stoull((*it)[3], nullptr, 0) : lo;
            add_span(*cur, lo, hi + 1);
        }
    }
    return v;
}

// Each row is a pair of files: srec_cmp's verdict (0 same, 2 different) and zorbin's (0, 1)
// agree, and so do the addresses each says differ or only one side holds, and whether the
// entry points differ.
TEST_F(zorbin_cmp, srec_cmp_gives_the_same_verdict)
{
    REQUIRE_TOOL("srec_cmp");
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("arm-none-eabi-objcopy");
    std::mt19937_64 rng(77);
    std::string data(3000, '\0'), changed, extra(100, '\0');
    for (char& c : data)
        c = static_cast<char>(rng());
    for (char& c : extra)
        c = static_cast<char>(rng());
    changed = data;
    changed[1234] = static_cast<char>(changed[1234] ^ 0x10);
    changed[2000] = static_cast<char>(changed[2000] ^ 0x01);
    th::write_file(path("data.bin"), data);
    th::write_file(path("changed.bin"), changed);
    th::write_file(path("extra.bin"), extra);
    const std::vector<std::string> at{"-bin", "-base", "0x08000000", "-entry", "0x08000101"};
    auto conv = [&](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), at.begin(), at.end());
        args.insert(args.end(), more.begin(), more.end());
        make(args);
    };
    conv({"-motorola32", "data.bin", "a.s3"}, {});
    conv({"-intel32", "data.bin", "a32.hex"}, {"-reclen", "32"});
    conv({"-exormacs", "data.bin", "a.s2"},
         {"-base", "0x1000", "-entry", "0x1101", "-reclen", "7"});
    conv({"-motorola32", "data.bin", "a-low.s3"}, {"-base", "0x1000", "-entry", "0x1101"});
    conv({"-intel32", "changed.bin", "changed.hex"}, {});
    conv({"-intel32", "data.bin", "extra.hex"}, {"-addbin", "extra.bin", "0x08010000"});
    conv({"-motorola32", "data.bin", "entry.s3"}, {"-entry", "0x08000201"});
    ASSERT_EQ(
        tool({"srec_cat", "a.s3", "-exclude", "0x08000100", "0x08000101", "-o", "hole.s3"}).status,
        0);
    // The sample ELF, its Intel hex as objcopy and as zorbin write it, and the ELF with one
    // byte of .rodata changed.
    fs::copy_file(th::sample("app.elf"), path("app.elf"));
    ASSERT_EQ(tool({"arm-none-eabi-objcopy", "-O", "ihex", "app.elf", "objcopy.hex"}).status, 0);
    make({"-intel32", "app.elf", "app.hex"});
    std::string elf = th::read_file(path("app.elf"));
    const zb::elf_image e =
        zb::read_elf({.file = {reinterpret_cast<const unsigned char*>(elf.data()), elf.size()}});
    std::uint64_t rodata = 0;
    for (const zb::elf_section& sec : e.sections)
        if (sec.name == ".rodata")
            rodata = sec.offset;
    ASSERT_NE(rodata, 0u);
    elf[rodata + 5] = static_cast<char>(elf[rodata + 5] ^ 0x80);
    th::write_file(path("app2.elf"), elf);
    make({"-intel32", "app2.elf", "app2.hex"});

    struct row {
        const char* what;
        std::vector<std::string> left;    // zorbin's main input and its options
        std::string left_file, left_fmt;  // the same image for srec_cmp
        std::string right, right_fmt;
        bool same;
    };
    const row rows[] = {
        {"one image in two formats and record lengths",
         {"a.s3"},
         "a.s3",
         "-Motorola",
         "a32.hex",
         "-Intel",
         true},
        {"a binary against its records",
         {"-bin", "-base", "0x08000000", "-entry", "0x08000101", "data.bin"},
         "a.s3",
         "-Motorola",
         "a32.hex",
         "-Intel",
         true},
        {"16-bit S2 records of 7 bytes",
         {"a-low.s3"},
         "a-low.s3",
         "-Motorola",
         "a.s2",
         "-Motorola",
         true},
        {"two bytes changed", {"a.s3"}, "a.s3", "-Motorola", "changed.hex", "-Intel", false},
        {"a byte missing", {"a.s3"}, "a.s3", "-Motorola", "hole.s3", "-Motorola", false},
        {"a byte missing, the other way",
         {"hole.s3"},
         "hole.s3",
         "-Motorola",
         "a.s3",
         "-Motorola",
         false},
        {"an extra block", {"a32.hex"}, "a32.hex", "-Intel", "extra.hex", "-Intel", false},
        {"entry point changed", {"a.s3"}, "a.s3", "-Motorola", "entry.s3", "-Motorola", false},
        {"moved", {"a.s3"}, "a.s3", "-Motorola", "a-low.s3", "-Motorola", false},
        {"ELF against its own Intel hex",
         {"app.elf"},
         "app.hex",
         "-Intel",
         "objcopy.hex",
         "-Intel",
         true},
        {"ELF with a changed byte",
         {"app2.elf"},
         "app2.hex",
         "-Intel",
         "objcopy.hex",
         "-Intel",
         false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> args = r.left;
        args.insert(args.end(), {"-cmp", r.right});
        const th::result z = zorbin(args);
        const th::result s =
            tool({"srec_cmp", r.left_file, r.left_fmt, r.right, r.right_fmt, "-v"});
        EXPECT_EQ(z.status, r.same ? 0 : 1) << z.out;
        EXPECT_EQ(s.status, r.same ? 0 : 2) << s.out << s.err;
        EXPECT_EQ(z.err, "");
        EXPECT_EQ(z.out.empty(), r.same) << z.out;
        const verdict zv = zorbin_ranges(z.out, r.left.back(), r.right);
        const verdict sv = srec_cmp_ranges(s.out);
        EXPECT_EQ(zv.differ, sv.differ) << z.out << s.out;
        EXPECT_EQ(zv.left, sv.left) << z.out << s.out;
        EXPECT_EQ(zv.right, sv.right) << z.out << s.out;
        EXPECT_EQ(zv.entry, sv.entry) << z.out << s.out;
    }
    EXPECT_EQ(files().count("out.hex"), 0u);
}

// The report, line by line: the first bytes of a long range and "...", one byte, the ranges
// only one side holds, the count past 20 ranges, the entry points.
TEST_F(zorbin_cmp, the_report_names_each_range)
{
    std::string a(64, '\x11'), b = a;
    for (int k = 0; k < 10; ++k)
        b[4 + k] = static_cast<char>(0x20 + k);
    b[30] = '\x99';
    th::write_file(path("a.bin"), a);
    th::write_file(path("b.bin"), b);
    th::write_file(path("c.bin"), b.substr(0, 40));
    const th::result r = zorbin({"-bin", "-base", "0x100", "a.bin", "-cmpbin", "c.bin", "0x104"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, th::lines({
                         "a.bin and c.bin differ",
                         "0x00000100: 4 bytes only in a.bin",
                         "0x00000108: 10 bytes differ, 11 11 11 11 11 11 11 11 ... in a.bin, "
                         "20 21 22 23 24 25 26 27 ... in c.bin",
                         "0x00000122: 1 byte differs, 11 in a.bin, 99 in c.bin",
                         "0x0000012C: 20 bytes only in a.bin",
                     }));
    const th::result same = zorbin({"-bin", "a.bin", "-cmpbin", "a.bin", "0"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "");
    const th::result d = zorbin({"-bin", "a.bin", "-entry", "0x20", "-cmpbin", "b.bin", "0"});
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.out, th::lines({
                         "a.bin and b.bin differ",
                         "0x00000004: 10 bytes differ, 11 11 11 11 11 11 11 11 ... in a.bin, "
                         "20 21 22 23 24 25 26 27 ... in b.bin",
                         "0x0000001E: 1 byte differs, 11 in a.bin, 99 in b.bin",
                         "entry point 0x00000020 in a.bin, none in b.bin",
                     }));
    th::write_file(path("short.bin"), a.substr(0, 60));
    const th::result s = zorbin({"-bin", "short.bin", "-cmpbin", "a.bin", "2"});
    EXPECT_EQ(s.out,
              th::lines({"short.bin and a.bin differ", "0x00000000: 2 bytes only in short.bin",
                         "0x0000003C: 6 bytes only in a.bin"}));
    // 25 ranges: 20 are told.
    std::string many = a;
    for (int k = 0; k < 25; ++k)
        many[2 * k] = '\x22';
    th::write_file(path("many.bin"), many);
    const th::result m = zorbin({"-bin", "a.bin", "-cmpbin", "many.bin", "0"});
    EXPECT_EQ(m.status, 1);
    std::vector<std::string> lines;
    std::istringstream in(m.out);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 22u) << m.out;
    EXPECT_EQ(lines[20], "0x00000026: 1 byte differs, 11 in a.bin, 22 in many.bin\r");
    EXPECT_EQ(lines[21], "and 5 more ranges\r");
}

// Trouble exits 2 with zorbin's message, whatever stopped the run, and nothing is written.
TEST_F(zorbin_cmp, trouble_exits_2_and_writes_nothing)
{
    th::write_file(path("a.bin"), std::string(32, 'a'));
    make({"-intel32", "-bin", "a.bin", "a.hex"});
    std::string bad = th::read_file(path("a.hex"));
    char& digit = bad[bad.find('\r', bad.find('\n')) - 1];  // the data record's checksum
    digit = digit == '0' ? '1' : '0';
    th::write_file(path("bad.hex"), bad);
    const std::string aif = th::sample("app.aif");
    struct row {
        std::vector<std::string> args;
        std::string says;
    };
    const row rows[] = {
        {{"a.hex", "-cmp", "missing.hex"}, "Error opening missing.hex for input\r\n"},
        {{"missing.hex", "-cmp", "a.hex"}, "Error opening missing.hex for input\r\n"},
        {{"a.hex", "-cmp", "bad.hex"}, ""},
        {{"a.hex", "-cmp", "a.bin"},
         "Input a.bin of -cmp gives no addresses: a plain binary is compared with -cmpbin a.bin "
         "ADDR\r\n"},
        {{"a.hex", "-cmp", "a.bin", "-intel32"},
         "Option -cmp takes no format word: it compares and writes nothing, -intel32 given\r\n"},
        {{"a.hex", "out.hex", "-cmp", "a.bin"},
         "Option -cmp takes no output file: it compares and writes nothing, out.hex given\r\n"},
        {{"a.hex", "-cmp", "a.bin", "-verify", "-crc", "crc32", "0x100"},
         "Option -cmp takes no -verify: compare and verify in runs of their own\r\n"},
        {{"-foo", "a.hex", "-cmp", "a.bin"},
         "Unrecognised format or option, -foo, enter Zorbin -help for help\r\n"},
        {{"a.hex", "-cmpbin", "a.bin", "12a"}, "Bad number on -cmpbin option\r\n"},
        {{"a.hex", "-CMP"}, "No argument on -cmp option\r\n"},
        {{aif, "-cmp", "a.hex"},
         "Options -cmp and -cmpbin need one image: " + aif +
             " has a chain of segments, each written to a file of its own\r\n"},
        {{"a.hex", "-cmp", aif},
         "Input " + aif +
             " of -cmp is an AIF image with a chain of segments, each written to a "
             "file of its own\r\n"},
    };
    const std::set<std::string> before = files();
    for (const row& r : rows) {
        SCOPED_TRACE(r.args[0] + " " + r.args[1] + " " + r.args.back());
        const th::result res = zorbin(r.args);
        EXPECT_EQ(res.status, 2);
        if (r.says.empty())
            EXPECT_TRUE(res.out.starts_with("Bad hex file bad.hex line 2: checksum")) << res.out;
        else
            EXPECT_EQ(res.out, r.says);
        EXPECT_EQ(files(), before);
    }
    // Without -cmp the same errors keep their status 1.
    EXPECT_EQ(zorbin({"-intel32", "missing.hex"}).status, 1);
}

// -info with -cmp: the report of each input, then the comparison.
TEST_F(zorbin_cmp, info_shows_both_inputs_then_the_comparison)
{
    th::write_file(path("a.bin"), std::string(32, 'a'));
    make({"-intel32", "-bin", "-base", "0x40", "a.bin", "a.hex"});
    const th::result plain = zorbin({"-info", "-bin", "a.bin"});
    const th::result theirs = zorbin({"-info", "a.hex"});
    const th::result r = zorbin({"-info", "-bin", "a.bin", "-cmp", "a.hex"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, plain.out + theirs.out +
                         th::lines({"a.bin and a.hex differ", "0x00000000: 32 bytes only in a.bin",
                                    "0x00000040: 32 bytes only in a.hex"}));
    const th::result same = zorbin({"-info", "-bin", "-base", "0x40", "a.bin", "-cmp", "a.hex"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, zorbin({"-info", "-bin", "-base", "0x40", "a.bin"}).out + theirs.out);
}

// ---- names from an ELF link ----

constexpr const char* named_source = R"(
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
    movs r1, #1
    b reset
    .size reset, . - reset
    .type helper, %function
    .thumb_func
helper:
    bx lr
    .size helper, . - helper
tail_label:
    nop
    nop
    nop
    nop
    .section .rodata
    .global crc_table
    .type crc_table, %object
crc_table:
    .fill 64, 1, 0x5A
    .size crc_table, 64
    .type banner, %object
banner:
    .ascii "fw 1.0\0"
    .size banner, 7
    .data
    .global table
    .type table, %object
table:
    .word 1, 2, 3, 4
    .size table, 16
counter:
    .word 7
)";

constexpr const char* named_script = R"(
MEMORY { FLASH : ORIGIN = 0x08000000, LENGTH = 64K
         RAM : ORIGIN = 0x20000000, LENGTH = 16K }
SECTIONS {
  .vectors : { KEEP(*(.vectors)) } > FLASH
  .text : { *(.text) } > FLASH
  .rodata : { *(.rodata) } > FLASH
  .data : { *(.data) } > RAM AT> FLASH
  _stack_top = ORIGIN(RAM) + LENGTH(RAM);
}
)";

struct tool_section {
    std::string name;
    std::uint64_t vma = 0, lma = 0, size = 0;
};

struct tool_symbol {
    std::uint64_t addr = 0, size = 0;
    bool sized = false;
};

std::vector<std::string> words_of(const std::string& l)
{
    std::istringstream in(l);
    std::vector<std::string> w;
    for (std::string s; in >> s;)
        w.push_back(s);
    return w;
}

// Each section's name and size and its run address as readelf -S gives them, with its load
// address from objdump -h.
std::map<std::string, tool_section> tool_sections(const std::string& readelf,
                                                  const std::string& objdump)
{
    std::map<std::string, tool_section> m;
    std::istringstream in(readelf);
    for (std::string l; std::getline(in, l);) {
        const auto close = l.find(']');
        if (l.find('[') == std::string::npos || close == std::string::npos)
            continue;
        const auto w = words_of(l.substr(close + 1));
        if (w.size() < 6 || w[0] == "Name" || !w[0].starts_with("."))
            continue;
        m[w[0]] = {w[0], std::stoull(w[2], nullptr, 16), 0, std::stoull(w[4], nullptr, 16)};
    }
    std::istringstream od(objdump);
    for (std::string l; std::getline(od, l);) {
        const auto w = words_of(l);
        if (w.size() >= 5 && m.count(w[1]))
            m[w[1]].lma = std::stoull(w[4], nullptr, 16);
    }
    return m;
}

// Each named symbol's address (a Thumb function's without its bit 0) and size, from nm -S.
std::map<std::string, tool_symbol> tool_symbols(const std::string& nm)
{
    std::map<std::string, tool_symbol> m;
    std::istringstream in(nm);
    for (std::string l; std::getline(in, l);) {
        const auto w = words_of(l);
        tool_symbol s;
        s.sized = w.size() == 4;
        if (w.size() < 3 || w.back().starts_with("$"))
            continue;
        s.addr = std::stoull(w[0], nullptr, 16);
        s.size = s.sized ? std::stoull(w[1], nullptr, 16) : 0;
        const char type = w[w.size() - 2][0];
        if (type == 't' || type == 'T')
            s.addr &= ~std::uint64_t{1};
        m[w.back()] = s;
    }
    return m;
}

// A byte changed at symbol + offset in the flash image objcopy makes: the -cmp line names the
// section readelf and objdump place it in and the symbol nm gives there, "in" a symbol whose
// size reaches it, "at" one before it that does not.
TEST_F(zorbin_cmp, elf_ranges_name_their_section_and_symbol)
{
    for (const char* t :
         {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-nm", "arm-none-eabi-readelf",
          "arm-none-eabi-objdump", "arm-none-eabi-objcopy"})
        REQUIRE_TOOL(t);
    th::write_file(path("fw.s"), named_source);
    th::write_file(path("fw.ld"), named_script);
    for (const std::vector<std::string>& cmd :
         {std::vector<std::string>{"arm-none-eabi-as", "-o", "fw.o", "fw.s"},
          {"arm-none-eabi-ld", "-T", "fw.ld", "-o", "fw.elf", "fw.o"},
          {"arm-none-eabi-objcopy", "-O", "binary", "fw.elf", "fw.bin"}}) {
        const th::result r = tool(cmd);
        ASSERT_EQ(r.status, 0) << cmd[0] << r.err;
    }
    const auto secs = tool_sections(tool({"arm-none-eabi-readelf", "-SW", "fw.elf"}).out,
                                    tool({"arm-none-eabi-objdump", "-h", "fw.elf"}).out);
    const auto syms = tool_symbols(tool({"arm-none-eabi-nm", "-S", "fw.elf"}).out);
    struct row {
        std::string symbol;  // empty: the start of the section .vectors
        std::uint64_t offset;
    };
    const row rows[] = {{"", 4},           {"reset", 0},     {"reset", 2},
                        {"tail_label", 3}, {"crc_table", 0}, {"crc_table", 0x34},
                        {"banner", 3},     {"table", 4},     {"counter", 1}};
    std::string image = th::read_file(path("fw.bin"));
    std::map<std::uint64_t, std::string> want;  // load address -> what the line says there
    for (const row& r : rows) {
        const std::uint64_t run = r.symbol.empty() ? secs.at(".vectors").vma + r.offset
                                                   : syms.at(r.symbol).addr + r.offset;
        const tool_section* in = nullptr;
        for (const auto& [n, s] : secs)
            if (run >= s.vma && run < s.vma + s.size)
                in = &s;
        ASSERT_NE(in, nullptr) << r.symbol;
        const std::uint64_t load = in->lma + (run - in->vma);
        image[load - 0x08000000] = static_cast<char>(image[load - 0x08000000] ^ 0x40);
        std::string says = "in " + in->name;
        if (!r.symbol.empty()) {
            const tool_symbol& y = syms.at(r.symbol);
            char off[24];
            std::snprintf(off, sizeof off, "+0x%llX", static_cast<unsigned long long>(r.offset));
            says += (y.sized && r.offset < y.size ? ", in " : ", at ") + r.symbol +
                    (r.offset ? off : "");
        }
        want[load] = says;
    }
    th::write_file(path("fw2.bin"), image);
    const th::result z = zorbin({"fw.elf", "-cmpbin", "fw2.bin", "0x08000000"});
    EXPECT_EQ(z.status, 1) << z.out;
    std::map<std::uint64_t, std::string> got;
    const std::regex line("^0x([0-9A-F]{8}) (.*): 1 byte differs, .*\r$");
    std::istringstream in(z.out);
    for (std::string l; std::getline(in, l);)
        if (std::smatch m; std::regex_match(l, m, line))
            got[std::stoull(m[1], nullptr, 16)] = m[2];
    EXPECT_EQ(got, want) << z.out;
    // Moved by -base, the image names the same places.
    const th::result moved = zorbin({"fw.elf", "-base", "0", "-cmpbin", "fw2.bin", "0"});
    EXPECT_NE(moved.out.find(" in .rodata, in crc_table+0x34: "), std::string::npos) << moved.out;
}

}  // namespace
