// zorbin end to end: option words, numbers, positionals, help, loading and output failures.
#include "cli.h"
#include "formats/formats.h"
#include "formats/uf2.h"
#include "harness.h"
#include "image/sum.h"

#include <algorithm>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string usage = "usage: Zorbin -<format> <binary-file> [<output-file>]\r\n";

// One byte 00 as motorola32 at the given address, with its end record.
std::string s3_byte0(const std::string& addr_and_sum)
{
    return "S306" + addr_and_sum + "\r\nS70500000000FA\r\n";
}

struct cli_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

void check(const cli_case& c, const th::options& o = {})
{
    SCOPED_TRACE(c.what);
    auto r = th::run("zorbin", c.args, o);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
}

const std::string help =
    "              <<< ZORBIN Version 1.2 >>>\r\n\r\n"
    "Command format: Zorbin [<options>] -<format> <binary-file> [<hex-output>]\r\n"
    "\r\nOptions:\r\n"
    "-Base n       Base address in output file\r\n"
    "              (prefix 'n' with 0x for hex, follow with K for kilobytes)\r\n"
    "-Bin          Accept a plain binary file as input rather than an AIF file\r\n"
    "\r\nFormat may be one of the following:\r\n"
    "-Cosmac       RCA Cosmac format\r\n"
    "-Fairbug      Fairchild Fairbug format\r\n"
    "-MOSTech      MOS Technology format\r\n"
    "-EXORciser    Motorola EXORciser format (16 bit 'S' records)\r\n"
    "-MDS          Intel Intellec 8/MDS format\r\n"
    "-IHF          Extended Intellec Hex format\r\n"
    "-Signetics    Signetics Absolute Object format\r\n"
    "-Tektronix    Tektronix Hexadecimal format\r\n"
    "-EXORmacs     Motorola EXORmacs format (24 bit 'S' records)\r\n"
    "-MCS86        Intel MCS-86 Hexadecimal format\r\n"
    "-SDSMAC       Texas Instruments SDSMAC format\r\n"
    "-Motorola32   Motorola 32-Bit format (32 bit 'S' records)\r\n"
    "-Intel32      Intel Hex-32 format\r\n";

std::string unrecognised(const std::string& word)
{
    return "Unrecognised format or option, -" + word + ", enter Zorbin -help for help\r\n";
}

// The scan of an argument vector, as main hands it over.
zb::scan_result scan(std::vector<std::string> words, zb::options& opt)
{
    static std::vector<std::string> kept;  // the options keep pointers into the words
    kept = std::move(words);
    std::vector<const char*> argv{"Zorbin"};
    for (const auto& w : kept)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);
    return zb::scan_args(argv.data(), opt);
}

std::string dash(std::string_view w)
{
    std::string s(1, '-');
    return s.append(w);
}

// Every option row is reached by its words in any case, and reads its arguments by their
// kinds: with good ones the scan goes on to the format after them; without them, or with a
// bad one, it stops with the message of the kind. A row that an earlier row or a format
// shadows, or an argument kind without its parser, fails here.
TEST(zorbin_cli_tables, every_option_row_is_reached_and_reads_its_arguments)
{
    struct kind_row {
        zb::arg_kind kind;
        std::vector<std::string> good;  // the words of a good argument
        std::vector<std::string> bad;   // of a bad one; none: every word is good
        std::string says;               // the message, around " on -WORD option"
        std::string tail;
    };
    const std::string crc_tail = ", use " + zb::kind_words() +
                                 ", KIND/be or crc:WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT";
    const kind_row kinds[] = {
        {zb::arg_kind::number, {"0x10"}, {"12a"}, "Bad number", ""},
        {zb::arg_kind::address, {"1k"}, {"-5"}, "Bad number", ""},
        {zb::arg_kind::byte, {"0xFF"}, {"256"}, "Bad number", ""},
        {zb::arg_kind::range, {"0", "4"}, {"0", "0"}, "Bad size", ""},
        {zb::arg_kind::file, {"a.bin"}, {}, "", ""},
        {zb::arg_kind::crc_kind, {"CRC16"}, {"md5"}, "Bad kind", crc_tail},
        {zb::arg_kind::input_kind, {"ELF"}, {"foo"}, "Bad kind",
         ", use elf, aif, bin or a format word"},
        {zb::arg_kind::text, {"fw 1.2"}, {}, "", ""},
        {zb::arg_kind::name, {"boot"}, {}, "", ""},
        // Left out, it is not missing: the words without it are the scan's again.
        {zb::arg_kind::maybe, {"4"}, {"4x"}, "Bad number", ""},
        {zb::arg_kind::family, {"RP2040"}, {"rp2041"}, "Bad family",
         ", use a number or one of " + zb::uf2_family_names()},
        {zb::arg_kind::usb_id, {"0483:DF11"}, {"0483"}, "Bad id",
         ", use VID:PID or VID:PID:BCD in hex digits"},
    };
    auto kind_of = [&](zb::arg_kind k) {
        return std::find_if(std::begin(kinds), std::end(kinds),
                            [&](const kind_row& r) { return r.kind == k; });
    };
    for (const zb::option_row& o : zb::option_table()) {
        EXPECT_NE(o.stops, o.set != nullptr) << o.word;
        std::string upper(o.word);
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        for (const std::string_view w : {o.word, o.alias, std::string_view(upper)}) {
            if (w.empty())
                continue;
            SCOPED_TRACE(dash(w));
            const auto message = [&](const std::string& says, const std::string& tail) {
                return says + " on -" + std::string(o.word) + " option" + tail + "\n";
            };
            std::vector<std::string> line{dash(w)};
            for (const zb::arg_kind k : o.args) {
                if (k == zb::arg_kind::none)
                    break;
                const auto r = kind_of(k);
                ASSERT_NE(r, std::end(kinds)) << "a kind without its row here";
                for (std::size_t n = 0; k != zb::arg_kind::maybe && n < r->good.size(); ++n) {
                    std::vector<std::string> cut(line);
                    cut.insert(cut.end(), r->good.begin(), r->good.begin() + n);
                    zb::options opt;
                    EXPECT_EQ(scan(cut, opt).message, message("No argument", ""));
                }
                if (k == zb::arg_kind::maybe) {
                    std::vector<std::string> left(line);
                    left.insert(left.end(), {"-intel32", "in.bin"});
                    zb::options opt;
                    EXPECT_EQ(scan(left, opt).message, "");
                    EXPECT_STREQ(opt.infile, "in.bin");
                }
                if (!r->bad.empty()) {
                    std::vector<std::string> bad(line);
                    bad.insert(bad.end(), r->bad.begin(), r->bad.end());
                    bad.push_back("-intel32");
                    zb::options opt;
                    EXPECT_EQ(scan(bad, opt).message, message(r->says, r->tail));
                }
                line.insert(line.end(), r->good.begin(), r->good.end());
            }
            line.insert(line.end(), {"-intel32", "-crc", "crc32", "8"});  // -crcrange needs it
            zb::options opt;
            const zb::scan_result res = scan(line, opt);
            EXPECT_EQ(res.message, "");
            if (o.stops) {
                EXPECT_EQ(res.status, zb::scan_status::help);
            } else {
                EXPECT_EQ(res.status, zb::scan_status::run);
                EXPECT_EQ(opt.format, zb::intel32);
                EXPECT_EQ(opt.infile, nullptr);
            }
        }
    }
}

// The help text is the option rows' lines, then the format rows' lines in the places they
// hold; a row without a help line is not listed.
TEST(zorbin_cli_tables, the_help_comes_from_the_rows)
{
    std::string options;
    for (const zb::option_row& o : zb::option_table())
        options += o.help;
    std::vector<const zb::format_row*> listed;
    for (const zb::fmt f : zb::hex_formats)
        if (!zb::formats[f].help.empty())
            listed.push_back(&zb::formats[f]);
    std::sort(listed.begin(), listed.end(),
              [](auto* a, auto* b) { return a->help_rank < b->help_rank; });
    std::string formats;
    for (const zb::format_row* r : listed)
        formats += r->help;
    const std::string head = "\nFormat may be one of the following:\n";
    const std::string text = zb::give_help();
    EXPECT_NE(text.find("\nOptions:\n" + options + head), std::string::npos);
    EXPECT_TRUE(text.ends_with(head + formats));
}

TEST(zorbin_cli, option_words_and_their_messages)
{
    const cli_case cases[] = {
        {"-help", {"-help"}, "", help, 0},
        {"-HELP", {"-HELP"}, "", help, 0},
        {"-Help stops before a later bad option", {"-Help", "-foo", "a", "b", "c"}, "", help, 0},
        {"a bad option before -help wins", {"-foo", "-help"}, unrecognised("foo"), "", 1},
        {"-h is no abbreviation", {"-h"}, unrecognised("h"), "", 1},
        {"--help echoes -help", {"--help"}, unrecognised("-help"), "", 1},
        {"lone dash: empty word", {"-"}, unrecognised(""), "", 1},
        {"-bi is not -bin", {"-intel32", "-bi"}, unrecognised("bi"), "", 1},
        {"-mot is not -motorola32", {"-mot"}, unrecognised("mot"), "", 1},
        {"-binaryx is not -binary", {"-binaryx"}, unrecognised("binaryx"), "", 1},
        {"same format twice, table words", {"-MDS", "-mds"}, "Duplicate formats, -mds & -mds\r\n", "", 1},
        {"two formats in order", {"-intel32", "-Motorola32"},
         "Duplicate formats, -intel32 & -motorola32\r\n", "", 1},
        {"no argument at all", {}, usage, "No format specified (use -help for help)\r\n", 1},
        {"options but no format", {"-bin", "in.bin"}, usage,
         "No format specified (use -help for help)\r\n", 1},
        {"third positional stops before a later bad option", {"a", "b", "c", "-foo"}, usage,
         "Too many arguments\r\n", 1},
        {"-base last", {"-intel32", "-base"}, "No argument on -base option\r\n", "", 1},
        {"-base takes -bin as its number", {"-base", "-bin", "-intel32"},
         "Bad number on -base option\r\n", "", 1},
        {"format but no input file", {"-intel32"}, "Error opening (null) for input\r\n", "", 1},
        {"-Bin and -BINARY are options", {"-Bin", "-BINARY", "-Cosmac"},
         "Error opening (null) for input\r\n", "", 1},
    };
    for (const auto& c : cases)
        check(c);
}

class zorbin_files : public th::tmpdir {
protected:
    // A one-byte binary file 00 in the scratch directory.
    std::string one_byte()
    {
        th::write_file(path("one.bin"), std::string(1, '\0'));
        return path("one.bin");
    }
};

// Each -crcrange belongs to the -crc before it, one before the first to the first; a later
// one replaces an earlier one, whether either is given as numbers or as symbols.
TEST(zorbin_cli_checksums, each_crcrange_belongs_to_the_crc_before_it)
{
    struct row {
        std::string args;
        std::string covered;  // each -crc's range, "lo+size" in hex, "-" for none
        std::size_t symbolic = 0;
    };
    const row rows[] = {
        {"-crc crc32 8", "-", 0},
        {"-crcrange 0 4 -crc crc32 8", "0+4", 0},
        {"-crc crc32 8 -crcrange 0 4", "0+4", 0},
        {"-crc crc32 8 -crcrange 0 4 -crc crc16 12 -crcrange 4 8", "0+4 4+8", 0},
        {"-crcrange 0 4 -crc crc32 8 -crcrange 0 8", "0+8", 0},
        {"-crcrange 0 4 -crcrange 0 6 -crc crc32 8", "0+6", 0},
        {"-crc crc32 8 -crc crc16 12 -crcrange 0 4", "- 0+4", 0},
        {"-crcrange 0 4 -crc crc32 8 -crc sha256 0x40", "0+4 -", 0},
        {"-crcrange @lo 4 -crc crc32 8 -crcrange 0 8", "0+8", 0},
        {"-crcrange 0 8 -crc crc32 8 -crcrange @lo @size", "0+0", 1},
        {"-crcrange @lo 4 -crc crc32 @at -crc crc16 @at+4 -crcrange @lo 4", "0+0 0+0", 4},
        {"-base @a -base 4 -entry @e -range @lo 4 -addbin a.bin @b -addbin b.bin 8", "", 3},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args);
        std::vector<std::string> words = th::words(r.args);
        words.push_back("-intel32");
        zb::options opt;
        ASSERT_EQ(scan(words, opt).message, "");
        std::ostringstream covered;
        for (const zb::crc_request& q : opt.crcs) {
            if (&q != &opt.crcs.front())
                covered << ' ';
            if (q.covered)
                covered << std::hex << q.covered->lo << '+' << q.covered->end - q.covered->lo;
            else
                covered << '-';
        }
        EXPECT_EQ(covered.str(), r.covered);
        EXPECT_EQ(opt.symbolic.size(), r.symbolic);
    }
    zb::options opt;
    EXPECT_EQ(scan({"-intel32", "-crc", "crc16", "8", "-base", "@a", "-base", "4"}, opt).message, "");
    EXPECT_EQ(opt.base, 4u);
    EXPECT_TRUE(opt.symbolic.empty()) << "the later -base replaces the symbol";
}

// A symbol's value goes to its option: the address of its first byte, -entry's value itself;
// a field at a symbol of known size has the rest of the symbol for room. Each message names
// what is wrong; -info's notes name each symbol once.
TEST(zorbin_cli_checksums, symbols_resolve_into_their_options)
{
    const zb::named_symbol symbols[] = {
        {"reset", 0x08000010, 0x08000011, 0},  {"__crc", 0x0800FFFC, 0x0800FFFC, 4},
        {"twice", 0x100, 0x100, 0},           {"twice", 0x100, 0x100, 8},
        {"differ", 0x200, 0x200, 0},          {"differ", 0x300, 0x300, 0},
        {"end", 0xFFFFFFF8, 0xFFFFFFF8, 0},   {"big", 0x100000000, 0x100000000, 0},
    };
    const zb::symbol_table table{symbols, {}};
    struct row {
        std::string args;
        std::string message;  // the one that stops the run, or ""
        std::string got;      // what the options hold then, as got() says it
    };
    auto got = [](const zb::options& o) {
        std::ostringstream s;
        s << std::hex << "base " << o.base << " entry " << o.entry;
        if (o.range)
            s << " range " << o.range->lo << '-' << o.range->end;
        for (const zb::crc_request& q : o.crcs) {
            s << " crc " << q.at << " '" << q.symbol << "'";
            if (q.room)
                s << " room " << *q.room;
            if (q.covered)
                s << " over " << q.covered->lo << '-' << q.covered->end;
        }
        for (const zb::added& a : o.adds)
            s << " add " << a.at.value_or(0);
        return s.str();
    };
    const row rows[] = {
        {"-base @reset", "", "base 8000010 entry 0"},
        {"-entry @reset", "", "base 0 entry 8000011"},
        {"-entry @reset+1", "", "base 0 entry 8000012"},
        {"-crc crc32 @__crc", "", "base 0 entry 0 crc 800fffc '__crc' room 4"},
        {"-crc crc16 @__crc+2", "", "base 0 entry 0 crc 800fffe '__crc' room 2"},
        {"-crc crc32 @__crc-4", "", "base 0 entry 0 crc 800fff8 ''"},
        {"-crc crc32 @__crc+4", "", "base 0 entry 0 crc 8010000 ''"},
        {"-crc crc32 @reset+0x10", "", "base 0 entry 0 crc 8000020 'reset'"},
        {"-crc crc32 @twice -crcrange @reset 0x10", "",
         "base 0 entry 0 crc 100 'twice' over 8000010-8000020"},
        {"-range @reset @__crc", "", "base 0 entry 0 range 8000010-1001000c"},
        {"-addbin a.bin @reset-0x10", "", "base 0 entry 0 add 8000000"},
        {"-range @end 8", "", "base 0 entry 0 range fffffff8-100000000"},
        {"-range @end 9", "Bad size on -range option\n", ""},
        {"-crcrange @end 0 -crc crc32 0", "Bad size on -crcrange option\n", ""},
        {"-crc crc32 @differ", "Symbol differ in app.elf has two values, 0x200 and 0x300\n", ""},
        {"-base @nosuch", "No symbol nosuch in app.elf\n", ""},
        {"-base @Reset", "No symbol Reset in app.elf\n", ""},
        {"-base @end+8", "@end+8 on -base option gives 0x100000000, not a 32-bit address\n", ""},
        {"-base @big-1", "", "base ffffffff entry 0"},
        {"-base @big", "@big on -base option gives 0x100000000, not a 32-bit address\n", ""},
        {"-entry @reset-0x8000012",
         "@reset-0x8000012 on -entry option gives an address below 0, not a 32-bit address\n", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args);
        std::vector<std::string> words = th::words(r.args);
        words.push_back("-intel32");
        zb::options opt;
        ASSERT_EQ(scan(words, opt).message, "");
        std::vector<std::string> notes;
        const auto msg = zb::resolve_symbols(opt, table, "app.elf", notes);
        EXPECT_EQ(msg.value_or(""), r.message);
        if (!msg) {
            EXPECT_EQ(got(opt), r.got);
        }
    }
    zb::options opt;
    ASSERT_EQ(scan({"-intel32", "-range", "@reset", "16", "-crc", "crc32", "@reset+16", "-entry",
                    "@reset", "-crcrange", "@reset", "@twice"}, opt).message, "");
    std::vector<std::string> notes{"earlier"};
    ASSERT_EQ(zb::resolve_symbols(opt, table, "app.elf", notes), std::nullopt);
    EXPECT_EQ(notes, (std::vector<std::string>{"earlier", "symbol reset = 0x08000010",
                                               "symbol reset = 0x08000011, as -entry takes it",
                                               "symbol twice = 0x00000100"}));
    const zb::symbol_table none{{}, "which is not read as an ELF file"};
    EXPECT_EQ(zb::resolve_symbols(opt, none, "app.bin", notes),
              "No symbol reset in app.bin, which is not read as an ELF file\n");
}

TEST_F(zorbin_files, base_number_syntax)
{
    struct num_case {
        const char* arg;
        std::string out;  // records for one byte 00 at that address, or the message
        const char* why = "";
    };
    const std::string bad = "Bad number on -base option\r\n";
    const num_case cases[] = {
        {"0x400", s3_byte0("0000040000F5")},
        {"&400", s3_byte0("0000040000F5")},
        {"1K", s3_byte0("0000040000F5")},
        {"1024", s3_byte0("0000040000F5")},
        {"0X1Fk", s3_byte0("00007C00007D")},
        {"0x7c00", s3_byte0("00007C00007D")},
        {"1m", s3_byte0("0010000000E9")},
        {"1M", s3_byte0("0010000000E9")},
        {"0x", s3_byte0("0000000000F9")},
        {"", s3_byte0("0000000000F9")},
        {"&", s3_byte0("0000000000F9")},
        {"0k", s3_byte0("0000000000F9")},
        {"0xFFFFFFFE", s3_byte0("FFFFFFFE00FE")},
        {"4294967294", s3_byte0("FFFFFFFE00FE")},
        {"4194303k", s3_byte0("FFFFFC0000FF"), "largest K"},
        {"4095m", s3_byte0("FFF00000000A"), "largest M"},
        {"16kb", bad},
        {"12a", bad, "a is no decimal digit"},
        {"-5", bad, "no sign"},
        {"1k2", bad},
        {"0xg", bad},
        {"1 ", bad},
        {"0x100000000", bad, "past 32 bits"},
        {"4294967296", bad, "past 32 bits"},
        {"4194304k", bad, "past 32 bits by the suffix"},
        {"4096m", bad, "past 32 bits by the suffix"},
        {"99999999999999999999", bad, "would wrap twice"},
    };
    std::string in = one_byte();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("-base '") + c.arg + "' " + c.why);
        auto r = th::run("zorbin", {"-motorola32", "-bin", "-base", c.arg, in});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, c.out == bad ? 1 : 0);
    }
}

TEST_F(zorbin_files, a_later_base_overrides_an_earlier_one)
{
    auto r = th::run("zorbin", {"-base", "5", "-motorola32", "-base", "1k", "-bin", one_byte()});
    EXPECT_EQ(r.out, s3_byte0("0000040000F5"));
    EXPECT_EQ(r.status, 0);
}

TEST_F(zorbin_files, every_format_word_selects_its_format)
{
    // The first text each format writes for one byte 00 at address 0.
    const std::pair<const char*, const char*> cases[] = {
        {"-COSMAC", "!M0000 ,\r\n"},         {"-fairbug", "S0000\r\nX00"},
        {"-MOSTech", ";01000000"},           {"-exorciser", "S1040000"},
        {"-mds", ":01000000"},               {"-Signetics", ":000001"},
        {"-tektronix", "/000001"},           {"-EXORmacs", "S205000000"},
        {"-mcs86", ":020000020000FC\r\n"},   {"-sdsmac", "000017"},
        {"-Motorola32", "S306"},             {"-INTEL32", ":020000040000FA\r\n"},
        {"-ihf", ":00 0000 00 "},
    };
    std::string in = one_byte();
    for (const auto& [word, start] : cases) {
        SCOPED_TRACE(word);
        auto r = th::run("zorbin", {word, "-bin", in});
        EXPECT_EQ(r.out.substr(0, std::string_view(start).size()), start);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(zorbin_files, positionals_and_options_in_any_order)
{
    th::write_file(path("in.bin"), "\x01\x02\x03");
    const std::string records = ":020000040000FA\r\n:03000000010203F7\r\n:00000001FF\r\n";
    const std::vector<std::vector<std::string>> orders = {
        {"-intel32", "-bin", "in.bin", "out.hex"},
        {"in.bin", "out.hex", "-intel32", "-bin"},
        {"in.bin", "-Bin", "out.hex", "-Intel32"},
        {"-binary", "in.bin", "-intel32", "out.hex"},
    };
    for (const auto& args : orders) {
        SCOPED_TRACE(testing::PrintToString(args));
        fs::remove(path("out.hex"));
        auto r = th::run("zorbin", args, in_dir());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(th::read_file(path("out.hex")), records);
    }
}

TEST_F(zorbin_files, names_in_utf8)
{
    const std::string in = "donn\xC3\xA9" "es.bin", out = "\xE6\x97\xA5\xE6\x9C\xAC.hex";
    th::write_file(dir / std::u8string(in.begin(), in.end()), "\x01\x02\x03");
    auto r = th::run("zorbin", {"-intel32", "-bin", in, out}, in_dir());
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(dir / std::u8string(out.begin(), out.end())),
              ":020000040000FA\r\n:03000000010203F7\r\n:00000001FF\r\n");
    r = th::run("zorbin", {"-intel32", "-bin", "donn\xC3\xA9" "es.none"}, in_dir());
    EXPECT_EQ(r.out, "Error opening donn\xC3\xA9" "es.none for input\r\n") << "the name as given";
}

TEST_F(zorbin_files, records_go_to_standard_output_without_an_output_name)
{
    th::write_file(path("in.bin"), "\x01\x02\x03");
    auto r = th::run("zorbin", {"-intel32", "-bin", "-base", "0x0100", "in.bin"}, in_dir());
    EXPECT_EQ(r.out, ":020000040000FA\r\n:03010000010203F6\r\n:00000001FF\r\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(zorbin_files, plain_binary_gets_a_warning_unless_bin)
{
    th::write_file(path("in.bin"), "\x01\x02\x03");
    const std::string records = "S30800000100010203F0\r\nS70500000000FA\r\n";
    auto r = th::run("zorbin", {"-motorola32", "-base", "256", "in.bin"}, in_dir());
    EXPECT_EQ(r.out, records);
    EXPECT_EQ(r.err, "warning: not an AIF image, plain binary assumed\r\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(zorbin_files, loading_errors)
{
    th::write_file(path("empty.bin"), "");
    fs::create_directory(path("dir"));
    const cli_case cases[] = {
        {"missing file", {"-mds", "nosuch.bin"}, "Error opening nosuch.bin for input\r\n", "", 1},
        {"empty file", {"-mds", "empty.bin"}, "Unable to allocate 0 bytes\r\n", "", 1},
        {"a directory", {"-mds", "dir"}, "Error reading dir\r\n", "", 1},
        {"a pipe cannot seek", {"-mds", "/dev/stdin"}, "Error seeking on /dev/stdin\r\n", "", 1},
    };
    th::options o = in_dir();
    o.in = "data";
    for (const auto& c : cases) {
        if (c.args[1] != "/dev/stdin" || !th::not_on_windows("Windows has no /dev/stdin"))
            check(c, o);
    }
}

// A file that says it is empty may give bytes when read, as the files of /proc do: read to its
// end, it converts as its copy does. (Windows has no /proc.)
TEST_F(zorbin_files, linux_only_a_file_that_says_it_is_empty_is_read_to_its_end)
{
    const std::string proc = "/proc/sys/kernel/ostype";
    ASSERT_EQ(fs::file_size(proc), 0u) << "the case needs a file that says it is empty";
    const std::string bytes = th::read_file(proc);
    ASSERT_FALSE(bytes.empty());
    th::write_file(path("copy.bin"), bytes);
    const auto copy = th::run("zorbin", {"-motorola32", "copy.bin"}, in_dir());
    const auto r = th::run("zorbin", {"-motorola32", proc}, in_dir());
    ASSERT_EQ(copy.status, 0);
    EXPECT_EQ(r.out, copy.out);
    EXPECT_EQ(r.err, copy.err);
    EXPECT_EQ(r.status, 0);
}

// Standard output that is an input file, as 1<> opens it without cutting it: what zorbin
// writes there would overwrite the file while it is read. Refused as an output named so is,
// on standard error, the file left as it was. (Under Wine a Windows program gets no file
// identity for the standard output a Unix shell hands it.)
TEST_F(zorbin_files, linux_only_standard_output_that_is_an_input_is_refused)
{
    REQUIRE_TOOL("sh");
    th::write_file(path("in.bin"), "\x01\x02\x03");
    th::write_file(path("in.hex"), ":03010000010203F6\r\n:00000001FF\r\n");
    struct row {
        std::string args;  // after zorbin -intel32
        std::string input;  // the one standard output is
    };
    const row rows[] = {
        {"in.bin", "in.bin"},
        {"-bin in.bin", "in.bin"},
        {"-info in.hex", "in.hex"},
        {"in.hex out.hex", "in.hex"},
        {"in.hex -addbin in.bin 0x200", "in.bin"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args);
        const std::string before = th::read_file(path(r.input));
        const std::string cmd = th::command("zorbin") + " -intel32 " + r.args + " 1<>" + r.input;
        const auto res = th::run_argv(th::which("sh"), {"sh", "-c", cmd}, in_dir());
        EXPECT_EQ(res.err, "Output file standard output is the input file " + r.input +
                               ", not overwritten\r\n");
        EXPECT_EQ(res.status, 1);
        EXPECT_EQ(th::read_file(path(r.input)), before);
        EXPECT_FALSE(fs::exists(path("out.hex")));
    }
}

TEST_F(zorbin_files, inputs_past_the_32_bit_address_space_are_refused_before_loading)
{
    // Sparse files: the size is checked before any buffer is allocated or byte read.
    for (off_t size : {off_t{0x100000000}, off_t{0x100000001}}) {
        SCOPED_TRACE(size);
        int fd = ::open(path("big.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        auto r = th::run("zorbin", {"-intel32", "big.bin", "out.hex"}, in_dir());
        EXPECT_EQ(r.out, "Input file big.bin too big for the 32-bit address space, " +
                             std::to_string(size) + " bytes\r\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(fs::exists(path("out.hex")));
    }
}

// Linux only: Windows has no /dev/full.
TEST_F(zorbin_files, linux_only_write_errors_name_the_output_and_fail)
{
    REQUIRE_SYSTEM_FILE("/dev/full");
    one_byte();
    // Standard output itself is full: the message falls back to standard error.
    th::options full = in_dir();
    full.stdout_path = "/dev/full";
    auto r = th::run("zorbin", {"-intel32", "-bin", "one.bin"}, full);
    EXPECT_EQ(r.err, "Error writing standard output\r\n");
    EXPECT_EQ(r.status, 1);

    r = th::run("zorbin", {"-intel32", "-bin", "one.bin", "/dev/full"}, in_dir());
    EXPECT_EQ(r.out, "Error writing /dev/full\r\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

TEST_F(zorbin_files, output_to_devices_is_written_directly)
{
    one_byte();
    const char* null_device = th::windows() ? "NUL" : "/dev/null";
    auto r = th::run("zorbin", {"-motorola32", "-bin", "one.bin", null_device}, in_dir());
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    SKIP_REST_ON_WINDOWS("no file name for standard output, to write records through a pipe");
    r = th::run("zorbin", {"-motorola32", "-bin", "one.bin", "/dev/stdout"}, in_dir());
    EXPECT_EQ(r.out, s3_byte0("0000000000F9"));
    EXPECT_EQ(r.status, 0);
}

TEST_F(zorbin_files, a_failed_run_leaves_an_existing_output_untouched)
{
    one_byte();
    th::write_file(path("out.hex"), "old content\n");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(path("out.hex"), mode);
    // mds ends at 0xFFFF: one byte at 0x10000 is past it.
    auto r = th::run("zorbin", {"-mds", "-bin", "-base", "64k", "one.bin", "out.hex"}, in_dir());
    EXPECT_EQ(r.out, "Base and/or size too big for this format, max = 0xFFFF\r\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(th::read_file(path("out.hex")), "old content\n");

    // A complete run replaces it and keeps its permissions; no temporary file stays behind.
    r = th::run("zorbin", {"-mds", "-bin", "one.bin", "out.hex"}, in_dir());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(path("out.hex")), ":0100000000FF\r\n:00000001FF\r\n");
    if (!th::not_on_windows("POSIX permissions")) {
        EXPECT_EQ(fs::status(path("out.hex")).permissions() & fs::perms::all, mode);
    }
    int entries = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir))
        entries++;
    EXPECT_EQ(entries, 2);
}

TEST_F(zorbin_files, an_output_that_cannot_be_opened)
{
    one_byte();
    auto r = th::run("zorbin", {"-mds", "-bin", "one.bin", "nodir/out.hex"}, in_dir());
    EXPECT_EQ(r.out, "Error opening nodir/out.hex for output\r\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(zorbin_files, Zorbin_runs_the_same_program)
{
    one_byte();
    const std::vector<std::vector<std::string>> runs = {
        {"-help"}, {"-Motorola32", "-bin", "one.bin"}, {"-foo"}, {}};
    for (const auto& args : runs) {
        SCOPED_TRACE(testing::PrintToString(args));
        auto lower = th::run("zorbin", args, in_dir());
        auto upper = th::run("Zorbin", args, in_dir());
        EXPECT_EQ(upper.out, lower.out);
        EXPECT_EQ(upper.err, lower.err);
        EXPECT_EQ(upper.status, lower.status);
    }
}

}  // namespace
