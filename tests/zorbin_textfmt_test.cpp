// The whole-memory text writers (Verilog memory, MIF, COE, TI-TXT, C array) and the byte lane
// operations (-swap, -split) against independent tools: srec_cat reads the files back and
// does the same lane and swap filters, iverilog's $readmemh loads the Verilog memory, gcc and
// g++ compile the C array into a program that writes it back out. COE, which none of them
// reads, is held against words the test composes from the bytes itself.
#include "formats/wide.h"
#include "harness.h"
#include "image/lanes.h"
#include "write/engine.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
using memory = std::map<std::uint64_t, unsigned char>;

// A block of the test image; runs: its bytes come in runs of equal bytes, so that words repeat.
struct blk {
    std::uint64_t base;
    std::size_t size;
    bool runs = false;
};

// A test image: seeded bytes for each block, each block cut into two pieces at an odd offset
// so that words and lines straddle a piece's end.
struct test_image {
    std::vector<bytes> data;
    std::vector<zb::block> blocks;
    zb::image img;
    memory mem;

    test_image(std::initializer_list<blk> bs, unsigned seed = 1)
    {
        std::mt19937 rng(seed);
        data.reserve(bs.size());
        for (const blk& b : bs) {
            bytes d(b.size);
            for (std::size_t i = 0; i < d.size(); ++i)
                d[i] = b.runs && (i / 24) % 3 != 2 ? static_cast<unsigned char>(0x5A + i / 72)
                                                    : static_cast<unsigned char>(rng());
            data.push_back(d);
            const bytes& s = data.back();
            const std::size_t cut = std::min<std::size_t>(s.size(), 5 + 2 * (s.size() / 3));
            zb::block blk{b.base, {}};
            for (auto piece : {std::span(s).first(cut), std::span(s).subspan(cut)}) {
                blk.pieces.push_back(piece);
                const std::uint64_t at = b.base + (piece.data() - s.data());
                img.parts.push_back({piece, {"p", at, at, 0, "", false, 0}});
            }
            blocks.push_back(blk);
            for (std::size_t i = 0; i < s.size(); ++i)
                mem[b.base + i] = s[i];
        }
    }
};

// m with every word it touches made whole, the missing bytes fill.
memory padded(const memory& m, unsigned w, unsigned char fill)
{
    memory out = m;
    for (const auto& [a, v] : m)
        for (std::uint64_t x = a / w * w; x < a / w * w + w; ++x)
            out.emplace(x, fill);
    return out;
}

// m over every address of [lo, end), fill where it has none.
memory filled(const memory& m, std::uint64_t lo, std::uint64_t end, unsigned char fill)
{
    memory out = m;
    for (std::uint64_t x = lo; x < end; ++x)
        out.emplace(x, fill);
    return out;
}

memory memory_of(const zb::image& img)
{
    memory m;
    for (const zb::part& p : img.parts)
        for (std::size_t i = 0; i < p.data.size(); ++i)
            m[p.from.load + i] = p.data[i];
    return m;
}

using writer = zb::wide_error (*)(std::span<const zb::block>, const zb::wide_args&,
                                  const zb::sink&);

std::string written(writer f, const test_image& t, const zb::wide_args& a)
{
    std::string s;
    const zb::wide_error e = f(t.blocks, a, zb::string_sink(s));
    EXPECT_EQ(e.f, zb::wide_fault::none) << zb::wide_message(e, "in", "-fmt");
    return s;
}

unsigned hexval(const std::string& s, std::size_t pos, std::size_t len)
{
    return static_cast<unsigned>(std::stoul(s.substr(pos, len), nullptr, 16));
}

// The memory of the S-records srec_cat writes; an address met twice fails.
memory srec_memory(const std::string& srec)
{
    memory m;
    std::istringstream in(srec);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3')
            continue;
        const std::size_t alen = static_cast<std::size_t>(line[1] - '0') + 1;
        const std::size_t count = hexval(line, 2, 2);
        std::uint64_t addr = std::stoull(line.substr(4, 2 * alen), nullptr, 16);
        for (std::size_t k = 0; k + alen + 1 < count; ++k, ++addr)
            EXPECT_TRUE(m.emplace(addr, hexval(line, 4 + 2 * alen + 2 * k, 2)).second)
                << "address read twice: " << addr;
    }
    return m;
}

// srec_cat's reading of file as format, through the filters, as a memory.
memory srec_cat(const std::string& file, const std::vector<std::string>& how)
{
    std::vector<std::string> argv{"srec_cat", file};
    argv.insert(argv.end(), how.begin(), how.end());
    argv.insert(argv.end(), {"-o", "-", "-Motorola"});
    const th::result r = th::run_argv(th::which("srec_cat"), argv);
    EXPECT_EQ(r.status, 0) << r.err;
    return srec_memory(r.out);
}

// The words of m from lo to end as numbers, w bytes each, first byte most significant (be) or
// least, in 2 w upper-case digits.
std::vector<std::string> words_of(const memory& m, std::uint64_t lo, std::uint64_t end,
                                  unsigned w, bool be)
{
    std::vector<std::string> out;
    for (std::uint64_t a = lo; a < end; a += w) {
        std::uint64_t v = 0;
        for (unsigned j = 0; j < w; ++j)
            v |= std::uint64_t{m.at(a + j)} << 8 * (be ? w - 1 - j : j);
        char b[17];
        std::snprintf(b, sizeof b, "%0*llX", static_cast<int>(2 * w),
                      static_cast<unsigned long long>(v));
        out.push_back(b);
    }
    return out;
}

std::vector<std::string> split_lines(const std::string& s)
{
    std::vector<std::string> out;
    for (std::size_t at = 0; at < s.size();) {
        const std::size_t end = s.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "a line without CR LF at the end";
        if (end == std::string::npos)
            break;
        out.push_back(s.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

class zorbin_textfmt : public th::tmpdir {};

// One image written with a word width and order, and the fill that pads words.
struct word_row {
    const char* name;
    std::initializer_list<blk> blocks;
    unsigned width;
    bool be;
    std::optional<unsigned char> fill;
    std::optional<std::uint64_t> start;  // -mif and -coe
    bool sim = true;                     // small enough for a simulated memory
};

const word_row word_rows[] = {
    {"bytes_one_block", {{0, 100}}, 1, false, {}, {}},
    {"bytes_sparse", {{0x10, 20}, {0x100, 33, true}, {0x1000, 16}}, 1, false, {}, {}},
    {"halfwords_le", {{0x200, 64}, {0x300, 30, true}}, 2, false, {}, {}},
    {"halfwords_be", {{0x200, 64, true}, {0x300, 30}}, 2, true, {}, {}},
    {"words_le_padded", {{0x101, 37}, {0x127, 5}, {0x200, 3}, {0x205, 2}}, 4, false, 0xA5, {}},
    {"words_be", {{0x1000, 256, true}, {0x2000, 4}}, 4, true, {}, 0x800},
    {"doublewords_le_padded", {{0x3, 61}, {0x80, 8}}, 8, false, 0x00, 0},
    {"doublewords_be", {{0x7FF8, 80, true}}, 8, true, {}, 0x7F00},
    {"words_high", {{0x80000000, 40}, {0x80010000, 4}}, 4, false, {}, {}, false},
};

zb::wide_args args_of(const word_row& r)
{
    zb::wide_args a;
    a.width = r.width;
    a.big_endian = r.be;
    a.fill = r.fill;
    a.start = r.start;
    return a;
}

TEST_F(zorbin_textfmt, srec_cat_reads_vmem_back_to_the_same_memory)
{
    REQUIRE_TOOL("srec_cat");
    for (const word_row& r : word_rows) {
        // srec_cat 1.64 reads words of up to 4 bytes; iverilog reads the wider ones.
        if (r.width > 4)
            continue;
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        const std::string file = path(std::string(r.name) + ".vmem");
        th::write_file(file, written(zb::write_vmem, t, args_of(r)));
        // srec_cat takes a word's first digits as its first byte; a little-endian word's
        // bytes it then swaps back.
        std::vector<std::string> how{"-VMem"};
        if (!r.be && r.width > 1)
            how.insert(how.end(), {"-Byte_Swap", std::to_string(r.width)});
        const memory m = padded(t.mem, r.width, r.fill.value_or(0));
        EXPECT_EQ(srec_cat(file, how), m);
        // An @ line where the words do not follow on, and only there.
        std::size_t runs = 0;
        for (auto it = m.begin(); it != m.end(); ++it)
            runs += it == m.begin() || std::prev(it)->first + 1 != it->first;
        const std::string text = th::read_file(file);
        EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '@')), runs);
    }
}

TEST_F(zorbin_textfmt, iverilog_readmemh_loads_vmem_into_the_same_words)
{
    REQUIRE_TOOL("iverilog");
    REQUIRE_TOOL("vvp");
    for (const word_row& r : word_rows) {
        if (!r.sim)
            continue;
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        const memory m = padded(t.mem, r.width, r.fill.value_or(0));
        const std::uint64_t words = (m.rbegin()->first + r.width) / r.width;
        th::write_file(path("m.vmem"), written(zb::write_vmem, t, args_of(r)));
        const std::string bits = std::to_string(8 * r.width);
        th::write_file(path("t.v"),
                       "module t;\n  reg [" + bits + "-1:0] mem [0:" + std::to_string(words - 1) +
                           "];\n  integer i;\n  initial begin\n    $readmemh(\"" + path("m.vmem") +
                           "\", mem);\n    for (i = 0; i < " + std::to_string(words) +
                           "; i = i + 1) $display(\"%h\", mem[i]);\n  end\nendmodule\n");
        th::result c = th::run_argv(th::which("iverilog"),
                                    {"iverilog", "-o", path("t.vvp"), path("t.v")});
        ASSERT_EQ(c.status, 0) << c.out << c.err;
        c = th::run_argv(th::which("vvp"), {"vvp", "-n", path("t.vvp")});
        ASSERT_EQ(c.status, 0) << c.err;
        EXPECT_EQ(c.err, "");
        std::istringstream out(c.out);
        std::string got;
        for (std::uint64_t i = 0; i < words && std::getline(out, got); ++i) {
            const std::uint64_t a = i * r.width;
            const std::string want = m.count(a) ? words_of(m, a, a + r.width, r.width, r.be)[0]
                                                : std::string(2 * r.width, 'X');
            for (char& ch : got)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            ASSERT_EQ(got, want) << "word " << i;
        }
    }
}

// srec_cat 1.64 places a MIF's [a..b] run at the byte address a whatever the width, and
// refuses runs of 255 bytes or more: the test spells runs out one word a line for it, and
// holds the runs themselves against the memory in mif_runs_and_header_match_the_memory.
std::string spelled_out(const std::string& mif)
{
    std::string out;
    for (const std::string& line : split_lines(mif)) {
        if (line.starts_with("\t[")) {
            const std::size_t dots = line.find(".."), close = line.find(']');
            const std::uint64_t a = std::stoull(line.substr(2, dots - 2), nullptr, 16);
            const std::uint64_t b = std::stoull(line.substr(dots + 2, close - dots - 2), nullptr, 16);
            for (std::uint64_t x = a; x <= b; ++x) {
                char addr[24];
                std::snprintf(addr, sizeof addr, "\t%llX", static_cast<unsigned long long>(x));
                out += addr + line.substr(close + 1) + "\r\n";
            }
        } else {
            out += line + "\r\n";
        }
    }
    return out;
}

// The memory a MIF describes: its start, its width and its words from the start on.
memory mif_memory(const word_row& r, const test_image& t)
{
    const memory m = padded(t.mem, r.width, r.fill.value_or(0));
    const std::uint64_t start = r.start.value_or(0);
    return filled(m, start, m.rbegin()->first + 1, r.fill.value_or(0));
}

TEST_F(zorbin_textfmt, srec_cat_reads_mif_back_to_the_same_memory)
{
    REQUIRE_TOOL("srec_cat");
    for (const word_row& r : word_rows) {
        // srec_cat 1.64 reads MIF words of up to 4 bytes; the next test holds the wider ones
        // against the memory.
        if (!r.sim || r.width > 4)
            continue;
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        const std::string file = path(std::string(r.name) + ".mif");
        th::write_file(file, spelled_out(written(zb::write_mif, t, args_of(r))));
        // srec_cat lays a MIF word down least significant byte first.
        std::vector<std::string> how{"-Memory_Initialization_File"};
        const std::uint64_t start = r.start.value_or(0);
        if (r.be && r.width > 1)
            how.insert(how.end(), {"-Byte_Swap", std::to_string(r.width)});
        how.insert(how.end(), {"-offset", std::to_string(start)});
        EXPECT_EQ(srec_cat(file, how), mif_memory(r, t));
    }
}

TEST_F(zorbin_textfmt, mif_runs_and_header_match_the_memory)
{
    for (const word_row& r : word_rows) {
        if (!r.sim)
            continue;
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        const std::vector<std::string> lines = split_lines(written(zb::write_mif, t, args_of(r)));
        const memory m = padded(t.mem, r.width, r.fill.value_or(0));
        const std::uint64_t start = r.start.value_or(0), end = m.rbegin()->first + 1;
        const std::uint64_t depth = (end - start) / r.width;
        ASSERT_GE(lines.size(), 9u);
        EXPECT_EQ(lines[0], "WIDTH=" + std::to_string(8 * r.width) + ";");
        EXPECT_EQ(lines[1], "DEPTH=" + std::to_string(depth) + ";");
        EXPECT_EQ(lines[3], "ADDRESS_RADIX=HEX;");
        EXPECT_EQ(lines[4], "DATA_RADIX=HEX;");
        EXPECT_EQ(lines[6], "CONTENT BEGIN");
        EXPECT_EQ(lines.back(), "END;");
        // Every word from the start to the end exactly once, in order; no two runs in a row
        // of the same word.
        const memory all = filled(m, start, end, r.fill.value_or(0));
        const std::vector<std::string> want = words_of(all, start, end, r.width, r.be);
        std::uint64_t next = 0;
        std::string last;
        for (std::size_t k = 7; k + 1 < lines.size(); ++k) {
            const std::string& l = lines[k];
            std::uint64_t a, b;
            std::size_t colon = l.find(" : ");
            ASSERT_NE(colon, std::string::npos) << l;
            if (l.starts_with("\t[")) {
                const std::size_t dots = l.find("..");
                a = std::stoull(l.substr(2, dots - 2), nullptr, 16);
                b = std::stoull(l.substr(dots + 2), nullptr, 16);
                EXPECT_LT(a, b) << l;
            } else {
                ASSERT_TRUE(l.starts_with("\t")) << l;
                a = b = std::stoull(l.substr(1, colon - 1), nullptr, 16);
            }
            const std::string word = l.substr(colon + 3, l.size() - colon - 4);
            ASSERT_EQ(a, next) << l;
            ASSERT_LT(b, depth) << l;
            EXPECT_NE(word, last) << l;
            for (std::uint64_t x = a; x <= b; ++x)
                ASSERT_EQ(word, want[x]) << l;
            EXPECT_EQ(l.back(), ';');
            next = b + 1;
            last = word;
        }
        EXPECT_EQ(next, depth);
    }
}

TEST_F(zorbin_textfmt, coe_holds_the_words_of_the_memory)
{
    for (const word_row& r : word_rows) {
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        zb::wide_args a = args_of(r);
        a.fill = a.fill.value_or(0xEE);  // COE has no addresses: gaps need a fill
        const std::vector<std::string> lines = split_lines(written(zb::write_coe, t, a));
        const memory m = padded(t.mem, r.width, *a.fill);
        const std::uint64_t start = r.start.value_or(m.begin()->first), end = m.rbegin()->first + 1;
        const std::vector<std::string> want = words_of(filled(m, start, end, *a.fill), start, end,
                                                       r.width, r.be);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0], "memory_initialization_radix=16;");
        EXPECT_EQ(lines[1], "memory_initialization_vector=");
        std::vector<std::string> got;
        for (std::size_t k = 2; k < lines.size(); ++k) {
            const bool last = k + 1 == lines.size();
            ASSERT_EQ(lines[k].back(), last ? ';' : ',') << lines[k];
            std::istringstream in(lines[k].substr(0, lines[k].size() - 1));
            std::size_t n = 0;
            for (std::string w; std::getline(in, w, ','); ++n)
                got.push_back(w);
            EXPECT_EQ(n * r.width, last ? n * r.width : 16u) << "16 bytes' worth a line";
        }
        EXPECT_EQ(got, want);
    }
}

struct titxt_row {
    const char* name;
    std::initializer_list<blk> blocks;
};

const titxt_row titxt_rows[] = {
    {"one_block", {{0xF000, 28}}},
    {"vectors", {{0xF000, 100}, {0xFFFE, 2}}},
    {"msp430x", {{0x4400, 17}, {0x10000, 40}, {0x1FFF0, 16}}},
    {"wide", {{0x12345678, 33}, {0x80000000, 1}}},
};

TEST_F(zorbin_textfmt, srec_cat_reads_titxt_back_to_the_same_memory)
{
    REQUIRE_TOOL("srec_cat");
    for (const titxt_row& r : titxt_rows) {
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        const std::string file = path(std::string(r.name) + ".txt");
        const std::string text = written(zb::write_titxt, t, {});
        EXPECT_TRUE(text.ends_with("\r\nq\r\n"));
        th::write_file(file, text);
        EXPECT_EQ(srec_cat(file, {"-Texas_Instruments_TeXT"}), t.mem);
    }
}

// The same layout as the tools expect, to the byte.
TEST_F(zorbin_textfmt, the_layout_of_each_format)
{
    const test_image t({{4, 18}});
    zb::wide_args a;
    a.width = 2;
    const std::string vmem = written(zb::write_vmem, t, a);
    const std::vector<std::string> v = split_lines(vmem);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0], "@00000002");
    char want[64];
    const bytes& d = t.data[0];
    std::snprintf(want, sizeof want, "%02X%02X %02X%02X", d[1], d[0], d[3], d[2]);
    EXPECT_TRUE(v[1].starts_with(want)) << v[1];
    EXPECT_EQ(v[1].size(), 8 * 5 - 1u);
    EXPECT_EQ(v[2].size(), 4u);

    const std::vector<std::string> ti = split_lines(written(zb::write_titxt, t, {}));
    ASSERT_EQ(ti.size(), 4u);
    EXPECT_EQ(ti[0], "@0004");
    std::snprintf(want, sizeof want, "%02X %02X %02X", d[0], d[1], d[2]);
    EXPECT_TRUE(ti[1].starts_with(want)) << ti[1];
    EXPECT_EQ(ti[1].size(), 16 * 3 - 1u);
    EXPECT_EQ(ti[3], "q");

    // Addresses past 32 bits take the digits they need.
    const test_image high({{0x123456789A, 2}});
    EXPECT_TRUE(written(zb::write_vmem, high, {}).starts_with("@123456789A\r\n"));
    EXPECT_TRUE(written(zb::write_titxt, high, {}).starts_with("@123456789A\r\n"));

    // The C array's last byte has no comma after it.
    zb::wide_args c;
    const std::vector<std::string> ca = split_lines(written(zb::write_carray, t, c));
    const auto close = std::find(ca.begin(), ca.end(), "};");
    ASSERT_NE(close, ca.end());
    std::snprintf(want, sizeof want, "  0x%02X, 0x%02X", d[16], d[17]);
    EXPECT_EQ(close[-1], want);
    EXPECT_EQ(close[-2].size(), 2 + 16 * 6 - 1u);
    EXPECT_EQ(close[1], "const unsigned long image_size = 18UL;");
    EXPECT_EQ(close[2], "const unsigned long image_address = 0x00000004UL;");

    const test_image gap({{2, 2}, {8, 2}});
    a.fill = 0x11;
    const std::vector<std::string> mif = split_lines(written(zb::write_mif, gap, a));
    const bytes& g = gap.data[0];
    std::snprintf(want, sizeof want, "\t0001 : %02X%02X;", g[1], g[0]);
    ASSERT_EQ(mif.size(), 12u);
    EXPECT_EQ(mif[7], "\t0000 : 1111;");
    EXPECT_EQ(mif[8], want);
    EXPECT_EQ(mif[9], "\t[0002..0003] : 1111;");
    EXPECT_EQ(mif[11], "END;");
}

struct carray_row {
    const char* name;
    std::initializer_list<blk> blocks;
    std::optional<unsigned char> fill;
    const char* given;    // -name
    const char* outfile;  // the output file the name may come from
    const char* array;    // the name it gets
};

const carray_row carray_rows[] = {
    {"one_block", {{0x08000000, 1000}}, {}, nullptr, nullptr, "image"},
    {"sparse_filled", {{0x100, 17}, {0x200, 16}}, 0xFF, "update", "x.c", "update"},
    {"one_byte", {{0, 1}}, {}, nullptr, "out/3d-boot.v2.c", "_3d_boot_v2"},
    {"keyword_file", {{0xFFFFFF00, 256}}, {}, nullptr, "C:\\fw\\int.c", "int_"},
};

TEST_F(zorbin_textfmt, gcc_and_gxx_compile_the_c_array_into_the_same_bytes)
{
    REQUIRE_TOOL("gcc");
    REQUIRE_TOOL("g++");
    const std::vector<std::string> warn{"-Wall", "-Wextra", "-Werror", "-pedantic"};
    auto tool = [&](const char* cc, std::vector<std::string> args) {
        args.insert(args.begin(), warn.begin(), warn.end());
        args.insert(args.begin(), cc);
        const th::result r = th::run_argv(th::which(cc), args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        return r.status == 0;
    };
    for (const carray_row& r : carray_rows) {
        SCOPED_TRACE(r.name);
        const test_image t(r.blocks);
        const auto name = zb::c_name(r.given ? std::optional<std::string_view>(r.given) : std::nullopt,
                                     r.outfile ? std::optional<std::string_view>(r.outfile) : std::nullopt);
        ASSERT_TRUE(name);
        EXPECT_EQ(*name, r.array);
        zb::wide_args a;
        a.fill = r.fill;
        a.name = *name;
        th::write_file(path("a.c"), written(zb::write_carray, t, a));
        const std::string n = *name;
        th::write_file(path("main.c"),
                       "#include <stdio.h>\nextern const unsigned char " + n +
                           "[];\nextern const unsigned long " + n + "_size, " + n +
                           "_address;\nint main(void)\n{\n    printf(\"%lX %lu\\n\", " + n +
                           "_address, " + n + "_size);\n    fwrite(" + n + ", 1, " + n +
                           "_size, stdout);\n    return 0;\n}\n");
        const memory m = filled(t.mem, t.mem.begin()->first, t.mem.rbegin()->first + 1,
                                r.fill.value_or(0));
        char head[64];
        std::snprintf(head, sizeof head, "%llX %zu\n",
                      static_cast<unsigned long long>(m.begin()->first), m.size());
        std::string want = head;
        for (const auto& [addr, v] : m)
            want += static_cast<char>(v);
        ASSERT_TRUE(tool("gcc", {"-std=c99", "-c", path("main.c"), "-o", path("main.o")}));
        // As C, and as C++ linked with a C program, which the extern "C" names allow.
        for (const char* cc : {"gcc", "g++"}) {
            SCOPED_TRACE(cc);
            const std::string lang = cc[1] == '+' ? "-xc++" : "-xc";
            const std::string std = cc[1] == '+' ? "-std=c++17" : "-std=c99";
            ASSERT_TRUE(tool(cc, {lang, std, "-c", path("a.c"), "-o", path("a.o")}));
            ASSERT_TRUE(tool(cc, {path("main.o"), path("a.o"), "-o", path("prog")}));
            const th::result run = th::run_argv(path("prog"), {"prog"});
            EXPECT_EQ(run.status, 0);
            EXPECT_TRUE(run.out == want) << run.out.substr(0, 40);
        }
    }
}

TEST_F(zorbin_textfmt, c_names_from_name_or_file)
{
    struct row {
        const char* given;
        const char* outfile;
        std::optional<std::string> name;
    };
    const row rows[] = {
        {"boot_v2", "x.c", "boot_v2"},
        {"_x", nullptr, "_x"},
        {"2fast", nullptr, {}},
        {"has-dash", nullptr, {}},
        {"", nullptr, {}},
        {"int", nullptr, {}},
        {"class", nullptr, {}},
        {"main", nullptr, {}},
        {nullptr, nullptr, "image"},
        {nullptr, "fw/app.bin.c", "app_bin"},
        {nullptr, "fw\\9lives.h", "_9lives"},
        {nullptr, "dir.d/noext", "noext"},
        {nullptr, ".hidden", "_hidden"},
        {nullptr, "dir/", "image"},
        {nullptr, "new.c", "new_"},
        {nullptr, "gr\xC3\xB6\xC3\x9F" "e.c", "gr____e"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.given ? r.given : "-") + " " + (r.outfile ? r.outfile : "-"));
        EXPECT_EQ(zb::c_name(r.given ? std::optional<std::string_view>(r.given) : std::nullopt,
                             r.outfile ? std::optional<std::string_view>(r.outfile) : std::nullopt),
                  r.name);
    }
}

struct split_row {
    std::initializer_list<blk> blocks;
    std::uint32_t n, k, w;
};

const split_row split_rows[] = {
    {{{0, 100}}, 2, 0, 1},
    {{{0, 100}}, 2, 1, 1},
    {{{0x1001, 77}, {0x2003, 9}}, 4, 3, 1},
    {{{0x1001, 77}, {0x2003, 9}}, 4, 1, 2},
    {{{0x8000, 256}, {0x8200, 3}}, 2, 1, 4},
    {{{0x8001, 255}}, 3, 2, 2},
    {{{0x80000000, 64}}, 8, 7, 1},
};

// The source in S-records, as srec_cat reads it.
std::string as_srec(const test_image& t)
{
    std::string s;
    EXPECT_EQ(zb::write_image(t.blocks, zb::motorola32, "", zb::string_sink(s)), zb::hex_result::ok);
    return s;
}

TEST_F(zorbin_textfmt, split_keeps_the_lane_srec_cat_keeps)
{
    REQUIRE_TOOL("srec_cat");
    for (const split_row& r : split_rows) {
        SCOPED_TRACE(testing::Message() << r.n << " " << r.k << " " << r.w);
        const test_image t(r.blocks);
        th::write_file(path("in.s"), as_srec(t));
        zb::image out;
        const zb::lane_error e = zb::split_lanes(t.img, r.n, r.k, r.w, out);
        ASSERT_EQ(e.f, zb::lane_fault::none) << zb::lane_message(e, "in");
        EXPECT_EQ(memory_of(out),
                  srec_cat(path("in.s"), {"-Motorola", "-SPlit", std::to_string(r.n * r.w),
                                          std::to_string(r.k * r.w), std::to_string(r.w)}));
    }
}

struct swap_row {
    std::initializer_list<blk> blocks;
    unsigned w;
    std::optional<unsigned char> fill;
};

const swap_row swap_rows[] = {
    {{{0, 100}}, 2, {}},
    {{{0x1000, 64}, {0x2000, 8}}, 4, {}},
    {{{0x1001, 66}, {0x1045, 2}, {0x2003, 9}}, 4, 0xFF},
    {{{0x7, 40}}, 8, 0x00},
    {{{0x80000000, 16}}, 8, {}},
};

TEST_F(zorbin_textfmt, swap_gives_the_bytes_srec_cat_byte_swap_gives)
{
    REQUIRE_TOOL("srec_cat");
    for (const swap_row& r : swap_rows) {
        SCOPED_TRACE(testing::Message() << r.w);
        const test_image t(r.blocks);
        // srec_cat swaps what it has; the padded words are given to it whole.
        const memory m = padded(t.mem, r.w, r.fill.value_or(0));
        std::string srec;
        for (const auto& [a, v] : m) {
            char line[40];
            std::snprintf(line, sizeof line, "S306%08X%02X%02X\n", static_cast<unsigned>(a), v,
                          static_cast<unsigned>((0xFF - (6 + (a & 0xFF) + ((a >> 8) & 0xFF) +
                                                         ((a >> 16) & 0xFF) + ((a >> 24) & 0xFF) +
                                                         v)) & 0xFF));
            srec += line;
        }
        th::write_file(path("in.s"), srec);
        zb::image out;
        const zb::lane_error e = zb::swap_words(t.img, r.w, r.fill, out);
        ASSERT_EQ(e.f, zb::lane_fault::none) << zb::lane_message(e, "in");
        EXPECT_EQ(memory_of(out), srec_cat(path("in.s"), {"-Motorola", "-Byte_Swap",
                                                          std::to_string(r.w)}));
        // Parts ascend and do not overlap, and keep the names of the parts they came from.
        std::uint64_t next = 0;
        for (const zb::part& p : out.parts) {
            EXPECT_GE(p.from.load, next);
            next = zb::end_of(p);
            EXPECT_TRUE(p.from.name == "p" || p.from.name == "fill");
        }
    }
}

// Every refusal comes before the first byte, with a message.
TEST_F(zorbin_textfmt, refusals_write_nothing)
{
    struct row {
        const char* what;
        writer f;
        std::initializer_list<blk> blocks;
        unsigned width;
        std::optional<unsigned char> fill;
        std::optional<std::uint64_t> start;
        const char* name;
        zb::wide_fault fault;
    };
    const row rows[] = {
        {"width 3", zb::write_vmem, {{0, 12}}, 3, {}, {}, "image", zb::wide_fault::width},
        {"width 16", zb::write_mif, {{0, 16}}, 16, {}, {}, "image", zb::wide_fault::width},
        {"ragged start", zb::write_vmem, {{1, 3}}, 2, {}, {}, "image", zb::wide_fault::misaligned},
        {"ragged end", zb::write_mif, {{0, 6}}, 4, {}, {}, "image", zb::wide_fault::misaligned},
        {"ragged coe", zb::write_coe, {{0, 8}, {16, 7}}, 8, {}, {}, "image", zb::wide_fault::misaligned},
        {"start not a word", zb::write_mif, {{8, 8}}, 4, {}, 2, "image", zb::wide_fault::start_misaligned},
        {"start above", zb::write_coe, {{8, 8}}, 4, {}, 12, "image", zb::wide_fault::start_above},
        {"coe gap", zb::write_coe, {{0, 8}, {16, 8}}, 4, {}, {}, "image", zb::wide_fault::gap},
        {"coe gap before", zb::write_coe, {{16, 8}}, 4, {}, 0, "image", zb::wide_fault::gap},
        {"carray gap", zb::write_carray, {{0, 8}, {9, 8}}, 1, {}, {}, "image", zb::wide_fault::gap},
        {"carray name", zb::write_carray, {{0, 8}}, 1, {}, {}, "a b", zb::wide_fault::name},
        {"carray far", zb::write_carray, {{0x100000000, 8}}, 1, {}, {}, "image", zb::wide_fault::too_far},
        {"empty mif", zb::write_mif, {}, 1, {}, {}, "image", zb::wide_fault::empty},
        {"empty coe", zb::write_coe, {{0, 0}}, 1, {}, {}, "image", zb::wide_fault::empty},
        {"empty carray", zb::write_carray, {}, 1, {}, {}, "image", zb::wide_fault::empty},
        {"top", zb::write_titxt, {{0xFFFFFFFFFFFFFFF8, 4}}, 1, {}, {}, "image", zb::wide_fault::too_high},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<zb::block> blocks;
        static const bytes zeros(64);
        for (const blk& b : r.blocks)
            blocks.push_back({b.base, {std::span(zeros).first(b.size)}});
        zb::wide_args a;
        a.width = r.width;
        a.fill = r.fill;
        a.start = r.start;
        a.name = r.name;
        std::string s;
        const zb::wide_error e = r.f(blocks, a, zb::string_sink(s));
        EXPECT_EQ(e.f, r.fault);
        EXPECT_EQ(s, "");
        const std::string msg = zb::wide_message(e, "in.elf", "-fmt");
        EXPECT_TRUE(msg.ends_with("\n") && msg.size() > 20) << msg;
    }
    // A C array of more than 4 GiB, checked without writing it: 4097 pieces of 1 MiB.
    static const bytes mib(1 << 20);
    zb::block huge{0, {}};
    huge.pieces.assign(4097, mib);
    EXPECT_EQ(zb::check_carray({&huge, 1}, {}).f, zb::wide_fault::too_far);
    huge.pieces.pop_back();
    huge.pieces.pop_back();
    EXPECT_EQ(zb::check_carray({&huge, 1}, {}).f, zb::wide_fault::none);

    // The empty image where a format can say so.
    std::string s;
    EXPECT_EQ(zb::write_titxt({}, {}, zb::string_sink(s)).f, zb::wide_fault::none);
    EXPECT_EQ(s, "q\r\n");
    s.clear();
    EXPECT_EQ(zb::write_vmem({}, {}, zb::string_sink(s)).f, zb::wide_fault::none);
    EXPECT_EQ(s, "");
}

TEST_F(zorbin_textfmt, lane_refusals)
{
    const test_image t({{1, 6}});
    struct row {
        const char* what;
        bool split;
        std::uint32_t n, k, w;
        std::optional<unsigned char> fill;
        zb::lane_fault fault;
    };
    const row rows[] = {
        {"no lanes", true, 0, 0, 1, {}, zb::lane_fault::lanes},
        {"lane past", true, 2, 2, 1, {}, zb::lane_fault::lane},
        {"lane 0 wide", true, 2, 0, 0, {}, zb::lane_fault::lane_width},
        {"lane empty", true, 8, 0, 1, {}, zb::lane_fault::lane_empty},
        {"swap 3", false, 0, 0, 3, {}, zb::lane_fault::width},
        {"swap 1", false, 0, 0, 1, {}, zb::lane_fault::width},
        {"swap ragged", false, 0, 0, 2, {}, zb::lane_fault::misaligned},
        {"swap padded", false, 0, 0, 4, 0, zb::lane_fault::none},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        zb::image out;
        const zb::lane_error e = r.split ? zb::split_lanes(t.img, r.n, r.k, r.w, out)
                                         : zb::swap_words(t.img, r.w, r.fill, out);
        EXPECT_EQ(e.f, r.fault);
        if (e.f != zb::lane_fault::none) {
            EXPECT_TRUE(out.parts.empty());
            EXPECT_TRUE(zb::lane_message(e, "in").ends_with("\n"));
        }
    }
}

// Output goes out in large blocks: a 4 MiB image reaches the sink in a few calls of up to
// 256 KiB each, in every format.
TEST_F(zorbin_textfmt, large_images_go_out_in_large_blocks)
{
    bytes data(4 << 20);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 131);
    const zb::block whole{0, {data}};
    struct counted {
        std::size_t calls = 0, bytes = 0;
    } c;
    const zb::sink out{&c, [](void* ctx, const char*, std::size_t n) {
                           auto* k = static_cast<counted*>(ctx);
                           k->calls++;
                           k->bytes += n;
                           return true;
                       }};
    // A sink that fails stops the writer, which says so.
    const zb::sink broken{&c, [](void* ctx, const char*, std::size_t) {
                              static_cast<counted*>(ctx)->calls++;
                              return false;
                          }};
    zb::wide_args a;
    a.width = 4;
    for (writer f : {zb::write_vmem, zb::write_mif, zb::write_coe, zb::write_titxt, zb::write_carray}) {
        c = {};
        ASSERT_EQ(f({&whole, 1}, a, out).f, zb::wide_fault::none);
        EXPECT_GT(c.bytes, 8u << 20);
        EXPECT_LE(c.calls, c.bytes / (128 << 10) + 2);
        c = {};
        EXPECT_EQ(f({&whole, 1}, a, broken).f, zb::wide_fault::write_error);
        EXPECT_EQ(c.calls, 1u);
    }
}

// End to end: the real zorbin, its input S-records of a test image, its output compared with
// what the writers above, held against the tools, write for the image the options make.

namespace fs = std::filesystem;

// A memory as the blocks of an image: each run of consecutive addresses one block.
struct memory_blocks {
    std::vector<bytes> data;
    std::vector<zb::block> blocks;

    explicit memory_blocks(const memory& m)
    {
        std::vector<std::uint64_t> bases;
        for (auto it = m.begin(); it != m.end(); ++it) {
            if (it == m.begin() || std::prev(it)->first + 1 != it->first) {
                bases.push_back(it->first);
                data.emplace_back();
            }
            data.back().push_back(it->second);
        }
        for (std::size_t k = 0; k < data.size(); ++k)
            blocks.push_back({bases[k], {data[k]}});
    }
};

// The memory -range and -fill leave: the range's data, every gap of the range filled, or
// without one every gap between the lowest and the highest address.
memory finished(const memory& m, std::optional<zb::span_of> range, std::optional<unsigned char> fill)
{
    memory out;
    for (const auto& [a, v] : m)
        if (!range || (a >= range->lo && a < range->end))
            out[a] = v;
    if (fill && !out.empty())
        out = range ? filled(out, range->lo, range->end, *fill)
                    : filled(out, out.begin()->first, out.rbegin()->first + 1, *fill);
    return out;
}

// The image's S-records, as zorbin reads them from in.s.
std::string srec_input(const test_image& t)
{
    return as_srec(t);
}

// The option word of format f (by appends: GCC 12 warns falsely about "-" + a string).
std::string dash(zb::fmt f)
{
    std::string s = "-";
    return s.append(zb::formats[f].word);
}

std::string hex(std::uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

struct run_row {
    const char* what;
    std::initializer_list<blk> blocks;
    zb::fmt format;
    writer f;
    unsigned width = 1;
    bool be = false;
    std::optional<unsigned char> fill{};
    std::optional<zb::span_of> range{};
    const char* given = nullptr;  // -name
    const char* outfile = "out.txt";  // none: standard output
    const char* array = "image";      // the C array's name
};

const run_row run_rows[] = {
    {"vmem bytes, sparse", {{0x10, 20}, {0x100, 33, true}, {0x1000, 16}}, zb::vmem, zb::write_vmem},
    {"vmem words big-endian", {{0x1000, 256, true}, {0x2000, 4}}, zb::vmem, zb::write_vmem, 4, true},
    {"vmem halfwords padded", {{0x101, 37}, {0x200, 3}}, zb::vmem, zb::write_vmem, 2, false, 0xA5},
    {"mif halfwords, gaps 0", {{0x200, 64}, {0x300, 30, true}}, zb::mif, zb::write_mif, 2},
    {"mif words over a range", {{0x1000, 256, true}}, zb::mif, zb::write_mif, 4, true, 0,
     zb::span_of{0x800, 0x2800}},
    {"coe words, gap filled", {{0x100, 20}, {0x120, 12}}, zb::coe, zb::write_coe, 4, false, 0xFF},
    {"coe doublewords of a range", {{0x108, 40}}, zb::coe, zb::write_coe, 8, false, 0,
     zb::span_of{0x100, 0x140}},
    {"titxt, sparse", {{0xF000, 40}, {0xFFE0, 32}}, zb::titxt, zb::write_titxt},
    {"carray named for its file", {{0x08000000, 1000}}, zb::carray, zb::write_carray, 1, false,
     {}, {}, nullptr, "3d-boot.v2.c", "_3d_boot_v2"},
    {"carray by -name, filled", {{0x100, 17}, {0x200, 16}}, zb::carray, zb::write_carray, 1,
     false, 0, {}, "update", "x.c", "update"},
    {"carray to standard output", {{0x20, 5}}, zb::carray, zb::write_carray, 1, false, {}, {},
     nullptr, nullptr, "image"},
};

TEST_F(zorbin_textfmt, each_format_end_to_end)
{
    for (const run_row& r : run_rows) {
        SCOPED_TRACE(r.what);
        const test_image t(r.blocks);
        th::write_file(path("in.s"), srec_input(t));
        std::vector<std::string> args{dash(r.format), "in.s"};
        if (r.outfile)
            args.push_back(r.outfile);
        if (r.width != 1)
            args.insert(args.end(), {"-width", std::to_string(r.width)});
        if (r.be)
            args.push_back("-be");
        if (r.fill)
            args.insert(args.end(), {"-fill", std::to_string(*r.fill)});
        if (r.range)
            args.insert(args.end(), {"-range", hex(r.range->lo), hex(r.range->end - r.range->lo)});
        if (r.given)
            args.insert(args.end(), {"-name", r.given});
        const th::result run = th::run("zorbin", args, in_dir());
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.err, "");
        const std::string got = r.outfile ? th::read_file(path(r.outfile)) : run.out;

        const memory m = finished(t.mem, r.range, r.fill);
        const memory_blocks mb(m);
        zb::wide_args a;
        a.width = r.width;
        a.big_endian = r.be;
        a.fill = r.fill;
        a.start = r.range ? std::optional<std::uint64_t>(r.range->lo) : std::nullopt;
        a.name = r.array;
        std::string want;
        ASSERT_EQ(r.f(mb.blocks, a, zb::string_sink(want)).f, zb::wide_fault::none);
        EXPECT_TRUE(got == want) << got.substr(0, 200);
        if (r.format == zb::carray) {
            EXPECT_NE(got.find("const unsigned char " + std::string(r.array) + "[] = {"),
                      std::string::npos);
        }
    }
}

// srec_cat reads zorbin's own files back to the memory of its input.
TEST_F(zorbin_textfmt, srec_cat_reads_what_zorbin_writes)
{
    REQUIRE_TOOL("srec_cat");
    const test_image t({{0x1000, 100}, {0x1080, 32, true}, {0x2000, 8}});
    th::write_file(path("in.s"), srec_input(t));
    struct row {
        std::vector<std::string> args;
        std::vector<std::string> how;  // srec_cat's reading of the output
    };
    const row rows[] = {
        {{"-titxt"}, {"-Texas_Instruments_TeXT"}},
        {{"-vmem"}, {"-VMem"}},
        {{"-vmem", "-width", "4", "-be"}, {"-VMem"}},
        {{"-vmem", "-width", "2"}, {"-VMem", "-Byte_Swap", "2"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"in.s", "out.txt"});
        const th::result run = th::run("zorbin", args, in_dir());
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(srec_cat(path("out.txt"), r.how), t.mem);
    }
}

// -swap and -split after -range, -fill and the checksum, on any format, against srec_cat's
// -byte-swap and -split after its own crop, fill and CRC; a text format's words against its
// writer on the lane srec_cat keeps.
TEST_F(zorbin_textfmt, swap_and_split_end_to_end_as_srec_cat_does_them)
{
    REQUIRE_TOOL("srec_cat");
    struct row {
        const char* what;
        std::initializer_list<blk> blocks;
        std::vector<std::string> options;  // zorbin's
        std::vector<std::string> filters;  // srec_cat's
        zb::fmt format = zb::motorola32;
        writer f = nullptr;  // a text format's writer
        unsigned width = 1;
    };
    const row rows[] = {
        {"swap 2", {{0, 100}}, {"-swap", "2"}, {"-Byte_Swap", "2"}},
        {"swap 4, two blocks", {{0x1000, 64}, {0x2000, 8}}, {"-swap", "4"}, {"-Byte_Swap", "4"}},
        {"swap 8 after the fill", {{0x1000, 60}, {0x1040, 20}}, {"-fill", "0xFF", "-swap", "8"},
         {"-fill", "0xFF", "0x1000", "0x1058", "-Byte_Swap", "8"}},
        {"split 2 0", {{0, 100}}, {"-split", "2", "0"}, {"-SPlit", "2", "0"}},
        {"split 4 3, two blocks", {{0x1001, 77}, {0x2003, 9}}, {"-split", "4", "3"},
         {"-SPlit", "4", "3"}},
        {"split 2 1 2", {{0x8000, 256}}, {"-split", "2", "1", "2"}, {"-SPlit", "4", "2", "2"}},
        {"split 3 2 2 as Intel hex", {{0x8001, 255}}, {"-split", "3", "2", "2"},
         {"-SPlit", "6", "4", "2"}, zb::intel32},
        {"crc, then swap, then split", {{0x1000, 0x100}},
         {"-split", "2", "1", "2", "-swap", "4", "-crc", "crc32", "0x1100"},
         {"-crc32-l-e", "0x1100", "-Byte_Swap", "4", "-SPlit", "4", "2", "2"}},
        {"range and fill, then split", {{0x1000, 64}, {0x1080, 64}, {0x3000, 4}},
         {"-range", "0x1000", "0x100", "-fill", "0", "-split", "2", "0"},
         {"-crop", "0x1000", "0x1100", "-fill", "0", "0x1000", "0x1100", "-SPlit", "2", "0"}},
        {"a lane as vmem words", {{0x8000, 256}}, {"-width", "2", "-split", "2", "1", "2"},
         {"-SPlit", "4", "2", "2"}, zb::vmem, zb::write_vmem, 2},
        {"a swapped lane as mif", {{0x8000, 64}}, {"-swap", "2", "-split", "2", "0"},
         {"-Byte_Swap", "2", "-SPlit", "2", "0"}, zb::mif, zb::write_mif},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const test_image t(r.blocks);
        th::write_file(path("in.s"), srec_input(t));
        std::vector<std::string> args = r.options;
        args.insert(args.end(), {dash(r.format), "in.s", "out"});
        const th::result run = th::run("zorbin", args, in_dir());
        ASSERT_EQ(run.status, 0) << run.out;
        const memory want = srec_cat(path("in.s"), [&] {
            std::vector<std::string> how{"-Motorola"};
            how.insert(how.end(), r.filters.begin(), r.filters.end());
            return how;
        }());
        ASSERT_FALSE(want.empty());
        if (r.f) {
            const memory_blocks mb(want);
            zb::wide_args a;
            a.width = r.width;
            std::string text;
            ASSERT_EQ(r.f(mb.blocks, a, zb::string_sink(text)).f, zb::wide_fault::none);
            EXPECT_TRUE(th::read_file(path("out")) == text);
        } else if (r.format == zb::intel32) {
            EXPECT_EQ(srec_cat(path("out"), {"-Intel"}), want);
        } else {
            EXPECT_EQ(srec_memory(th::read_file(path("out"))), want);
        }
    }
}

// -raw and -range after -split: the range in the lane's addresses, the bytes the lane keeps.
TEST_F(zorbin_textfmt, raw_after_split_writes_the_lane_of_the_range)
{
    std::string data;
    for (int k = 0; k < 64; ++k)
        data += static_cast<char>(k);
    th::write_file(path("in.bin"), data);
    const th::result run = th::run("zorbin", {"-raw", "-bin", "-base", "0x100", "-range", "0x110",
                                              "0x20", "-split", "4", "1", "in.bin", "out.bin"},
                                   in_dir());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(th::read_file(path("out.bin")), std::string("\x11\x15\x19\x1D\x21\x25\x29\x2D"));
    const th::result info = th::run("zorbin", {"-raw", "-info", "-bin", "-base", "0x100", "-range",
                                               "0x110", "0x20", "-split", "4", "1", "in.bin"},
                                    in_dir());
    EXPECT_NE(info.out.find("raw    from 0x00000044, 8 bytes\r\n"), std::string::npos) << info.out;
}

// -info tells what -swap and -split did, after the other operations.
TEST_F(zorbin_textfmt, info_shows_swap_and_split)
{
    th::write_file(path("in.bin"), std::string("\x01\x02\x03\x04\x05\x06"));
    const th::result r = th::run("zorbin", {"-info", "-bin", "-fill", "0xEE", "-range", "0", "8",
                                            "-swap", "4", "-split", "2", "1", "in.bin"},
                                 in_dir());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, th::lines({
                         "in.bin: plain binary, entry point none",
                         "block  first       last        bytes",
                         "    1  0x00000000  0x00000003      4",
                         "piece  run         load        offset  bytes  placed by",
                         "file   0x00000000  0x00000000  -           3  -split 2 1",
                         "fill   0x00000003  0x00000003  -           1  -split 2 1",
                         "range  0x00000000 to 0x00000007, 0 bytes dropped",
                         "fill   0xEE, 1 gaps, 2 bytes",
                         "swap   4-byte words, 0 bytes of fill at their ends",
                         "split  lane 1 of 2, 1 byte wide: 4 bytes",
                     }));
}

// Each segment of an AIF chain is its own C array, named for its own file.
TEST_F(zorbin_textfmt, a_chain_of_c_arrays_each_named_for_its_file)
{
    const th::result r = th::run("zorbin", {"-carray", th::sample("app.aif")}, in_dir());
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* name : {"ROOT", "VECTORS", "CALTABLE"}) {
        SCOPED_TRACE(name);
        const std::string text = th::read_file(path(std::string(name) + ".hex"));
        EXPECT_NE(text.find("const unsigned char " + std::string(name) + "[] = {"), std::string::npos);
        EXPECT_NE(text.find("const unsigned long " + std::string(name) + "_size = "), std::string::npos);
    }
    EXPECT_NE(th::read_file(path("VECTORS.hex")).find("VECTORS_size = 32UL;"), std::string::npos);
}

// Every refusal: its message, exit 1, no file written, an old file untouched; a refusal of
// the format's own check comes before its output is even opened.
TEST_F(zorbin_textfmt, refusals_end_to_end)
{
    th::write_file(path("in.bin"), std::string("\x01\x02\x03\x04\x05\x06"));
    th::write_file(path("4.bin"), std::string(8, 'x'));
    const test_image gap({{0x100, 8}, {0x110, 8}});
    th::write_file(path("gap.s"), srec_input(gap));
    th::write_file(path("out.x"), "old\n");
    const std::string aif = th::sample("app.aif");
    const std::string coe_gap =
        "gap.s has no data at 0x108 to 0x10F, and -coe writes no addresses: give -fill to fill "
        "the gap\r\n";
    const std::string ragged =
        "The block of in.bin at 0x0 to 0x5 is not in whole 4-byte words; give -fill to pad its "
        "ends\r\n";
    const std::string words = "-vmem, -mif or -coe";
    struct row {
        const char* what;
        std::vector<std::string> args;
        std::string out;
        const char* err = "";
    };
    const row rows[] = {
        {"-width 3", {"-vmem", "-width", "3"}, "-width takes a word of 1, 2, 4 or 8 bytes, not 3\r\n"},
        {"-width 16", {"-mif", "-width", "16"}, "-width takes a word of 1, 2, 4 or 8 bytes, not 16\r\n"},
        {"-width of records", {"-intel32", "-width", "2"},
         "Option -width needs " + words + ", not -intel32\r\n"},
        {"-be of bytes", {"-titxt", "-be"}, "Option -be needs " + words + ", not -titxt\r\n"},
        {"-be of raw bytes", {"-be", "-raw"}, "Option -be needs " + words + ", not -raw\r\n"},
        {"-name of words", {"-vmem", "-name", "boot"}, "Option -name needs -carray, not -vmem\r\n"},
        {"-name no identifier", {"-carray", "-name", "2fast"},
         "-name 2fast cannot name a C array: it is no C identifier, or a keyword\r\n"},
        {"-name a keyword", {"-carray", "-name", "int"},
         "-name int cannot name a C array: it is no C identifier, or a keyword\r\n"},
        {"-swap 3", {"-intel32", "-swap", "3"}, "-swap takes a word of 2, 4 or 8 bytes, not 3\r\n"},
        {"-swap 1", {"-intel32", "-swap", "1"}, "-swap takes a word of 2, 4 or 8 bytes, not 1\r\n"},
        {"no lanes", {"-intel32", "-split", "0", "0"}, "-split needs 1 or more lanes, not 0\r\n"},
        {"lane past", {"-intel32", "-split", "2", "2"},
         "-split 2 2: the lane must be one of 0 to 1\r\n"},
        {"lane 0 wide", {"-intel32", "-split", "2", "0", "0"},
         "-split takes lanes 1 or more bytes wide, not 0\r\n"},
        {"a bad width", {"-intel32", "-split", "2", "0", "4x"}, "Bad number on -split option\r\n"},
        {"a file name where the width may stand", {"-intel32", "-split", "2", "0", "4.bin"},
         "Bad number on -split option\r\n"},
        {"an empty lane", {"-intel32", "-split", "8", "7"}, "Lane 7 of 8 of in.bin holds no byte\r\n"},
        {"swap of ragged words", {"-intel32", "-swap", "4"}, ragged},
        {"vmem of ragged words", {"-vmem", "-width", "4"}, ragged},
        {"mif from no word", {"-mif", "-width", "4", "-base", "2", "-fill", "0", "-range", "2", "8"},
         "The -range start 0x2 is not a multiple of the 4-byte word of -mif\r\n"},
        {"coe gap", {"-coe", "gap.s", "out.x"}, coe_gap},
        {"carray gap", {"-carray", "gap.s", "out.x"},
         "gap.s has no data at 0x108 to 0x10F, and -carray writes no addresses: give -fill to "
         "fill the gap\r\n"},
        {"refused before the output is opened", {"-coe", "gap.s", "nodir/out.x"}, coe_gap},
        {"a chain", {"-intel32", "-split", "2", "0", aif, "out.x"},
         "Options -swap and -split need one image: " + aif +
             " has a chain of segments, each written to a file of its own\r\n",
         "warning: output file name will only apply to root segment\r\n"},
    };
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> args = r.args;
        if (std::find(args.begin(), args.end(), "out.x") == args.end() &&
            std::find(args.begin(), args.end(), "nodir/out.x") == args.end())
            args.insert(args.end(), {"-bin", "in.bin", "out.x"});
        const th::result run = th::run("zorbin", args, in_dir());
        EXPECT_EQ(run.out, r.out);
        EXPECT_EQ(run.err, r.err);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(th::read_file(path("out.x")), "old\n");
        EXPECT_EQ(listing(), before);
    }
    // A file whose name begins with a digit, after -split, is written ./NAME.
    const th::result run = th::run("zorbin", {"-intel32", "-split", "2", "0", "./4.bin", "out.x"},
                                   in_dir());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(th::read_file(path("out.x")), th::lines({":020000040000FA", ":04000000787878781C",
                                                      ":00000001FF"}));
}

}  // namespace
