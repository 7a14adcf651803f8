// zorbin reading hex text: every format back from zorbin's own writer, from srec_cat's and
// objcopy's; inputs joined by -add and -addbin against srec_cat's join; one table of broken
// files per reader family.
#include "write/engine.h"
#include "harness.h"
#include "read/hexin.h"

#include <random>

namespace {

using bytes = std::vector<unsigned char>;

bytes random_bytes(std::size_t n, std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    bytes b(n);
    for (auto& v : b)
        v = static_cast<unsigned char>(rng());
    return b;
}

std::string text(const bytes& b) { return {b.begin(), b.end()}; }

// The image as address -> byte, one piece after another.
std::map<std::uint64_t, unsigned char> memory(const zb::image& img)
{
    std::map<std::uint64_t, unsigned char> m;
    for (const zb::part& p : img.parts)
        for (std::size_t k = 0; k < p.data.size(); ++k)
            m[p.from.load + k] = p.data[k];
    return m;
}

struct trip_row {
    zb::fmt format;
    std::uint32_t base;
    std::size_t size;
    const char* boundary;
};

// What each format's reader gives back: the bytes, the last fairbug record's FF fill and the
// FF after an odd last sdsmac byte; ihf's addresses count in units of 4, so a block reads back
// at the multiple of 4 at or below its address.
std::map<std::uint64_t, unsigned char> expected(const trip_row& r, const bytes& data)
{
    bytes d = data;
    if (r.format == zb::fairbug)
        d.resize((d.size() + 7) / 8 * 8, 0xFF);
    if (r.format == zb::sdsmac)
        d.resize((d.size() + 1) / 2 * 2, 0xFF);
    const std::uint64_t at = r.format == zb::ihf ? r.base / 4 * 4 : r.base;
    std::map<std::uint64_t, unsigned char> m;
    // Fill past the format's last address has none to go to.
    for (std::size_t k = 0; k < d.size() && at + k <= zb::formats[r.format].limit; ++k)
        m[at + k] = d[k];
    return m;
}

constexpr trip_row trips[] = {
    {zb::cosmac, 0, 1, "one byte at 0"},
    {zb::cosmac, 0x1234, 100, "several lines"},
    {zb::cosmac, 0xFF00, 0xFF, "up to the limit"},
    {zb::fairbug, 0x100, 3, "last record filled"},
    {zb::fairbug, 0x8000, 64, "whole records"},
    {zb::fairbug, 0xFFFC, 3, "last record filled past 0xFFFF"},
    {zb::mostech, 0, 300, "many records"},
    {zb::mostech, 0xFFF0, 0xF, "at the limit"},
    {zb::exorciser, 0x10, 17, "one past a record"},
    {zb::exorciser, 0xFF00, 0xFF, "at the limit"},
    {zb::mds, 0x104, 20, "not on a 16-byte boundary"},
    {zb::mds, 0, 0xFFFF, "the whole 16-bit space"},
    {zb::signetics, 0x10, 33, "two records and a byte"},
    {zb::signetics, 0xFFEE, 0x11, "at the limit"},
    {zb::tektronix, 0x200, 40, "short last record"},
    {zb::exormacs, 0x3, 500, "odd base"},
    {zb::mcs86, 0x1FFF0, 32, "across a segment"},
    {zb::mcs86, 0xF0000, 0xFFFF, "the top segment"},
    {zb::sdsmac, 0x100, 3, "odd size"},
    {zb::sdsmac, 0x7FFE, 1000, "even size"},
    {zb::motorola32, 0xFFFFFF00, 0x100, "up to 4 GiB"},
    {zb::motorola32, 0x08000000, 70000, "more than 64 KiB"},
    {zb::intel32, 0x0800FFF8, 40, "across a 64 KiB page, base not a multiple of 16"},
    {zb::intel32, 0xFFFFFFF0, 16, "the last 16 bytes"},
    {zb::ihf, 0x100, 70, "short last record"},
    {zb::ihf, 0x3FFE0, 31, "at the limit"},
    {zb::ihf, 0x101, 64, "base not a multiple of 4"},
};

class zorbin_hexin : public th::tmpdir {
protected:
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }
    th::result tool(std::vector<std::string> argv)
    {
        const std::string exe = th::which(argv[0]);
        return th::run_argv(exe, argv, in_dir());
    }
};

TEST_F(zorbin_hexin, every_format_reads_back_what_zorbin_writes)
{
    for (const trip_row& r : trips) {
        SCOPED_TRACE(testing::Message() << zb::formats[r.format].word << ": " << r.boundary);
        const bytes data = random_bytes(r.size, r.base + r.size);
        std::string hex;
        ASSERT_EQ(zb::bin2hex(data, r.format, "in.bin", r.base, zb::string_sink(hex)),
                  zb::hex_result::ok);
        const std::span<const unsigned char> file(reinterpret_cast<const unsigned char*>(hex.data()),
                                                  hex.size());
        const zb::fmt family = zb::detect_hex(file);
        ASSERT_EQ(zb::formats[family].read, zb::formats[r.format].read);
        const zb::hex_image h = zb::read_hex(file, family);
        ASSERT_EQ(zb::hex_what(h.error), "") << "line " << h.line;
        EXPECT_EQ(memory(h.img), expected(r, data));
    }
}

// End to end: the file read back and written again in the same format is the same file, but
// for the S-records' and Intel's narrowest word the records say (the widest record type seen).
TEST_F(zorbin_hexin, rewritten_in_its_own_format_gives_the_same_file)
{
    const std::string file = path("in.hex");
    for (const trip_row& r : trips) {
        if (r.format == zb::ihf && r.base % 4 != 0)
            continue;  // moves to the multiple of 4 below
        if (r.format == zb::fairbug || r.format == zb::sdsmac)
            if (r.size % (r.format == zb::fairbug ? 8 : 2) != 0)
                continue;  // the fill is data once read
        SCOPED_TRACE(testing::Message() << zb::formats[r.format].word << ": " << r.boundary);
        const bytes data = random_bytes(r.size, r.base ^ r.size);
        th::write_file(path("in.bin"), text(data));
        std::string word(1, '-');
        word += zb::formats[r.format].word;
        char base[16];
        std::snprintf(base, sizeof base, "0x%X", r.base);
        ASSERT_EQ(zorbin({word, "-bin", "-base", base, "in.bin", "in.hex"}).status, 0);
        const th::result res = zorbin({word, "in.hex", "out.hex"});
        ASSERT_EQ(res.status, 0) << res.out;
        EXPECT_EQ(res.err, "");
        std::string want = th::read_file(file), got = th::read_file(path("out.hex"));
        if (r.format == zb::sdsmac) {  // the start record names its input
            want.erase(0, want.find('\n'));
            got.erase(0, got.find('\n'));
        }
        EXPECT_EQ(got, want);
    }
}

TEST_F(zorbin_hexin, the_entry_point_travels_through_the_end_records)
{
    struct row {
        std::vector<std::string> first, second;  // zorbin's options: to a.hex, then a.hex to b.hex
        std::string last;                         // b.hex's last line but one or last
    };
    const row rows[] = {
        {{"-intel32", "-entry", "0x08000101"}, {"-motorola32"}, "S70508000101F0"},
        {{"-motorola32", "-entry", "0x08000101"}, {"-intel32"}, ":0400000508000101ED"},
        {{"-exorciser", "-entry", "0x1234"}, {"-motorola32"}, "S70500001234B4"},
        {{"-exormacs", "-entry", "0x12345"}, {"-motorola32"}, "S7050001234591"},
        // An end record that says 0 gives 0, and intel32 then writes no start record.
        {{"-motorola32"}, {"-intel32"}, ":00000001FF"},
        {{"-intel32", "-entry", "0x100"}, {"-mds"}, ":00000001FF"},
    };
    th::write_file(path("in.bin"), "0123456789");
    for (const row& r : rows) {
        SCOPED_TRACE(r.first[0] + " to " + r.second[0]);
        std::vector<std::string> a = r.first;
        a.insert(a.end(), {"-bin", "-base", "0x100", "in.bin", "a.hex"});
        ASSERT_EQ(zorbin(a).status, 0);
        std::vector<std::string> b = r.second;
        b.insert(b.end(), {"a.hex", "b.hex"});
        ASSERT_EQ(zorbin(b).status, 0);
        const std::string out = th::read_file(path("b.hex"));
        const std::string tail = r.last + "\r\n";
        EXPECT_NE(out.find(tail), std::string::npos) << out;
        if (r.second[0] == "-intel32" && r.last == ":00000001FF") {
            EXPECT_EQ(out.find(":04000005"), std::string::npos) << out;
        }
    }
}

// srec_cat's name for each format it writes, and what its files give back (fairbug: whole
// records of 8 only; srec_cat refuses others).
struct foreign_row {
    zb::fmt format;
    const char* option;
};
constexpr foreign_row foreign[] = {
    {zb::cosmac, "-COsmac"},       {zb::fairbug, "-FAIrchild"}, {zb::mostech, "-MOS_Technologies"},
    {zb::exorciser, "-Motorola"},  {zb::mds, "-Intel"},         {zb::signetics, "-SIGnetics"},
    {zb::tektronix, "-Tektronix"}, {zb::sdsmac, "-Texas_Instruments_Tagged"},
};

TEST_F(zorbin_hexin, srec_cat_files_of_every_format_give_the_image)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    struct shape {
        const char* what;
        std::vector<std::string> inputs;  // srec_cat's inputs
    };
    th::write_file(path("a.bin"), text(random_bytes(1000, 1)));
    th::write_file(path("b.bin"), text(random_bytes(64, 2)));
    const shape shapes[] = {
        {"one block", {"a.bin", "-binary", "-offset", "0x1238"}},
        {"two blocks",
         {"a.bin", "-binary", "-offset", "0x1000", "b.bin", "-binary", "-offset", "0x3000"}},
        {"at 0", {"b.bin", "-binary"}},
    };
    for (const foreign_row& f : foreign) {
        for (const shape& s : shapes) {
            SCOPED_TRACE(std::string(f.option) + ", " + s.what);
            std::vector<std::string> write{"srec_cat"};
            write.insert(write.end(), s.inputs.begin(), s.inputs.end());
            write.insert(write.end(), {"-o", "theirs.hex", f.option});
            const th::result w = tool(write);
            ASSERT_EQ(w.status, 0) << w.err;
            const th::result z = zorbin({"-motorola32", "theirs.hex", "ours.s37"});
            ASSERT_EQ(z.status, 0) << z.out;
            EXPECT_EQ(z.err, "");
            std::vector<std::string> ref{"srec_cat"};
            ref.insert(ref.end(), s.inputs.begin(), s.inputs.end());
            ref.insert(ref.end(), {"-o", "want.s37"});
            ASSERT_EQ(tool(ref).status, 0);
            const th::result c = tool({"srec_cmp", "ours.s37", "want.s37"});
            EXPECT_EQ(c.status, 0) << c.err << th::read_file(path("theirs.hex"));
        }
    }
}

// srec_cat as the second reader of two corners: a fairbug file whose last record zorbin filled
// past 0xFFFF (the fill with no address dropped), and the entry point in the end record of
// an Intel file with 16-bit addresses.
TEST_F(zorbin_hexin, srec_cat_reads_the_image_and_entry_zorbin_reads)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    th::write_file(path("abc.bin"), "abc");
    struct row {
        const char* what;
        std::vector<std::string> make;  // writes in.hex
        const char* option;              // srec_cat's name for it
        const char* entry;               // zorbin's S7 record of it
    };
    const row rows[] = {
        {"fairbug filled past 0xFFFF",
         {"zorbin", "-fairbug", "-bin", "-base", "0xFFFC", "abc.bin", "in.hex"}, "-FAIrchild",
         "S70500000000FA"},
        {"i8hex end record with an entry point",
         {"srec_cat", "abc.bin", "-binary", "-offset", "0x100", "-execution-start-address",
          "0x1234", "-o", "in.hex", "-intel", "-address-length=2"},
         "-intel", "S70500001234B4"},
        {"i8hex end record without one",
         {"srec_cat", "abc.bin", "-binary", "-offset", "0x100", "-o", "in.hex", "-intel",
          "-address-length=2"},
         "-intel", "S70500000000FA"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::vector<std::string> args(r.make.begin() + 1, r.make.end());
        const th::result m = r.make[0] == "zorbin" ? zorbin(args) : tool(r.make);
        ASSERT_EQ(m.status, 0) << m.out << m.err;
        const th::result z = zorbin({"-motorola32", "in.hex", "ours.s37"});
        ASSERT_EQ(z.status, 0) << z.out;
        EXPECT_TRUE(th::read_file(path("ours.s37")).ends_with(std::string(r.entry) + "\r\n"));
        const th::result t = tool({"srec_cat", "in.hex", r.option, "-crop", "0", "0x10000", "-o",
                                   "theirs.s37", "-motorola", "-address-length=4"});
        ASSERT_EQ(t.status, 0) << t.err;
        const th::result c = tool({"srec_cmp", "ours.s37", "theirs.s37"});
        EXPECT_EQ(c.status, 0) << c.err << th::read_file(path("in.hex"));
    }
}

// A file of records without one data byte is refused, as an ELF file without loadable
// contents is; srec_cat finds no data in them either.
TEST_F(zorbin_hexin, files_without_data_are_refused)
{
    REQUIRE_TOOL("srec_cat");
    struct row {
        std::string text;
        const char* option;  // srec_cat's name for it
    };
    const row rows[] = {
        {":00000001FF\r\n", "-intel"},
        {":020000040800F2\r\n:00000001FF\r\n", "-intel"},
        {"S0030000FC\r\nS9030000FC\r\n", "-motorola"},
        {"S0100\r\n*\r\n", "-FAIrchild"},
        {";0000000000\r\n", "-MOS_Technologies"},
        {":000000\r\n", "-SIGnetics"},
        {"/00000000\r\n", "-Tektronix"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        th::write_file(path("in.hex"), r.text);
        const th::result z = zorbin({"-motorola32", "in.hex", "out.s37"});
        EXPECT_EQ(z.out, "Bad hex file in.hex: no data records\r\n");
        EXPECT_EQ(z.err, "");
        EXPECT_EQ(z.status, 1);
        EXPECT_FALSE(std::filesystem::exists(path("out.s37")));
        const th::result t = tool({"srec_cat", "in.hex", r.option, "-o", "-", "-hexdump"});
        EXPECT_EQ(t.out, "") << t.err;
    }
}

TEST_F(zorbin_hexin, objcopy_intel_hex_and_s_records_give_the_image_and_entry)
{
    REQUIRE_TOOL("objcopy");
    REQUIRE_TOOL("srec_cmp");
    struct row {
        const char* format;  // objcopy's
        const char* at;      // --change-addresses
        const char* start;   // --set-start (objcopy adds the change to it)
        const char* entry;   // what zorbin's motorola32 S7 then says
    };
    const row rows[] = {
        {"ihex", "0x12340", "0x5", "S7050001234591"},  // types 02 and 03
        {"ihex", "0x08000000", "0x101", "S70508000101F0"},  // types 04 and 05
        {"srec", "0x08000000", "0x101", "S70508000101F0"},  // S0, S3, S7
        {"srec", "0x1000", "0", "S70500001000EA"},  // S1, S9
    };
    th::write_file(path("in.bin"), text(random_bytes(70000, 3)));
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.format) + " at " + r.at);
        const th::result w = tool({"objcopy", "-I", "binary", "-O", r.format, "--change-addresses",
                                   r.at, "--set-start", r.start, "in.bin", "theirs.hex"});
        ASSERT_EQ(w.status, 0) << w.err;
        const th::result z = zorbin({"-motorola32", "theirs.hex", "ours.s37"});
        ASSERT_EQ(z.status, 0) << z.out;
        const th::result c = tool({"srec_cmp", "ours.s37", "in.bin", "-binary", "-offset", r.at});
        EXPECT_EQ(c.status, 0) << c.err;
        EXPECT_TRUE(th::read_file(path("ours.s37")).ends_with(std::string(r.entry) + "\r\n"));
    }
}

TEST_F(zorbin_hexin, inputs_join_as_srec_cat_joins_them)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    th::write_file(path("a.bin"), text(random_bytes(3000, 4)));
    th::write_file(path("b.bin"), text(random_bytes(500, 5)));
    ASSERT_EQ(zorbin({"-intel32", "-bin", "-base", "0x08000000", "a.bin", "a.hex"}).status, 0);
    ASSERT_EQ(zorbin({"-intel32", "-bin", "-base", "0x08004000", "b.bin", "b.hex"}).status, 0);
    ASSERT_EQ(zorbin({"-motorola32", "-bin", "-base", "0x08000400", "b.bin", "b.s37"}).status, 0);
    struct row {
        const char* what;
        std::vector<std::string> zorbin;  // after -intel32 a.hex ours.hex
        std::vector<std::string> srec;    // srec_cat's inputs and filters
    };
    const row rows[] = {
        {"apart", {"-add", "b.hex"}, {"a.hex", "-intel", "b.hex", "-intel"}},
        {"the same bytes again", {"-add", "a.hex"}, {"a.hex", "-intel"}},
        {"a binary on top of its own bytes", {"-addbin", "a.bin", "0x08000000"}, {"a.hex", "-intel"}},
        {"a binary beside", {"-addbin", "b.bin", "0x08001000"},
         {"a.hex", "-intel", "b.bin", "-binary", "-offset", "0x08001000"}},
        {"touching, then filled and cut",
         {"-addbin", "b.bin", "0x08000BB8", "-fill", "0", "-range", "0x08000000", "0x1000"},
         {"(", "a.hex", "-intel", "b.bin", "-binary", "-offset", "0x08000BB8", ")", "-fill", "0",
          "0x08000000", "0x08001000", "-crop", "0x08000000", "0x08001000"}},
        {"-base moves the main input only", {"-base", "0x1000", "-add", "b.hex"},
         {"a.hex", "-intel", "-offset", "-0x07FFF000", "b.hex", "-intel"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> z{"-intel32", "a.hex", "ours.hex"};
        z.insert(z.end(), r.zorbin.begin(), r.zorbin.end());
        const th::result res = zorbin(z);
        ASSERT_EQ(res.status, 0) << res.out;
        EXPECT_EQ(res.err, "");
        std::vector<std::string> s{"srec_cat"};
        s.insert(s.end(), r.srec.begin(), r.srec.end());
        s.insert(s.end(), {"-o", "theirs.hex", "-intel"});
        const th::result t = tool(s);
        ASSERT_EQ(t.status, 0) << t.err;
        const th::result c = tool({"srec_cmp", "ours.hex", "-intel", "theirs.hex", "-intel"});
        EXPECT_EQ(c.status, 0) << c.err;
    }

    // Two inputs that give one address different bytes: refused, as srec_cat refuses them.
    const th::result t = tool({"srec_cat", "a.hex", "-intel", "b.s37", "-o", "theirs.hex", "-intel"});
    EXPECT_NE(t.status, 0);
    const th::result res = zorbin({"-intel32", "a.hex", "ours2.hex", "-add", "b.s37"});
    EXPECT_EQ(res.status, 1);
    char msg[80];
    std::snprintf(msg, sizeof msg, "a.hex and b.s37 differ at 0x08000400 (0x%02X vs 0x%02X)\r\n",
                  random_bytes(3000, 4)[0x400], random_bytes(500, 5)[0]);
    EXPECT_EQ(res.out, msg);
    EXPECT_FALSE(std::filesystem::exists(path("ours2.hex")));
}

TEST_F(zorbin_hexin, info_names_every_input_and_where_each_piece_came_from)
{
    th::write_file(path("a.bin"), "0123456789");
    ASSERT_EQ(zorbin({"-motorola32", "-bin", "-base", "0x100", "a.bin", "a.s37"}).status, 0);
    const th::result res = zorbin({"-info", "-intel32", "a.s37", "-addbin", "a.bin", "0x200"});
    ASSERT_EQ(res.status, 0) << res.out;
    EXPECT_EQ(res.out, th::lines({
                           "a.s37: hex text, motorola32 records, entry point none",
                           "a.bin: plain binary, added",
                           "block  first       last        bytes",
                           "    1  0x00000100  0x00000109     10",
                           "    2  0x00000200  0x00000209     10",
                           "piece   input  run         load        offset      bytes  placed by",
                           "line 1  a.s37  0x00000100  0x00000100  0x00000000     10  record address",
                           "file    a.bin  0x00000200  0x00000200  0x00000000     10  -addbin",
                       }));
}

// Options and inputs that -add refuses; none writes a file.
TEST_F(zorbin_hexin, add_refuses_what_gives_no_addresses)
{
    th::write_file(path("a.bin"), "0123456789");
    ASSERT_EQ(zorbin({"-intel32", "-bin", "a.bin", "a.hex"}).status, 0);
    struct row {
        std::vector<std::string> args;
        std::string out;
    };
    const row rows[] = {
        {{"-add", "a.bin"},
         "Input a.bin of -add gives no addresses: a plain binary goes in with -addbin a.bin ADDR\r\n"},
        {{"-add", "none.hex"}, "Error opening none.hex for input\r\n"},
        {{"-add"}, "No argument on -add option\r\n"},
        {{"-addbin", "a.bin"}, "No argument on -addbin option\r\n"},
        {{"-addbin", "a.bin", "x"}, "Bad number on -addbin option\r\n"},
        {{"-add", "out.hex"}, "Output file out.hex is the input file out.hex, not overwritten\r\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.out);
        th::write_file(path("out.hex"), th::read_file(path("a.hex")));
        std::vector<std::string> args{"-intel32", "a.hex", "out.hex"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const th::result res = zorbin(args);
        EXPECT_EQ(res.status, 1);
        EXPECT_EQ(res.out, r.out);
        EXPECT_EQ(th::read_file(path("out.hex")), th::read_file(path("a.hex")));
    }
}

// Detection goes by the first record's line, after a UTF-8 byte-order mark and blank lines:
// a line with a format's record shape makes the file hex text of it, faults and all; anything
// else is a plain binary, as before.
TEST_F(zorbin_hexin, detection_goes_by_the_shape_of_the_first_record)
{
    struct row {
        std::string text;
        const char* format;  // "" for a plain binary
    };
    const row rows[] = {
        {":03010000010203F6\r\nmore\r\n", "mds"},
        {":03010000010203F7\r\nmore\r\n", "mds"},  // Intel's shape, wrong checksum
        {":0301000001G203F6\r\nmore\r\n", ""},     // a character no record holds
        {":030100000102\r\nmore\r\n", ""},         // shorter than its count says
        {":0100030E01020306\r\nmore\r\n", "signetics"},
        {":0100030E01020307\r\nmore\r\n", "signetics"},
        {":00 0040 00 010203 BA\r\nmore\r\n", "ihf"},
        {":00 0040 00 010203 BB\r\nmore\r\n", "ihf"},
        {"S1060100010203F2\r\nmore\r\n", "exorciser"},
        {"S1060100010203F3\r\nmore\r\n", "exorciser"},
        {"S4060100010203F2\r\nmore\r\n", "exorciser"},
        {"S0100\r\nmore\r\n", "fairbug"},
        {"S1234", ""},                 // one line: no record of data
        {"S1234\n", ""},
        {"S1234\r\n\r\n", ""},
        {"S010\r\nmore\r\n", ""},
        {"!M0100 ,\r\nmore\r\n", "cosmac"},
        {"!M01000 ,\r\n01\r\n", "cosmac"},  // five address digits
        {"!M\r\n01\r\n", ""},
        {";030100010203000A\r\nmore\r\n", "mostech"},
        {";030100010203000B\r\nmore\r\n", "mostech"},
        {"/0100030401020306\r\nmore\r\n", "tektronix"},
        {"/0100030401020307\r\nmore\r\n", "tektronix"},
        {"000037412E42494E8038AF\r\nmore\r\n", "sdsmac"},
        {"90100B0102B03FF8FC98F\r\nmore\r\n", "sdsmac"},
        {"90100B0102B03FF8FC97F\r\nmore\r\n", "sdsmac"},
        {"90100B0102B03FF8FC98F\x01\r\nmore\r\n", ""},
        {"\n:03010000010203F6\n", "mds"},
        {"\r\n\r\n:03010000010203F6\r\n", "mds"},
        {"\xEF\xBB\xBF:03010000010203F6\r\n", "mds"},
        {"\xEF\xBB\xBF\r\nS1060100010203F2\r\n", "exorciser"},
        {":03010000010203F6\r:00000001FF\r", "mds"},
        {"\r:03010000010203F6", "mds"},
        {"hello world\r\nmore\r\n", ""},
        {"\xEF\xBB\xBFhello\r\n", ""},
        {"", ""},
        {"\r\n\r\n", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.text));
        const zb::fmt f =
            zb::detect_hex({reinterpret_cast<const unsigned char*>(r.text.data()), r.text.size()});
        EXPECT_EQ(f == zb::none ? "" : zb::formats[f].word, std::string_view(r.format));
    }
}

// A format that is only written is never what a file is: detection passes its row by, and
// the next row of the family that has a reader takes the file; a family without one leaves
// the file to the others, or to none.
TEST(zorbin_hexin_detect, a_row_without_a_reader_is_passed_by)
{
    struct row {
        const char* first;
        std::vector<zb::fmt> written_only;  // the rows that lose their reader
        const char* format;                 // what the file is then; "" none
    };
    const row rows[] = {
        {":03010000010203F6", {}, "mds"},
        {":03010000010203F6", {zb::mds}, "mcs86"},
        {":03010000010203F6", {zb::mds, zb::mcs86}, "intel32"},
        {":03010000010203F6", {zb::mds, zb::mcs86, zb::intel32}, ""},
        {"S1060100010203F2", {zb::exorciser, zb::exormacs}, "motorola32"},
        {"S0100", {zb::fairbug}, ""},
        {"!M0100 ,", {zb::mds}, "cosmac"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.first << " without " << r.written_only.size());
        zb::format_table t = zb::formats;
        for (const zb::fmt f : r.written_only)
            t.rows[static_cast<std::size_t>(f)].read = nullptr;
        const std::string file = std::string(r.first) + "\r\n";
        const zb::fmt f = zb::detect_hex(
            {reinterpret_cast<const unsigned char*>(file.data()), file.size()}, t);
        EXPECT_EQ(f == zb::none ? "" : zb::formats[f].word, std::string_view(r.format));
    }
}

// A file that detection takes for hex text by its first record's shape: a fault in that
// record stops the run as any other does, with a hint for a file that was bytes after all;
// what has no record's shape is a plain binary, as before.
TEST_F(zorbin_hexin, a_faulty_first_record_is_an_error_and_no_shape_is_bytes)
{
    struct row {
        std::string text;
        std::vector<std::string> args;  // after -motorola32 in.hex out.s37
        std::string out;                // empty: a plain binary, written with the warning
    };
    const std::string bin = "; give -bin to take the file as plain bytes\r\n";
    const row rows[] = {
        {":03010000010203F7\r\n:00000001FF\r\n", {},
         "Bad hex file in.hex line 1: checksum 0xF7, should be 0xF6" + bin},
        {"\r\n:03010000010203F7\r\n:00000001FF\r\n", {},
         "Bad hex file in.hex line 2: checksum 0xF7, should be 0xF6" + bin},
        {"!M01000 ,\r\n01\r\n", {},
         "Bad hex file in.hex line 1: address of more than 4 digits in column 3" + bin},
        {"S4060100010203F2\r\nS9030000FC\r\n", {},
         "Bad hex file in.hex line 1: unknown record type S4" + bin},
        // Named by -input, the file is hex text: no hint.
        {":03010000010203F7\r\n:00000001FF\r\n", {"-input", "mds"},
         "Bad hex file in.hex line 1: checksum 0xF7, should be 0xF6\r\n"},
        // An input of -add is taken as bytes by -addbin.
        {"S1060100010203F2\r\n", {"-add", "b.hex"},
         "Bad hex file b.hex line 1: checksum 0xF7, should be 0xF6; give -addbin b.hex ADDR to "
         "take the file as plain bytes\r\n"},
        {"S1234", {}, ""},
        {"S1234\n", {}, ""},
        {":0301000001G203F6\r\n:00000001FF\r\n", {}, ""},
        {"\xEF\xBB\xBFhello world\r\n", {}, ""},
    };
    th::write_file(path("b.hex"), ":03010000010203F7\r\n:00000001FF\r\n");
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.text) + " " + testing::PrintToString(r.args));
        th::write_file(path("in.hex"), r.text);
        std::vector<std::string> args{"-motorola32", "in.hex", "out.s37"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const th::result res = zorbin(args);
        if (!r.out.empty()) {
            EXPECT_EQ(res.out, r.out);
            EXPECT_EQ(res.err, "");
            EXPECT_EQ(res.status, 1);
            EXPECT_FALSE(std::filesystem::exists(path("out.s37")));
            continue;
        }
        EXPECT_EQ(res.out, "");
        EXPECT_EQ(res.err, "warning: not an AIF image, plain binary assumed\r\n");
        EXPECT_EQ(res.status, 0);
        ASSERT_EQ(zorbin({"-motorola32", "-bin", "in.hex", "bytes.s37"}).status, 0);
        EXPECT_EQ(th::read_file(path("out.s37")), th::read_file(path("bytes.s37")));
        std::filesystem::remove(path("out.s37"));
    }
}

// The faults of a text file's start that are none of its records: blank lines and a byte-order
// mark before the first, and lines ended by CR alone. zorbin reads past them what srec_cat
// reads in the file without them.
TEST_F(zorbin_hexin, blank_lines_a_byte_order_mark_and_cr_line_ends_are_read_past)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    th::write_file(path("a.bin"), text(random_bytes(300, 6)));
    ASSERT_EQ(tool({"srec_cat", "a.bin", "-binary", "-offset", "0x1230", "-o", "want.s37"}).status, 0);
    // zorbin's own sdsmac start record is known on the first record's line only.
    ASSERT_EQ(zorbin({"-sdsmac", "-bin", "-base", "0x1230", "a.bin", "sdsmac.hex"}).status, 0);
    struct variant {
        const char* what;
        std::string (*make)(const std::string& clean);
    };
    const variant variants[] = {
        {"a blank line (LF) first", [](const std::string& c) { return "\n" + c; }},
        {"two blank lines (CR LF) first", [](const std::string& c) { return "\r\n\r\n" + c; }},
        {"a byte-order mark", [](const std::string& c) { return "\xEF\xBB\xBF" + c; }},
        {"a byte-order mark and a blank line", [](const std::string& c) { return "\xEF\xBB\xBF\n" + c; }},
        {"CR line ends",
         [](const std::string& c) {
             std::string t;
             for (std::size_t k = 0; k < c.size(); ++k)
                 if (c[k] != '\n' || (k > 0 && c[k - 1] != '\r'))
                     t += c[k] == '\n' ? '\r' : c[k];
             return t;
         }},
    };
    for (const char* option : {"-Intel", "-Motorola", "-MOS_Technologies", "-Tektronix",
                               "-Texas_Instruments_Tagged", "-COsmac", "zorbin -sdsmac"}) {
        std::string clean;
        if (std::string_view(option).starts_with("zorbin")) {
            clean = th::read_file(path("sdsmac.hex"));
        } else {
            ASSERT_EQ(tool({"srec_cat", "a.bin", "-binary", "-offset", "0x1230", "-o", "clean.hex",
                            option}).status, 0);
            clean = th::read_file(path("clean.hex"));
        }
        for (const variant& v : variants) {
            SCOPED_TRACE(std::string(option) + ", " + v.what);
            th::write_file(path("in.hex"), v.make(clean));
            const th::result z = zorbin({"-motorola32", "in.hex", "ours.s37"});
            ASSERT_EQ(z.status, 0) << z.out;
            EXPECT_EQ(z.err, "");
            const th::result c = tool({"srec_cmp", "ours.s37", "want.s37"});
            EXPECT_EQ(c.status, 0) << c.err;
        }
    }
}

// -input names the main input's kind where detection cannot tell: a Signetics record that is
// an Intel record too. It names the main input only.
TEST_F(zorbin_hexin, input_names_the_kind_of_the_main_input)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    // :0205020003FDF7 is Signetics' 2 bytes at 0x0205 and Intel's 2 bytes at 0x0502.
    th::write_file(path("sig.hex"), ":0205020003FDF7\r\n:000000\r\n");
    th::write_file(path("a.hex"), ":03010000010203F6\r\n:00000001FF\r\n");
    ASSERT_EQ(tool({"srec_cat", "sig.hex", "-signetics", "-o", "want.s37"}).status, 0);
    ASSERT_EQ(zorbin({"-motorola32", "-input", "SIGNETICS", "sig.hex", "ours.s37"}).status, 0);
    EXPECT_EQ(tool({"srec_cmp", "ours.s37", "want.s37"}).status, 0);

    struct row {
        std::vector<std::string> args;  // after -motorola32
        std::string out;
        int status;
    };
    const std::string sig_as_intel =
        "Bad hex file sig.hex line 2: record of 7 characters, shorter than the 11 of an empty one\r\n";
    const row rows[] = {
        {{"sig.hex"}, sig_as_intel, 1},
        {{"a.hex", "-add", "sig.hex", "-input", "signetics"},
         "Bad hex file a.hex line 1: end record of 17 characters, not 7\r\n", 1},
        {{"a.hex", "-add", "sig.hex", "-input", "intel32"}, sig_as_intel, 1},
        {{"-input", "elf", "a.hex"}, "Bad ELF image a.hex: no ELF magic (7F 45 4C 46) at its start\r\n", 1},
        {{"-input", "aif", "a.hex"},
         "Bad AIF image a.hex: no AIF marker (0xEF000011) at offset 0x10\r\n", 1},
        {{"-input", "bin", "a.hex"}, "S315000000003A30", 0},
        {{"-input", "mds", "-bin", "a.hex"}, "S315000000003A30", 0},  // -bin wins
        {{"-input", "mds", "a.hex"}, "S30800000100010203F0\r\n", 0},
        {{"-input", "raw", "a.hex"},
         "Bad kind on -input option, use elf, aif, bin or a format word\r\n", 1},
        {{"a.hex", "-input"}, "No argument on -input option\r\n", 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        std::vector<std::string> args{"-motorola32"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const th::result res = zorbin(args);
        EXPECT_EQ(res.out.substr(0, r.out.size()), r.out);
        EXPECT_EQ(res.err, "");
        EXPECT_EQ(res.status, r.status);
    }
}

// An image too wide for -raw names the piece before its widest gap: a line of hex text with
// its file, which may be another than the main input.
TEST_F(zorbin_hexin, the_raw_refusal_names_the_file_of_a_line)
{
    th::write_file(path("a.hex"), ":0100000000FF\r\n:00000001FF\r\n");
    th::write_file(path("far.hex"), ":020000040200F8\r\n:0100000000FF\r\n:00000001FF\r\n");
    th::write_file(path("both.hex"),
                   ":0100000000FF\r\n:020000040200F8\r\n:0100000000FF\r\n:00000001FF\r\n");
    const std::string tail = " at 0x2000000; give -range lo size for the part to write\r\n";
    const std::string wide = " would be 33554433 bytes, more than 16 MiB: the widest gap, 33554431 "
                             "bytes, lies before line ";
    struct row {
        std::vector<std::string> args;
        std::string out;
    };
    const row rows[] = {
        {{"both.hex"}, "Raw image of both.hex" + wide + "3 of both.hex" + tail},
        {{"a.hex", "-add", "far.hex"}, "Raw image of a.hex" + wide + "2 of far.hex" + tail},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        std::vector<std::string> args{"-raw"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.push_back("out.bin");
        const th::result res = zorbin(args);
        EXPECT_EQ(res.out, r.out);
        EXPECT_EQ(res.status, 1);
        EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
    }
}

struct broken_row {
    const char* file;  // lines separated by |
    const char* what;  // after "Bad hex file in.hex "
};

// One table per reader family: what each finds wrong, and on which line. The first line is
// always a good record: the faults of a first record have their own test.
const broken_row broken[] = {
    // Intel
    {":03010000010203F6|:03010300010203F3|:00000001FF", ""},
    {":03010000010203F6|:0000000|", "line 2: record of 8 characters, shorter than the 11 of an empty one"},
    {":03010000010203F6|:03010300010203F4|:00000001FF", "line 2: checksum 0xF4, should be 0xF3"},
    {":03010000010203F6|:04010300010203F3|:00000001FF", "line 2: count 0x04 needs 19 characters, the record has 17"},
    {":03010000010203F6|:FF010300010203F3|:00000001FF", "line 2: count 0xFF needs 521 characters, the record has 17"},
    {":03010000010203F6|:0301030001G203F3|:00000001FF", "line 2: bad character 'G' in column 12"},
    {":03010000010203F6|;03010300010203F3|:00000001FF", "line 2: bad character ';' in column 1"},
    {":03010000010203F6|:03010006010203F0|:00000001FF", "line 2: unknown record type 0x06"},
    {":03010000010203F6|:03000004010203F3|:00000001FF", "line 2: record type 0x04 with count 0x03, not 0x02"},
    {":03010000010203F6", "line 2: file ends without its end record"},
    {":03010000010203F6|:00000001FF|:03010300010203F3", "line 3: text after the end record"},
    {":03010000010203F6||:00000001FF", "line 3: text after a blank line"},
    {":03010000010203F6|:00000001FF||\x1A", ""},
    {":03010000010203F6|:02000004FFFFFC|:10FFF800000102030405060708090A0B0C0D0E0F81|:00000001FF",
     "line 3: data runs past address 0xFFFFFFFF"},
    {":020100000102FA|:020100000103F9|:00000001FF",
     "line 2: address 0x00000101 was given 0x02 before, here 0x03"},
    {":020100000102FA|:03010300010203F3|:020100000102FA|:00000001FF", ""},
    // A record inside one the record after it overlapped: compared with the first.
    {":0A0100004041424344454647484948|:0F01050045464748494A4B4C4D4E4F5051525377|:0101070047B0|:00000001FF", ""},
    {":0A0100004041424344454647484948|:0F01050045464748494A4B4C4D4E4F5051525377|:01010700995E|:00000001FF",
     "line 3: address 0x00000107 was given 0x47 before, here 0x99"},
    // Entry points: the same twice, or an end record with its low 16 bits, is one; two are refused.
    {":0100000041BE|:0400000508000101ED|:0400000508000101ED|:00010101FD", ""},
    {":0100000041BE|:0400000508000101ED|:0400000508000201EC|:00000001FF",
     "line 3: entry point was given 0x08000101 before, here 0x08000201"},
    {":0100000041BE|:0400000308000101EF|:0400000508000101ED|:00000001FF",
     "line 3: entry point was given 0x00008101 before, here 0x08000101"},
    {":0100000041BE|:0400000508000101ED|:00123401B9",
     "line 3: entry point was given 0x08000101 before, here 0x00001234"},
    // S-records
    {"S1060100010203F2|S9030000FC", ""},
    {"S1060100010203F2|S1060100010203F3", "line 2: checksum 0xF3, should be 0xF2"},
    {"S1060100010203F2|S4060100010203F2", "line 2: unknown record type S4"},
    {"S1060100010203F2|SX060100010203F2", "line 2: bad character 'X' in column 2"},
    {"S1060100010203F2|S1020100", "line 2: count 0x02 leaves no room for the address and checksum of an S1 record"},
    {"S1060100010203F2|S0030000FC", "line 2: S0 header after data records"},
    {"S1060100010203F2|S5030002FA", "line 2: S5 count 2, but 1 data records before it"},
    {"S0030000FC|S1060100010203F2|S5030001FB|S9030000FC", ""},
    {"S1060100010203F2|S9030000FC|S1060100010203F2", "line 3: text after the end record"},
    {"S1060100010203F2|S904010000FA", "line 2: S9 record with 1 data bytes"},
    {"S1060100010203F2|S307FFFFFFFE0102FA", ""},
    {"S1060100010203F2|S307FFFFFFFF0102F9", "line 2: data runs past address 0xFFFFFFFF"},
    // cosmac
    {"!M0100 ,|010203", ""},
    {"!M0100 ;|0200 01 02 03|", ""},
    {"!M0100 01,02;0200 03", ""},
    {"!M0100 ;", "line 2: file ends inside a record"},
    {"!M0100 ,|0102 0", "line 2: line ends at column 7"},
    {"!M0100 ,|0102 0G", "line 2: bad character 'G' in column 7"},
    {"!M0100 ;|01000 01", "line 2: address of more than 4 digits in column 1"},
    {"!M0100 ;|FFFF 0102", "line 2: data runs past address 0xFFFF"},
    {"!M0100 01|02", "line 2: bad character '0' in column 1"},
    // fairbug
    {"S0100|X010203FFFFFFFFFFC|*", ""},
    {"S0100|X010203FFFFFFFFFFD|*", "line 2: checksum 0xD, should be 0xC"},
    {"S0100|X010203FFFFFFFFFF|*", "line 2: data record of 17 characters, not 18"},
    {"S0100|Y010203FFFFFFFFFFC|*", "line 2: bad character 'Y' in column 1"},
    {"S0100|X010203FFFFFFFFFFC|*|X010203FFFFFFFFFFC", "line 4: text after the end record"},
    {"S0100|S01000", "line 2: address record of 6 characters, not 5"},
    // Fill past 0xFFFF is dropped; data there, or a record after it, is refused.
    {"SFFFC|X010203FFFFFFFFFFC|*", ""},
    {"SFFFC|X010203FFFFFF00FFE|*", "line 2: data runs past address 0xFFFF"},
    {"SFFF8|X01020304050607084|XFFFFFFFFFFFFFFFF0|*", "line 3: data runs past address 0xFFFF"},
    // mostech
    {";030100010203000A|;010200040007|;0000020002", ""},
    {";030100010203000A|;010200040008|;0000020002", "line 2: checksum 0x0008, should be 0x0007"},
    {";030100010203000A|;0000020002", "line 2: end record counts 2 and 2 records, but 1 came before it"},
    {";030100010203000A", "line 2: file ends without its end record"},
    // signetics
    {":0100030E01020306|:020001120408|:000000", ""},
    {":0100030E01020306|:020001130408|:000000", "line 2: address checksum 0x13, should be 0x12"},
    {":0100030E01020306|:020001120409|:000000", "line 2: data checksum 0x09, should be 0x08"},
    {":0100030E01020306|:00000000", "line 2: end record of 9 characters, not 7"},
    // tektronix
    {"/0100030401020306|/020001030404|/00000000", ""},
    {"/0100030401020306|/020001040404", "line 2: address checksum 0x04, should be 0x03"},
    {"/0100030401020306|/020001030405", "line 2: data checksum 0x05, should be 0x04"},
    {"/0100030401020306|/0200010304", "line 2: count 0x01 needs 13 characters, the record has 11"},
    // sdsmac
    {"000037412E42494E8038AF|90100B0102B03FF8FC98F|:", ""},
    {"90100B0102B03FF8FC98F|90200*048FE3FF|:", ""},
    {"K0008abc90100*017FC0BF|:", ""},
    {"90100B0102B03FF8FC98F|90200*048FE3EF|:", "line 2: checksum 0xFE3E, should be 0xFE3F"},
    {"90100B0102B03FF8FC98F|90200*04F|:", "line 2: record without a checksum"},
    {"90100B0102B03FF8FC98F|90200*048FE3FFF|:", "line 2: the F tag in column 14 does not end the line"},
    {"90100B0102B03FF8FC98F|90200*048FE3F9|:", "line 2: the checksum in column 9 is not followed by the F tag"},
    {"90100B0102B03FF8FC98F|90200*0Q8FE3FF|:", "line 2: bad character 'Q' in column 8"},
    {"90100B0102B03FF8FC98F|K0040abc90100*017FC0BF|:", "line 2: program name of 64 characters does not fit the line"},
    {"90100B0102B03FF8FC98F", "line 2: file ends without its end record"},
    {"90100B0102B03FF8FC98F|:|90200*048FE3FF", "line 3: text after the end record"},
    // ihf
    {":02 0040 00 0102030405060708 9A|:01 0080 00 01020304 75|:00 0000 01 FF", ""},
    {":02 0040 00 0102030405060708 9A|:01 0080 00 01020304 76", "line 2: checksum 0x76, should be 0x75"},
    {":02 0040 00 0102030405060708 9A|:02 0080 00 01020304 74", "line 2: count 0x02 for 4 data bytes, not 0x01"},
    {":02 0040 00 0102030405060708 9A|:01 0080 00 01020304  75", "line 2: record of 24 characters, not 14 or 15 and two per data byte"},
    {":02 0040 00 0102030405060708 9A|:01 0080 00.01020304 75", "line 2: bad character '.' in column 12"},
    {":02 0040 00 0102030405060708 9A|:02 FFFF 00 0102030405060708 DC", "line 2: data runs past address 0x3FFFF"},
};

TEST_F(zorbin_hexin, broken_files_stop_with_the_line_and_write_nothing)
{
    for (const broken_row& r : broken) {
        std::string file;
        for (const char* p = r.file; *p; ++p) {
            if (*p == '|')
                file += "\r\n";
            else
                file += *p;
        }
        SCOPED_TRACE(file);
        th::write_file(path("in.hex"), file);
        const th::result res = zorbin({"-motorola32", "in.hex", "out.s37"});
        EXPECT_EQ(res.err, "");
        if (*r.what == '\0') {
            EXPECT_EQ(res.status, 0) << res.out;
            EXPECT_TRUE(std::filesystem::exists(path("out.s37")));
            std::filesystem::remove(path("out.s37"));
            continue;
        }
        EXPECT_EQ(res.out, "Bad hex file in.hex " + std::string(r.what) + "\r\n");
        EXPECT_EQ(res.status, 1);
        EXPECT_FALSE(std::filesystem::exists(path("out.s37")));
    }
}

// Hostile files cost in proportion to their size: a line of any length is looked at once,
// a million records of one byte make no more than their own runs.
TEST_F(zorbin_hexin, hostile_files_cost_what_they_are)
{
    // A long line: its count cannot be right, and the reader says so at once.
    std::string longline = ":FF000000" + std::string(1u << 22, '0');
    const auto* p = reinterpret_cast<const unsigned char*>(longline.data());
    EXPECT_EQ(zb::detect_hex({p, longline.size()}), zb::none);
    zb::hex_image h = zb::read_hex({p, longline.size()}, zb::mds);
    EXPECT_EQ(zb::hex_what(h.error), "count 0xFF needs 521 characters, the record has 4194313");

    // A million one-byte records, each a record apart from the last: a million runs, which
    // stay runs (no copy per record); adjacent ones become one.
    for (const bool apart : {false, true}) {
        std::string t;
        for (std::uint32_t k = 0; k < 1000000; ++k) {
            const std::uint32_t a = apart ? 2 * k : k;
            char line[32];
            std::snprintf(line, sizeof line, "S306%08X00%02X\n", a,
                          static_cast<unsigned>(~(6 + (a >> 24) + ((a >> 16) & 0xFF) + ((a >> 8) & 0xFF) + (a & 0xFF)) & 0xFF));
            t += line;
        }
        const auto* q = reinterpret_cast<const unsigned char*>(t.data());
        ASSERT_EQ(zb::detect_hex({q, t.size()}), zb::exorciser);
        h = zb::read_hex({q, t.size()}, zb::exorciser);
        ASSERT_EQ(zb::hex_what(h.error), "");
        EXPECT_EQ(h.img.parts.size(), apart ? 1000000u : 1u);
    }
}

}  // namespace
