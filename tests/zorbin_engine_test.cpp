// Hex record engine: exact output of every format, address limits, 64 KiB pages, sink failures.
#include "write/engine.h"
#include "formats/formats.h"
#include "harness.h"
#include "formats/hexdigits.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

// n bytes counting up from first (01 02 03 ... in the worked examples).
bytes count_up(std::size_t n, unsigned first = 1)
{
    bytes b(n);
    for (std::size_t k = 0; k < n; ++k)
        b[k] = static_cast<unsigned char>(first + k);
    return b;
}

using th::lines;

std::string encode(zb::fmt format, std::uint32_t base, const bytes& data,
                   std::string_view name = "a.bin")
{
    std::string s;
    EXPECT_EQ(zb::bin2hex(data, format, name, base, zb::string_sink(s)), zb::hex_result::ok);
    return s;
}

struct golden {
    const char* what;
    zb::fmt format;
    std::uint32_t base;
    bytes data;
    std::string expected;
};

void check(const std::vector<golden>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(encode(c.format, c.base, c.data), c.expected);
    }
}

const bytes three{1, 2, 3};

// The containers built by hand from their descriptions, little-endian words.
std::string le(std::uint32_t v, int n)
{
    std::string s;
    for (int k = 0; k < n; ++k)
        s += static_cast<char>(v >> (8 * k));
    return s;
}

std::string chars(const bytes& b) { return std::string(b.begin(), b.end()); }

// One UF2 block of a page, without a family.
std::string uf2_block(std::uint32_t addr, const std::string& page, std::uint32_t number,
                      std::uint32_t count)
{
    return le(0x0A324655, 4) + le(0x9E5D5157, 4) + le(0, 4) + le(addr, 4) + le(256, 4) +
           le(number, 4) + le(count, 4) + le(0, 4) + page + std::string(220, '\0') +
           le(0x0AB16F30, 4);
}

// body and the DFU suffix for any device, its CRC bit by bit.
std::string with_suffix(std::string body, std::uint32_t bcd_dfu)
{
    body += le(0xFFFF, 2) + le(0xFFFF, 2) + le(0xFFFF, 2) + le(bcd_dfu, 2) + "UFD\x10";
    std::uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : body) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return body + le(crc, 4);
}

// A DfuSe file of one unnamed target and the given elements.
std::string dfuse_file(const std::vector<std::pair<std::uint32_t, std::string>>& elements)
{
    std::string e;
    for (const auto& [addr, data] : elements)
        e += le(addr, 4) + le(static_cast<std::uint32_t>(data.size()), 4) + data;
    const std::string target = "Target" + std::string(1, '\0') + le(0, 4) +
                               std::string(255, '\0') + le(static_cast<std::uint32_t>(e.size()), 4) +
                               le(static_cast<std::uint32_t>(elements.size()), 4) + e;
    const auto size = static_cast<std::uint32_t>(11 + target.size());  // without the suffix
    return with_suffix("DfuSe\x01" + le(size, 4) + "\x01" + target, 0x011A);
}

// Every format's row names exactly one writer, of records or of the whole file: the dispatch
// has no fallback. A reader is a row's own choice (a format may be only written); a row read
// has the shape that detection looks for.
TEST(zorbin_engine, every_row_has_one_writer)
{
    for (zb::fmt f : zb::hex_formats) {
        const zb::format_row& r = zb::formats[f];
        SCOPED_TRACE(std::string(r.word));
        EXPECT_NE(r.write == nullptr, r.whole == nullptr);
        EXPECT_EQ(r.read == nullptr, r.shape == nullptr);
        if (r.whole) {
            EXPECT_EQ(r.start, nullptr);
            EXPECT_EQ(r.finish, nullptr);
        } else {
            // Only a writer of the whole file settles the image before its first byte.
            EXPECT_EQ(r.check, nullptr);
            EXPECT_FALSE(r.words || r.named);
        }
    }
}

TEST(zorbin_engine, worked_examples)
{
    check({
        {"cosmac 3", zb::cosmac, 0x100, three, lines({"!M0100 ,", "010203"})},
        {"cosmac 20", zb::cosmac, 0x100, count_up(20),
         lines({"!M0100 ,", "0102030405060708090A0B0C0D0E0F10,", "11121314"})},
        {"fairbug 3, FF fill", zb::fairbug, 0x100, three,
         lines({"S0100", "X010203FFFFFFFFFFC", "*"})},
        {"fairbug 8", zb::fairbug, 0x100, count_up(8), lines({"S0100", "X01020304050607084", "*"})},
        {"mostech", zb::mostech, 0x100, three, lines({";030100010203000A", ";0000010001"})},
        {"exorciser", zb::exorciser, 0x100, three, lines({"S1060100010203F2", "S9030000FC"})},
        {"mds", zb::mds, 0x100, three, lines({":03010000010203F6", ":00000001FF"})},
        {"signetics", zb::signetics, 0x100, three, lines({":0100030E01020306", ":000000"})},
        {"tektronix", zb::tektronix, 0x100, three, lines({"/0100030401020306", "/00000000"})},
        {"exormacs", zb::exormacs, 0x100, three, lines({"S207000100010203F1", "S9030000FC"})},
        {"mcs86", zb::mcs86, 0x100, three,
         lines({":020000020000FC", ":03010000010203F6", ":00000001FF"})},
        {"mcs86 across 0x20000", zb::mcs86, 0x1FFF0, count_up(32, 0),
         lines({":020000021000EC", ":10FFF000000102030405060708090A0B0C0D0E0F89",
                ":020000022000DC", ":10000000101112131415161718191A1B1C1D1E1F78",
                ":00000001FF"})},
        {"sdsmac, odd size", zb::sdsmac, 0x100, three,
         lines({"000037412E42494E8038AF", "90100B0102B03FF8FC98F", ":"})},
        {"motorola32", zb::motorola32, 0x100, three, lines({"S30800000100010203F0", "S70500000000FA"})},
        {"intel32", zb::intel32, 0x100, three,
         lines({":020000040000FA", ":03010000010203F6", ":00000001FF"})},
        {"intel32 across 0x20000", zb::intel32, 0x1FFF0, count_up(32, 0),
         lines({":020000040001F9", ":10FFF000000102030405060708090A0B0C0D0E0F89",
                ":020000040002F8", ":10000000101112131415161718191A1B1C1D1E1F78",
                ":00000001FF"})},
        {"ihf 8", zb::ihf, 0x100, count_up(8), lines({":02 0040 00 0102030405060708 9A", ":00 0000 01 FF"})},
        {"ihf 3, count field 00", zb::ihf, 0x100, three,
         lines({":00 0040 00 010203 BA", ":00 0000 01 FF"})},
        {"vmem 3", zb::vmem, 0x100, three, lines({"@00000100", "01 02 03"})},
        {"vmem 17", zb::vmem, 0x100, count_up(17),
         lines({"@00000100", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "11"})},
        {"mif 3 from 0", zb::mif, 2, three,
         lines({"WIDTH=8;", "DEPTH=5;", "", "ADDRESS_RADIX=HEX;", "DATA_RADIX=HEX;", "",
                "CONTENT BEGIN", "\t[0000..0001] : 00;", "\t0002 : 01;", "\t0003 : 02;",
                "\t0004 : 03;", "END;"})},
        {"coe 3", zb::coe, 0x100, three,
         lines({"memory_initialization_radix=16;", "memory_initialization_vector=", "01,02,03;"})},
        {"titxt 3", zb::titxt, 0x100, three, lines({"@0100", "01 02 03", "q"})},
        {"carray 3", zb::carray, 0x100, three,
         lines({"#ifdef __cplusplus", "extern \"C\" {", "#endif",
                "extern const unsigned char image[];", "extern const unsigned long image_size;",
                "extern const unsigned long image_address;", "#ifdef __cplusplus", "}",
                "#endif", "", "const unsigned char image[] = {", "  0x01, 0x02, 0x03", "};",
                "const unsigned long image_size = 3UL;",
                "const unsigned long image_address = 0x00000100UL;"})},
        {"uf2 3 at 0x101: their page, 00 around them", zb::uf2, 0x101, three,
         uf2_block(0x100, std::string(1, '\0') + chars(three) + std::string(252, '\0'), 0, 1)},
        {"uf2 300 at 0x1F0: three pages", zb::uf2, 0x1F0, count_up(300),
         uf2_block(0x100, std::string(0xF0, '\0') + chars(count_up(16)), 0, 3) +
             uf2_block(0x200, chars(count_up(256, 17)), 1, 3) +
             uf2_block(0x300, chars(count_up(28, 273)) + std::string(228, '\0'), 2, 3)},
        {"dfu 3", zb::dfu, 0x100, three, with_suffix(chars(three), 0x0100)},
        {"dfuse 3", zb::dfuse, 0x100, three, dfuse_file({{0x100, chars(three)}})},
    });
}

TEST(zorbin_engine, empty_data_gives_start_and_end_only)
{
    const bytes none;
    check({
        {"cosmac", zb::cosmac, 0x100, none, lines({"!M0100 ,", ""})},
        {"fairbug", zb::fairbug, 0x100, none, lines({"S0100", "*"})},
        {"mostech", zb::mostech, 0x100, none, lines({";0000000000"})},
        {"exorciser", zb::exorciser, 0x100, none, lines({"S9030000FC"})},
        {"mds", zb::mds, 0x100, none, lines({":00000001FF"})},
        {"signetics", zb::signetics, 0x100, none, lines({":000000"})},
        {"tektronix", zb::tektronix, 0x100, none, lines({"/00000000"})},
        {"exormacs", zb::exormacs, 0x100, none, lines({"S9030000FC"})},
        {"mcs86", zb::mcs86, 0x100, none, lines({":020000020000FC", ":00000001FF"})},
        {"sdsmac", zb::sdsmac, 0x100, none, lines({"000007412E42494E80387F", ":"})},
        {"motorola32", zb::motorola32, 0x100, none, lines({"S70500000000FA"})},
        {"intel32 base 0", zb::intel32, 0, none, lines({":020000040000FA", ":00000001FF"})},
        {"ihf", zb::ihf, 0x100, none, lines({":00 0000 01 FF"})},
        {"mostech at the limit", zb::mostech, 0xFFFF, none, lines({";0000000000"})},
        {"vmem", zb::vmem, 0x100, none, ""},
        {"titxt", zb::titxt, 0x100, none, lines({"q"})},
        {"uf2: no page, no block", zb::uf2, 0x100, none, ""},
        {"dfu: the suffix alone", zb::dfu, 0x100, none, with_suffix("", 0x0100)},
        {"dfuse: no element", zb::dfuse, 0x100, none, dfuse_file({})},
    });
    // The texts that cannot say "no byte" refuse it, before their first byte.
    for (const zb::fmt f : {zb::mif, zb::coe, zb::carray}) {
        SCOPED_TRACE(zb::formats[f].word);
        std::string s;
        EXPECT_EQ(zb::bin2hex(none, f, "a.bin", 0x100, zb::string_sink(s)), zb::hex_result::refused);
        EXPECT_EQ(s, "");
    }
}

TEST(zorbin_engine, records_count_from_the_first_byte)
{
    check({
        {"16 bytes: one record", zb::exorciser, 0x100, count_up(16),
         lines({"S11301000102030405060708090A0B0C0D0E0F1063", "S9030000FC"})},
        {"17 bytes: second record of 1 at base+16", zb::exorciser, 0x100, count_up(17),
         lines({"S11301000102030405060708090A0B0C0D0E0F1063", "S104011011D9", "S9030000FC"})},
        {"base 0x0104 does not snap to 16", zb::mds, 0x104, count_up(20),
         lines({":100104000102030405060708090A0B0C0D0E0F1063", ":04011400111213149D",
                ":00000001FF"})},
        {"signetics head and data sums", zb::signetics, 0xABCD, count_up(17),
         lines({":ABCD104A0102030405060708090A0B0C0D0E0F10DF", ":ABDD01281122", ":000000"})},
        {"tektronix head and data sums", zb::tektronix, 0xABCD, count_up(17),
         lines({"/ABCD102F0102030405060708090A0B0C0D0E0F1079", "/ABDD01301102", "/00000000"})},
        {"mostech 16-bit sums", zb::mostech, 0xABCD, count_up(17),
         lines({";10ABCD0102030405060708090A0B0C0D0E0F100210", ";01ABDD11019A", ";0000020002"})},
        {"fairbug second record filled", zb::fairbug, 0, count_up(11),
         lines({"S0000", "X01020304050607084", "X090A0BFFFFFFFFFF4", "*"})},
        {"exormacs six address digits", zb::exormacs, 0xFFF0, bytes(15, 0xFF),
         lines({"S21300FFF0FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0C", "S9030000FC"})},
        {"mcs86 base 0x12345", zb::mcs86, 0x12345, three,
         lines({":020000021000EC", ":032345000102038F", ":00000001FF"})},
        {"motorola32 last address", zb::motorola32, 0xFFFFFFFF, bytes{0xAB},
         lines({"S306FFFFFFFFAB52", "S70500000000FA"})},
        {"motorola32 ends at 0xFFFFFFFF", zb::motorola32, 0xFFFFFFF0, count_up(16, 0),
         lines({"S315FFFFFFF0000102030405060708090A0B0C0D0E0F85", "S70500000000FA"})},
    });
    std::string s = encode(zb::sdsmac, 0x200, count_up(17), "fw/Rom_v2.bin");
    EXPECT_EQ(s, lines({"00011746572F524F4D5F56322E42494E80716F",
                        "90200B0102B0304B0506B0708B090AB0B0CB0D0EB0F108F61AF",
                        "90210B11FF8FD9CF", ":"}));
}

TEST(zorbin_engine, mostech_end_record_counts_records)
{
    const std::string s = encode(zb::mostech, 0, bytes(300 * 16, 0x5A));
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 301);
    EXPECT_TRUE(s.ends_with("\r\n;00012C012C\r\n"));
}

// 64 KiB pages of the Intel formats: a page record before the first record of each page, and a
// record that would straddle a page ends at it (later records keep offsets 16k..16k+15).
TEST(zorbin_engine, intel_pages)
{
    check({
        {"record starts on the page", zb::intel32, 0xFFF0, count_up(17, 0),
         lines({":020000040000FA", ":10FFF000000102030405060708090A0B0C0D0E0F89",
                ":020000040001F9", ":0100000010EF", ":00000001FF"})},
        {"data ends on the page: no page record", zb::intel32, 0xFFE0, count_up(32, 0),
         lines({":020000040000FA", ":10FFE000000102030405060708090A0B0C0D0E0F99",
                ":10FFF000101112131415161718191A1B1C1D1E1F89", ":00000001FF"})},
        {"intel32 record split at the page", zb::intel32, 0xFFF8, count_up(32, 0),
         lines({":020000040000FA", ":08FFF8000001020304050607E5", ":020000040001F9",
                ":0800000008090A0B0C0D0E0F9C", ":10000800101112131415161718191A1B1C1D1E1F70",
                ":00000001FF"})},
        {"mcs86 record split, segment record for the new page", zb::mcs86, 0x2FFFC,
         count_up(20, 0),
         lines({":020000022000DC", ":04FFFC0000010203FB", ":020000023000CC",
                ":0C0000000405060708090A0B0C0D0E0F82", ":04000C0010111213AA", ":00000001FF"})},
        {"intel32 top page", zb::intel32, 0xFFFFFFF8, count_up(8, 0),
         lines({":02000004FFFFFC", ":08FFF8000001020304050607E5", ":00000001FF"})},
    });
}

// A sink that records every block, and fails from a chosen call on.
struct probe {
    std::string got;
    int calls = 0;
    int fail_at = -1;  // 0-based call that fails; -1 never
    std::vector<std::size_t> blocks;
    static bool write(void* ctx, const char* data, std::size_t n)
    {
        auto& p = *static_cast<probe*>(ctx);
        if (p.calls++ == p.fail_at)
            return false;
        p.got.append(data, n);
        p.blocks.push_back(n);
        return true;
    }
    zb::sink sink() { return {this, write}; }
};

struct limit_case {
    const char* what;
    zb::fmt format;
    std::uint32_t base;
    std::size_t size;
    bool fits;
};

TEST(zorbin_engine, address_limits_both_sides)
{
    std::vector<limit_case> cases;
    for (zb::fmt f : {zb::cosmac, zb::fairbug, zb::mostech, zb::exorciser, zb::mds, zb::signetics,
                  zb::tektronix, zb::exormacs, zb::sdsmac}) {
        cases.push_back({"16-bit: 65535 bytes at 0", f, 0, 0xFFFF, true});
        cases.push_back({"16-bit: 65536 bytes at 0", f, 0, 0x10000, false});
        cases.push_back({"16-bit: 15 bytes at 0xFFF0", f, 0xFFF0, 15, true});
        cases.push_back({"16-bit: 16 bytes at 0xFFF0", f, 0xFFF0, 16, false});
        cases.push_back({"16-bit: nothing at 0x10000", f, 0x10000, 0, false});
    }
    for (zb::fmt f : {zb::motorola32, zb::intel32}) {
        cases.push_back({"32-bit: ends at 0xFFFFFFFF", f, 0xFFFFFFF0, 16, true});
        cases.push_back({"32-bit: one past 0xFFFFFFFF", f, 0xFFFFFFF0, 17, false});
        cases.push_back({"32-bit: would wrap to 0x10", f, 0xFFFFFFF0, 32, false});
        cases.push_back({"32-bit: 2 bytes at 0xFFFFFFFF", f, 0xFFFFFFFF, 2, false});
        cases.push_back({"32-bit: nothing at 0xFFFFFFFF", f, 0xFFFFFFFF, 0, true});
    }
    cases.push_back({"mcs86: 15 bytes at 0xFFFF0", zb::mcs86, 0xFFFF0, 15, true});
    cases.push_back({"mcs86: 16 bytes at 0xFFFF0", zb::mcs86, 0xFFFF0, 16, false});
    cases.push_back({"mcs86: nothing at 0x100000", zb::mcs86, 0x100000, 0, false});
    cases.push_back({"ihf: 31 bytes at 0x3FFE0", zb::ihf, 0x3FFE0, 31, true});
    cases.push_back({"ihf: 32 bytes at 0x3FFE0", zb::ihf, 0x3FFE0, 32, false});
    cases.push_back({"exormacs: base 0x10000", zb::exormacs, 0x10000, 3, false});

    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << ", format " << zb::formats[c.format].word);
        const bytes data(c.size, 0x11);
        probe p;
        const auto r = zb::bin2hex(data, c.format, "a.bin", c.base, p.sink());
        if (c.fits) {
            EXPECT_EQ(r, zb::hex_result::ok);
            EXPECT_FALSE(p.got.empty());
        } else {
            EXPECT_EQ(r, zb::hex_result::too_big);
            EXPECT_EQ(p.calls, 0);  // not even a start text
        }
    }
}

// The limits themselves are proven at both edges of every class by the golden and oracle
// tests; a format without a row (none, raw) writes nothing at all.
TEST(zorbin_engine, unknown_format_writes_nothing)
{
    EXPECT_EQ(zb::format_limit(zb::none), 0u);
    EXPECT_EQ(zb::format_limit(zb::raw), 0u);
    probe p;
    EXPECT_EQ(zb::bin2hex(three, zb::raw, "a.bin", 0, p.sink()), zb::hex_result::too_big);
    EXPECT_EQ(p.calls, 0);
}

// Every ihf field, recomputed from the line text: count field = bytes / 4, address field =
// address / 4, checksum = two's complement of count, address and data bytes.
TEST(zorbin_engine, ihf_fields)
{
    std::mt19937 rng(1234);
    for (int t = 0; t < 40; ++t) {
        const std::size_t size = rng() % 300;
        const std::uint32_t base = static_cast<std::uint32_t>(rng() % (0x3FFFF - size + 1));
        SCOPED_TRACE(testing::Message() << "base " << base << " size " << size);
        bytes data(size);
        for (auto& b : data)
            b = static_cast<unsigned char>(rng());
        const std::string s = encode(zb::ihf, base, data);
        std::size_t at = 0, off = 0;
        while (off < size) {
            const std::size_t n = std::min<std::size_t>(32, size - off);
            const std::size_t eol = s.find("\r\n", at);
            ASSERT_NE(eol, std::string::npos);
            const std::string line = s.substr(at, eol - at);
            at = eol + 2;
            ASSERT_EQ(line.size(), 15 + 2 * n) << line;
            auto num = [&](std::size_t pos, std::size_t len) {
                return static_cast<unsigned>(std::stoul(line.substr(pos, len), nullptr, 16));
            };
            EXPECT_EQ(line[0], ':');
            EXPECT_EQ(line[3], ' ');
            EXPECT_EQ(line.substr(8, 4), " 00 ");
            EXPECT_EQ(line[12 + 2 * n], ' ');
            const unsigned count = num(1, 2), units = num(4, 4);
            EXPECT_EQ(count, n / 4);
            EXPECT_EQ(units, (base + off) / 4);
            unsigned sum = count + (units >> 8) + (units & 0xFF);
            for (std::size_t k = 0; k < n; ++k) {
                EXPECT_EQ(num(12 + 2 * k, 2), data[off + k]);
                sum += data[off + k];
            }
            EXPECT_EQ((sum + num(13 + 2 * n, 2)) & 0xFF, 0u);
            off += n;
        }
        EXPECT_EQ(s.substr(at), ":00 0000 01 FF\r\n");
    }
    const std::string edge = encode(zb::ihf, 0x3FFE0, bytes(31, 0));
    EXPECT_TRUE(edge.starts_with(":07 FFF8 00 ")) << edge;
}

// The start record carries a file name of any length whole, upper-casing only a to z.
TEST(zorbin_engine, sdsmac_start_record_any_name_length)
{
    for (std::size_t len : {0, 1, 33, 34, 200, 300000}) {
        SCOPED_TRACE(len);
        std::string name;
        for (std::size_t k = 0; k < len; ++k)
            name += "abyz.AZ/\xE9~"[k % 10];
        std::string s;
        ASSERT_EQ(zb::bin2hex(three, zb::sdsmac, name, 0x100, zb::string_sink(s)),
                  zb::hex_result::ok);
        const std::string start = s.substr(0, s.find("\r\n"));
        ASSERT_EQ(start.size(), 12 + 2 * len);
        EXPECT_EQ(start.substr(0, 6), "000037");
        static const char hexd[] = "0123456789ABCDEF";
        std::string expected_name;
        for (unsigned char c : name) {
            if (c >= 'a' && c <= 'z')
                c = static_cast<unsigned char>(c - 32);
            expected_name += hexd[c >> 4];
            expected_name += hexd[c & 15];
        }
        EXPECT_TRUE(start.substr(6, 2 * len) == expected_name);
        unsigned sum = 0;
        for (std::size_t k = 0; k < 7 + 2 * len; ++k)
            sum += static_cast<unsigned char>(start[k]);
        EXPECT_EQ(start[6 + 2 * len], '8');
        EXPECT_EQ(std::stoul(start.substr(7 + 2 * len, 4), nullptr, 16), sum & 0xFFFF);
        EXPECT_EQ(start.back(), 'F');
        EXPECT_TRUE(s.ends_with("\r\n90100B0102B03FF8FC98F\r\n:\r\n"));
    }
}

TEST(zorbin_engine, large_output_goes_out_in_large_blocks)
{
    bytes data(3 << 20);
    std::mt19937 rng(7);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng());
    probe p;
    ASSERT_EQ(zb::bin2hex(data, zb::motorola32, "a.bin", 0x1000, p.sink()), zb::hex_result::ok);
    EXPECT_GT(p.calls, 2);
    std::string whole;
    zb::bin2hex(data, zb::motorola32, "a.bin", 0x1000, zb::string_sink(whole));
    EXPECT_TRUE(p.got == whole);
    EXPECT_EQ(whole.size(), (3u << 20) / 16 * 48 + 16);
    for (std::size_t k = 0; k + 1 < p.blocks.size(); ++k)  // only the final block may be short
        EXPECT_GE(p.blocks[k], 128u * 1024) << "block " << k;
}

TEST(zorbin_engine, failed_write_stops_the_engine)
{
    const bytes big(1 << 20, 0x42);
    struct fcase {
        const char* what;
        zb::fmt format;
        const bytes& data;
        std::string_view name;
        int fail_at;
    };
    const std::string long_name(400000, 'n');
    const std::vector<fcase> cases{
        {"small output, only the final flush", zb::exorciser, three, "a.bin", 0},
        {"first block", zb::intel32, big, "a.bin", 0},
        {"second block", zb::motorola32, big, "a.bin", 1},
        {"sdsmac name longer than the buffer", zb::sdsmac, three, long_name, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        probe p;
        p.fail_at = c.fail_at;
        EXPECT_EQ(zb::bin2hex(c.data, c.format, c.name, 0, p.sink()), zb::hex_result::write_error);
        EXPECT_EQ(p.calls, c.fail_at + 1);  // nothing more after the failure
    }
}

}  // namespace

namespace {

TEST(zorbin_engine, vector_digits_match_their_scalar_twin)
{
    std::mt19937 rng(99);
    unsigned char in[16];
    char fast[32], plain[32];
    for (int t = 0; t < 256 + 2000; ++t) {
        for (int k = 0; k < 16; ++k)  // first every byte value in every lane, then random
            in[k] = static_cast<unsigned char>(t < 256 ? t + 17 * k : rng());
        zb::hex_digits<16>(fast, in);
        zb::hex_digits_scalar(plain, in, 16);
        ASSERT_EQ(std::string_view(fast, 32), std::string_view(plain, 32)) << "round " << t;
        zb::hex_digits<8>(fast, in + 8);
        zb::hex_digits_scalar(plain, in + 8, 8);
        ASSERT_EQ(std::string_view(fast, 16), std::string_view(plain, 16)) << "round " << t;
    }
    const unsigned char edge[16] = {0x00, 0x09, 0x0A, 0x0F, 0x90, 0x99, 0x9A, 0xA0,
                                    0xA9, 0xAA, 0xF0, 0xFF, 0x10, 0x01, 0x5F, 0xF5};
    zb::hex_digits_scalar(plain, edge, 16);
    EXPECT_EQ(std::string_view(plain, 32), "00090A0F90999AA0A9AAF0FF10015FF5");
}

// A block made of pieces writes exactly what the same bytes in one piece write, wherever the
// pieces join (inside a record, at its end, across a 64 KiB page) and with empty pieces.
TEST(zorbin_engine, pieces_of_a_block_join_seamlessly)
{
    std::mt19937 rng(5);
    for (const zb::fmt f : zb::hex_formats) {
        for (int t = 0; t < 40; ++t) {
            // At least one byte for the texts that refuse none (tested above).
            const std::size_t n = rng() % 120 + (zb::formats[f].check ? 1 : 0);
            const std::uint32_t limit = zb::format_limit(f);
            const std::uint32_t base =
                limit > 0x10000 && t % 2 ? 0x10000 - static_cast<std::uint32_t>(rng() % 40)
                                         : static_cast<std::uint32_t>(rng() % 0x100);
            SCOPED_TRACE(testing::Message() << "format " << zb::formats[f].word << " base " << base << " size " << n);
            bytes data(n);
            for (auto& b : data)
                b = static_cast<unsigned char>(rng());
            zb::block b{base, {}};
            for (std::size_t at = 0; at < n || b.pieces.empty();) {
                const std::size_t len = std::min<std::size_t>(n - at, rng() % 21);
                b.pieces.push_back(std::span(data).subspan(at, len));
                at += len;
            }
            std::string joined, whole;
            ASSERT_EQ(zb::write_image({&b, 1}, f, "a.bin", zb::string_sink(joined)), zb::hex_result::ok);
            zb::bin2hex(data, f, "a.bin", base, zb::string_sink(whole));
            EXPECT_EQ(joined, whole);
        }
    }
}

// Every block is held against the limit before the first byte goes out.
TEST(zorbin_engine, image_limit_checked_before_anything_is_written)
{
    const bytes one{0x11};
    const zb::block blocks[] = {{0x100, {one}}, {0xFFFF, {one}}};
    for (zb::fmt f : {zb::mds, zb::cosmac, zb::fairbug, zb::sdsmac, zb::mostech}) {
        SCOPED_TRACE(zb::formats[f].word);
        probe p;
        EXPECT_EQ(zb::write_image(blocks, f, "a.bin", p.sink()), zb::hex_result::too_big);
        EXPECT_EQ(p.calls, 0);
    }
    const zb::block past_4g[] = {{0x100, {one}}, {0x100000000, {one}}};
    probe p;
    EXPECT_EQ(zb::write_image(past_4g, zb::motorola32, "a.bin", p.sink()), zb::hex_result::too_big);
    EXPECT_EQ(p.calls, 0);
}

// What the engine handed a writer of the whole file, the last time one was called.
struct handed {
    int calls = 0;
    zb::fmt format = zb::none;
    std::vector<std::pair<std::uint64_t, bytes>> blocks;
    std::optional<std::uint32_t> entry;
    std::string filename;
};
handed seen;

bool whole_writer(const zb::image_out& img, const zb::sink& out)
{
    seen.calls++;
    seen.format = img.format;
    seen.blocks.clear();
    for (const zb::block& b : img.blocks) {
        bytes all;
        for (const auto& p : b.pieces)
            all.insert(all.end(), p.begin(), p.end());
        seen.blocks.push_back({b.base, all});
    }
    seen.entry = img.entry;
    seen.filename = img.filename;
    return out.write(out.ctx, "whole\n", 6);
}

// A row with a writer of the whole file in place of records is dispatched to it, after the
// same checks as records, with the image as the row allows it: one block with the gaps
// filled where the row's format carries no addresses, the entry point where it has a field.
TEST(zorbin_engine, a_row_written_whole_gets_the_image)
{
    const bytes a{1, 2}, b{3};
    const zb::block two[] = {{0x100, {a}}, {0x104, {b}}};
    const zb::block high[] = {{0x100, {a}}, {0x10000, {b}}};
    struct row_case {
        const char* what;
        bool addressed;
        std::uint64_t entry_max;
        std::span<const zb::block> blocks;
        std::optional<std::uint64_t> entry;
        zb::hex_result result;
        std::vector<std::pair<std::uint64_t, bytes>> got;  // the blocks handed over
        std::optional<std::uint32_t> got_entry;
    };
    const row_case cases[] = {
        {"blocks as they are", true, 0, two, {}, zb::hex_result::ok, {{0x100, a}, {0x104, b}}, {}},
        {"one block, gaps filled", false, 0, two, {}, zb::hex_result::ok,
         {{0x100, {1, 2, 0xFF, 0xFF, 3}}}, {}},
        {"the entry in its field", true, 0xFFFF, two, 0x1234, zb::hex_result::ok,
         {{0x100, a}, {0x104, b}}, 0x1234},
        {"no field, no entry", true, 0, two, 0x1234, zb::hex_result::ok,
         {{0x100, a}, {0x104, b}}, {}},
        {"an entry past the field", true, 0xFFFF, two, 0x10000, zb::hex_result::entry_too_big,
         {}, {}},
        {"a block past the limit", true, 0, high, {}, zb::hex_result::too_big, {}, {}},
    };
    for (const row_case& c : cases) {
        SCOPED_TRACE(c.what);
        zb::format_row row{.word = "test", .limit = 0xFFFF, .end_max = 0xFFFF,
                           .entry_max = c.entry_max, .addressed = c.addressed,
                           .whole = whole_writer};
        seen = {};
        std::string out;
        EXPECT_EQ(zb::write_as(row, zb::mds, c.blocks, "a.bin", zb::string_sink(out), c.entry),
                  c.result);
        const bool ok = c.result == zb::hex_result::ok;
        EXPECT_EQ(seen.calls, ok ? 1 : 0);
        EXPECT_EQ(out, ok ? "whole\n" : "");
        if (!ok)
            continue;
        EXPECT_EQ(seen.format, zb::mds);
        EXPECT_EQ(seen.blocks, c.got);
        EXPECT_EQ(seen.entry, c.got_entry);
        EXPECT_EQ(seen.filename, "a.bin");
    }
    // A write that fails is the engine's write error.
    zb::format_row row{.word = "test", .limit = 0xFFFF, .end_max = 0xFFFF,
                       .whole = whole_writer};
    probe p;
    p.fail_at = 0;
    EXPECT_EQ(zb::write_as(row, zb::mds, two, "a.bin", p.sink()), zb::hex_result::write_error);
    // What the row's check refuses is not written at all; what it takes, as before. The
    // check sees what the writer would: the blocks and the texts' arguments.
    row.check = [](const zb::image_out& img) {
        return img.wide.width == 4 ? std::string() : "refused " + std::string(img.filename);
    };
    seen = {};
    probe q;
    EXPECT_EQ(zb::write_as(row, zb::mds, two, "a.bin", q.sink()), zb::hex_result::refused);
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(q.calls, 0);
    zb::wide_args four;
    four.width = 4;
    std::string out;
    EXPECT_EQ(zb::write_as(row, zb::mds, two, "a.bin", zb::string_sink(out), {}, four),
              zb::hex_result::ok);
    EXPECT_EQ(out, "whole\n");
}

}  // namespace
