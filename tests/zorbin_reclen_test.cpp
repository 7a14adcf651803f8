// zorbin's -reclen and -header: which formats take them and how far, every length read back
// by srec_cat and by the format's own reader, one line per record, and the S0 header as
// srec_info reads it.
#include "write/engine.h"
#include "harness.h"
#include "read/hexin.h"

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

namespace {

using bytes = std::vector<unsigned char>;
using memory = std::map<std::uint64_t, unsigned char>;

bytes random_bytes(std::size_t n, std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    bytes b(n);
    for (auto& v : b)
        v = static_cast<unsigned char>(rng());
    return b;
}

std::string records(const bytes& data, zb::fmt f, std::uint32_t base, std::size_t reclen,
                    std::optional<std::string_view> header = {})
{
    std::string out;
    const zb::block b{base, {data}};
    EXPECT_EQ(zb::write_image({&b, 1}, f, "in.bin", zb::string_sink(out), {}, {}, {}, {reclen, header}),
              zb::hex_result::ok);
    return out;
}

std::size_t line_count(const std::string& s)
{
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
}

// What srec_cat wrote as S1/S2/S3 records.
memory srec_memory(const std::string& srec)
{
    memory m;
    std::istringstream in(srec);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3')
            continue;
        const std::size_t alen = static_cast<std::size_t>(line[1] - '0') + 1;
        const std::size_t count = std::stoul(line.substr(2, 2), nullptr, 16);
        std::uint64_t addr = std::stoul(line.substr(4, 2 * alen), nullptr, 16);
        for (std::size_t k = 0; k + alen + 1 < count; ++k)
            m[addr++] = static_cast<unsigned char>(
                std::stoul(line.substr(4 + 2 * alen + 2 * k, 2), nullptr, 16));
    }
    return m;
}

// What a loader of format f ends up with: the data, and the FF of an odd last sdsmac word.
memory expected(zb::fmt f, std::uint32_t base, bytes d)
{
    if (f == zb::sdsmac)
        d.resize((d.size() + 1) / 2 * 2, 0xFF);
    memory m;
    for (std::size_t k = 0; k < d.size(); ++k)
        m[base + k] = d[k];
    return m;
}

// The formats that take -reclen, their longest record and, where srec_cat reads them, its
// name for them.
struct variable {
    zb::fmt format;
    std::size_t most;
    const char* srec_cat;
};

constexpr variable takers[] = {
    {zb::cosmac, 255, "-COsmac"},
    {zb::mostech, 255, "-MOS_Technologies"},
    {zb::exorciser, 252, "-Motorola"},
    {zb::mds, 255, "-Intel"},
    {zb::signetics, 255, "-SIGnetics"},
    {zb::tektronix, 255, "-Tektronix"},
    {zb::exormacs, 251, "-Motorola"},
    {zb::mcs86, 255, "-Intel"},
    {zb::sdsmac, 254, "-Texas_Instruments_Tagged"},
    {zb::motorola32, 250, "-Motorola"},
    {zb::intel32, 255, "-Intel"},
    {zb::ihf, 1023, nullptr},
};

// The lengths tried: short, around the usual 16 and 32, and the format's most.
std::vector<std::size_t> lengths(const variable& s)
{
    std::vector<std::size_t> all{1, 2, 3, 5, 8, 15, 17, 31, 32, 33, 64, 100, 128, s.most};
    if (s.format == zb::ihf)
        all.insert(all.end(), {255, 256, 1021, 1022});
    std::erase_if(all, [&](std::size_t n) { return s.format == zb::sdsmac && n % 2 != 0; });
    return all;
}

class zorbin_reclen : public th::tmpdir {};

// Each row is a command line and what zorbin says to it: the count field's limit of every
// format that takes -reclen, one past it, and the formats that cannot take it.
TEST_F(zorbin_reclen, each_format_takes_its_lengths_or_refuses_the_option)
{
    th::write_file(path("in.bin"), std::string(100, 'x'));
    struct row {
        std::vector<std::string> args;
        std::string says;  // empty: converted, exit 0
    };
    auto range = [](const std::string& n, const std::string& f, const std::string& takes) {
        return "Record length " + n + " on -reclen option, -" + f + " takes " + takes + "\r\n";
    };
    const row rows[] = {
        {{"-cosmac", "-reclen", "255"}, ""},
        {{"-cosmac", "-reclen", "256"}, range("256", "cosmac", "1 to 255")},
        {{"-fairbug", "-reclen", "8"},
         "Format -fairbug has records of one length, -reclen does not apply\r\n"},
        {{"-mostech", "-reclen", "255"}, ""},
        {{"-mostech", "-reclen", "256"}, range("256", "mostech", "1 to 255")},
        {{"-exorciser", "-reclen", "252"}, ""},
        {{"-exorciser", "-reclen", "253"}, range("253", "exorciser", "1 to 252")},
        {{"-mds", "-reclen", "255"}, ""},
        {{"-mds", "-reclen", "256"}, range("256", "mds", "1 to 255")},
        {{"-signetics", "-reclen", "255"}, ""},
        {{"-signetics", "-reclen", "256"}, range("256", "signetics", "1 to 255")},
        {{"-tektronix", "-reclen", "255"}, ""},
        {{"-tektronix", "-reclen", "256"}, range("256", "tektronix", "1 to 255")},
        {{"-exormacs", "-reclen", "251"}, ""},
        {{"-exormacs", "-reclen", "252"}, range("252", "exormacs", "1 to 251")},
        {{"-mcs86", "-reclen", "255"}, ""},
        {{"-mcs86", "-reclen", "256"}, range("256", "mcs86", "1 to 255")},
        {{"-sdsmac", "-reclen", "254"}, ""},
        {{"-sdsmac", "-reclen", "7"}, range("7", "sdsmac", "an even length from 2 to 254")},
        {{"-sdsmac", "-reclen", "256"}, range("256", "sdsmac", "an even length from 2 to 254")},
        {{"-motorola32", "-reclen", "250"}, ""},
        {{"-motorola32", "-reclen", "251"}, range("251", "motorola32", "1 to 250")},
        {{"-intel32", "-reclen", "0x20"}, ""},
        {{"-intel32", "-reclen", "0"}, range("0", "intel32", "1 to 255")},
        {{"-intel32", "-reclen", "256"}, range("256", "intel32", "1 to 255")},
        {{"-ihf", "-reclen", "1023"}, ""},
        {{"-ihf", "-reclen", "1024"}, range("1024", "ihf", "1 to 1023")},
        {{"-raw", "-reclen", "16"}, "Option -reclen needs a format of records, not -raw\r\n"},
        {{"-vmem", "-reclen", "16"}, "Option -reclen needs a format of records, not -vmem\r\n"},
        {{"-info", "-reclen", "16"}, ""},  // without a format nothing to refuse
        {{"-intel32", "-reclen", "12a"}, "Bad number on -reclen option\r\n"},
        {{"-intel32", "-reclen"}, "No argument on -reclen option\r\n"},
    };
    for (const row& r : rows) {
        std::vector<std::string> args = r.args;
        args.insert(args.begin(), {"-bin", "in.bin"});
        SCOPED_TRACE(r.args.front() + " " + r.args.back());
        const th::result res = th::run("zorbin", args, in_dir());
        if (r.says.empty()) {
            EXPECT_EQ(res.status, 0) << res.out;
            EXPECT_GT(line_count(res.out), 1u);
        } else {
            EXPECT_EQ(res.status, 1);
            EXPECT_EQ(res.out, r.says);
        }
        EXPECT_EQ(res.err, "");
    }
}

// Every length of every format that srec_cat reads comes back byte for byte, one record per
// line: the lines are those without -reclen, less one per record of the format's own length,
// plus one per record of the asked length. An Intel block across a 64 KiB page comes back
// too (records end at the page).
TEST_F(zorbin_reclen, srec_cat_reads_every_length_back)
{
    REQUIRE_TOOL("srec_cat");
    const std::string srec_cat = th::which("srec_cat");
    const bytes data = random_bytes(1000, 29);
    const std::string file = path("out.hex");
    for (const variable& s : takers) {
        if (!s.srec_cat)
            continue;
        const std::uint32_t base = 0x1003;
        const std::size_t own = zb::formats[s.format].record;
        const std::size_t fixed =
            line_count(records(data, s.format, base, 0)) - (1000 + own - 1) / own;
        std::vector<std::uint32_t> bases{base};
        if (zb::formats[s.format].page != zb::page_rule::none)
            bases.push_back(0x2FF00 - 3);
        for (const std::uint32_t at : bases) {
            for (const std::size_t n : lengths(s)) {
                SCOPED_TRACE(testing::Message() << zb::formats[s.format].word << " -reclen " << n
                                                << " at 0x" << std::hex << at);
                std::string hex = records(data, s.format, at, n);
                if (at == base) {
                    EXPECT_EQ(line_count(hex), fixed + (1000 + n - 1) / n);
                }
                if (s.format == zb::sdsmac)
                    hex.erase(0, hex.find('\n') + 1);  // srec_cat does not know the start record
                th::write_file(file, hex);
                const th::result res = th::run_argv(
                    srec_cat,
                    {"srec_cat", file, s.srec_cat, "-o", "-", "-Motorola", "-address-length=4"});
                ASSERT_EQ(res.status, 0) << res.err;
                EXPECT_EQ(srec_memory(res.out), expected(s.format, at, data));
            }
        }
    }
}

// The format's own reader takes every length its writer writes (ihf's too, which srec_cat
// does not read): the image comes back whole, at its address.
TEST(zorbin_reclen_own, the_formats_reader_reads_every_length_back)
{
    const bytes data = random_bytes(777, 31);
    for (const variable& s : takers) {
        // ihf counts addresses in units of 4: a block at a multiple of 4 reads back there.
        const std::uint32_t base = s.format == zb::ihf ? 0x1000 : 0x1003;
        for (const std::size_t n : lengths(s)) {
            SCOPED_TRACE(testing::Message() << zb::formats[s.format].word << " -reclen " << n);
            const std::string hex = records(data, s.format, base, n);
            const zb::hex_image h = zb::read_hex(
                {reinterpret_cast<const unsigned char*>(hex.data()), hex.size()}, s.format);
            ASSERT_EQ(h.error.f, zb::hex_fault::none) << zb::hex_message("out", h.line, h.error);
            memory got;
            for (const zb::part& p : h.img.parts)
                for (std::size_t k = 0; k < p.data.size(); ++k)
                    got[p.from.load + k] = p.data[k];
            EXPECT_EQ(got, expected(s.format, base, data));
        }
    }
}

// A block whose bytes lie in several pieces (sections that touch) gives the records of the
// same bytes in one piece, at every length: a record that spans pieces is gathered whole.
TEST(zorbin_reclen_own, records_across_pieces_are_those_of_one_piece)
{
    const bytes data = random_bytes(901, 41);
    std::mt19937_64 rng(43);
    for (const variable& s : takers) {
        for (const std::size_t n : lengths(s)) {
            SCOPED_TRACE(testing::Message() << zb::formats[s.format].word << " -reclen " << n);
            std::vector<zb::piece> pieces;
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t len = std::min<std::size_t>(1 + rng() % 40, data.size() - at);
                pieces.push_back(zb::piece(data).subspan(at, len));
                at += len;
            }
            const zb::block cut{0x1000, pieces};
            std::string out;
            ASSERT_EQ(zb::write_image({&cut, 1}, s.format, "in.bin", zb::string_sink(out), {}, {}, {},
                                      {n, {}}),
                      zb::hex_result::ok);
            EXPECT_EQ(out, records(data, s.format, 0x1000, n));
        }
    }
}

// Without -reclen and -header the output is the format's own; -reclen of the format's own
// length changes nothing either; the layout a row does not take is refused before anything is
// written.
TEST(zorbin_reclen_own, the_format_own_layout_is_unchanged_and_others_refused)
{
    const bytes data = random_bytes(300, 37);
    for (const zb::fmt f : zb::hex_formats) {
        SCOPED_TRACE(zb::formats[f].word);
        std::string plain;
        ASSERT_EQ(zb::bin2hex(data, f, "in.bin", 0x100, zb::string_sink(plain)),
                  zb::hex_result::ok);
        if (zb::formats[f].reclen_max > 0) {
            EXPECT_EQ(records(data, f, 0x100, zb::formats[f].record), plain);
        }
        std::string out;
        const zb::block b{0x100, {data}};
        const std::size_t past = zb::formats[f].reclen_max + 1;
        EXPECT_EQ(zb::write_image({&b, 1}, f, "in.bin", zb::string_sink(out), {}, {}, {}, {past, {}}),
                  zb::hex_result::bad_layout);
        if (!zb::formats[f].head) {
            EXPECT_EQ(zb::write_image({&b, 1}, f, "in.bin", zb::string_sink(out), {}, {}, {}, {0, "x"}),
                      zb::hex_result::bad_layout);
        }
        EXPECT_EQ(out, "");
    }
}

// -header writes an S0 record first: the one srec_cat writes for that header, which srec_info
// reads back as the text; srec_cat no longer warns of a missing header. The text fills the
// count field at most; the other formats have no header record.
TEST_F(zorbin_reclen, header_text_goes_into_an_s0_record)
{
    th::write_file(path("in.bin"), std::string(40, 'y'));
    const std::string longest(252, 'h');
    struct row {
        std::string format, text;
        std::string says;  // the refusal, if any
    };
    auto only = [](const std::string& format) {
        return "Option -header needs -exorciser, -exormacs or -motorola32, not " + format + "\r\n";
    };
    const row rows[] = {
        {"-exorciser", "", ""},
        {"-exormacs", "fw 1.2", ""},
        {"-motorola32", "boot \"A\" \x7F\xFF", ""},
        {"-motorola32", longest, ""},
        {"-motorola32", longest + "h",
         "Header text of 253 characters on -header option, max = 252\r\n"},
        {"-intel32", "fw", only("-intel32")},
        {"-raw", "fw", only("-raw")},
        {"-ihf", "fw", only("-ihf")},
    };
    const bool oracles = th::have_tool("srec_info") && th::have_tool("srec_cat");
    for (const row& r : rows) {
        SCOPED_TRACE(r.format + " -header " + r.text.substr(0, 20));
        // A Windows program gets its arguments as UTF-16: a byte that is no UTF-8 never
        // reaches it as that byte.
        if (th::windows() && r.text.find('\xFF') != std::string::npos)
            continue;
        std::filesystem::remove(path("out.hex"));
        const th::result res =
            th::run("zorbin", {"-bin", "in.bin", r.format, "-header", r.text, "out.hex"}, in_dir());
        if (!r.says.empty()) {
            EXPECT_EQ(res.status, 1);
            EXPECT_EQ(res.out, r.says);
            EXPECT_FALSE(std::filesystem::exists(path("out.hex")));
            continue;
        }
        ASSERT_EQ(res.status, 0) << res.out;
        const std::string hex = th::read_file(path("out.hex"));
        EXPECT_TRUE(hex.starts_with("S0")) << hex;
        if (r.text.empty()) {
            EXPECT_TRUE(hex.starts_with("S0030000FC\r\n")) << hex;
        }
        // The records after the header are those without it.
        const th::result plain = th::run("zorbin", {"-bin", "in.bin", r.format}, in_dir());
        EXPECT_EQ(hex.substr(hex.find('\n') + 1), plain.out);
        if (!oracles)
            continue;
        const th::result theirs =
            th::run_argv(th::which("srec_cat"),
                         {"srec_cat", path("in.bin"), "-binary", "-o", "-", "-header", r.text});
        EXPECT_EQ(hex.substr(0, hex.find('\r')), theirs.out.substr(0, theirs.out.find('\n')));
        const th::result info =
            th::run_argv(th::which("srec_info"), {"srec_info", path("out.hex")});
        EXPECT_EQ(info.status, 0) << info.err;
        if (!r.text.empty() && r.text.find('\xFF') == std::string::npos) {
            EXPECT_NE(info.out.find("Header: \"" + r.text + "\"\n"), std::string::npos) << info.out;
        }
        const th::result cat =
            th::run_argv(th::which("srec_cat"), {"srec_cat", path("out.hex"), "-o", "/dev/null"});
        EXPECT_EQ(cat.status, 0);
        EXPECT_EQ(cat.err.find("no header record"), std::string::npos) << cat.err;
    }
    REQUIRE_TOOL("srec_info");
}

// Each segment of an AIF image's chain is written in the asked layout.
TEST_F(zorbin_reclen, a_chain_writes_each_segment_in_the_layout)
{
    const std::string aif = th::sample("app.aif");
    const th::result plain = th::run("zorbin", {"-motorola32", aif, "root.hex"}, in_dir());
    ASSERT_EQ(plain.status, 0) << plain.out;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files.push_back(e.path().filename().string());
    ASSERT_GT(files.size(), 1u);
    std::map<std::string, std::string> before;
    for (const std::string& f : files)
        before[f] = th::read_file(dir / f);
    const th::result res = th::run(
        "zorbin", {"-motorola32", "-reclen", "4", "-header", "app", aif, "root.hex"}, in_dir());
    ASSERT_EQ(res.status, 0) << res.out;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        const std::string hex = th::read_file(dir / f);
        EXPECT_TRUE(hex.starts_with("S0060000617070")) << hex.substr(0, 40);
        EXPECT_GT(line_count(hex), line_count(before[f]) + 1);
        std::istringstream in(hex);
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("S3")) {
                EXPECT_LE(line.size(), 2 + 2 + 8 + 8 + 2 + 1u) << line;
            }
    }
}

}  // namespace
