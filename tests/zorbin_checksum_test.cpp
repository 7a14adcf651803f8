// The checksum core -crc stands on: the catalogue's check values, any CRC model against
// Python's crcmod and a bit loop written as the model's definition reads, sums and SHA-256
// against Python, the processor's paths against the tables, and the words and numbers that
// name a kind.
#include "cli.h"
#include "image/number.h"
#include "image/sum.h"
#include "harness.h"

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

namespace {

using bytes = std::vector<unsigned char>;

std::string hex(std::span<const unsigned char> b)
{
    std::string s;
    for (unsigned char c : b) {
        s += "0123456789abcdef"[c >> 4];
        s += "0123456789abcdef"[c & 15];
    }
    return s;
}

bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }

bytes random_bytes(std::mt19937_64& rng, std::size_t n)
{
    bytes d(n);
    for (auto& b : d)
        b = static_cast<unsigned char>(rng() >> 56);
    return d;
}

// d fed in pieces of random sizes (some empty), so that a piece ends inside a word, a table
// step, a fold or a block.
template <class Add>
void in_pieces(std::mt19937_64& rng, std::span<const unsigned char> d, Add add)
{
    static constexpr std::size_t sizes[] = {0, 1, 2, 3, 5, 7, 8, 13, 64, 255, 300, 4096};
    for (std::size_t at = 0; at < d.size();) {
        const std::size_t want = rng() % 3 == 0 ? rng() % 700 : sizes[rng() % std::size(sizes)];
        const std::size_t n = std::min(d.size() - at, want);
        add(d.subspan(at, n));
        at += n;
    }
}

zb::checksum_value of(const zb::checksum_kind& k, std::span<const unsigned char> d)
{
    zb::checksum_state s = zb::checksum_start(k);
    zb::checksum_add(s, d);
    return zb::checksum_final(s);
}

std::uint64_t ones(unsigned w) { return w == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << w) - 1; }

// A CRC as its definition reads: each message bit, first to last, XORed into the bit that
// leaves the top of the register; the polynomial added when that is 1.
std::uint64_t by_bits(const zb::crc_model& m, std::span<const unsigned char> d)
{
    const std::uint64_t top = std::uint64_t{1} << (m.width - 1), all = top | (top - 1);
    std::uint64_t reg = m.init;
    for (unsigned char b : d)
        for (int i = 0; i < 8; ++i) {
            const bool in = (m.refin ? b >> i : b >> (7 - i)) & 1;
            const bool out = (reg & top) != 0;
            reg = (reg << 1) & all;
            if (in != out)
                reg ^= m.poly;
        }
    if (m.refout) {
        std::uint64_t r = 0;
        for (unsigned k = 0; k < m.width; ++k)
            r |= (reg >> k & 1) << (m.width - 1 - k);
        reg = r;
    }
    return reg ^ m.xorout;
}

// Debian's crcmod belongs to Debian's python3, which a python3 of the user's own may hide on
// PATH: the first of the two that has the module, or none.
std::string python_with(const std::string& module)
{
    for (const std::string& py : {th::which("python3"), std::string("/usr/bin/python3")})
        if (th::run_argv(py, {py, "-c", "import " + module}).status == 0)
            return py;
    return {};
}

// Runs script once with the rows as its standard input, one line each; its lines back.
std::vector<std::string> python_rows(const std::string& py, const std::string& script,
                                     const std::string& rows)
{
    th::options o;
    o.in = rows;
    const th::result r = th::run_argv(py, {py, "-c", script}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        out.push_back(line);
    return out;
}

// crcmod takes the polynomial with its top bit, the CRC of no bytes as its start (the
// register's start, reflected for a reflected model, XORed with xorout), and one reflection
// for both ends; a kind fed words is given its words' bytes turned around.
constexpr const char* crcmod_script = R"(
import sys, crcmod
for line in sys.stdin:
    w, poly, init, rev, xo, words, data = line.split()
    w = int(w)
    d = bytes.fromhex(data[1:])
    if words == '1':
        d = b''.join(d[i:i + 4][::-1] for i in range(0, len(d) // 4 * 4, 4))
    f = crcmod.mkCrcFun(int(poly, 16) | 1 << w, initCrc=int(init, 16), rev=rev == '1', xorOut=int(xo, 16))
    print('%x' % f(d))
)";

std::string crcmod_row(const zb::crc_model& m, bool words, std::span<const unsigned char> d)
{
    std::ostringstream s;
    const std::uint64_t start = (m.refin ? zb::reflect(m.init, m.width) : m.init) ^ m.xorout;
    s << m.width << std::hex << ' ' << m.poly << ' ' << start << ' ' << m.refin << ' ' << m.xorout
      << ' ' << words << " x" << hex(d) << '\n';
    return s.str();
}

std::string hex_number(std::uint64_t v)
{
    std::ostringstream s;
    s << std::hex << v;
    return s.str();
}

struct check_row {
    const char* word;
    const char* field;  // the bytes stored, over "123456789" ("12345678" when fed words)
};

// The catalogue's check values, as each kind stores them.
TEST(zorbin_checksum, every_kind_stores_its_catalogue_check_value)
{
    const check_row rows[] = {
        {"crc8", "f4"},
        {"crc8-maxim", "a1"},
        {"crc16", "c331"},
        {"crc16/be", "31c3"},
        {"crc16-xmodem", "c331"},
        {"crc16-ibm-3740", "b129"},
        {"crc16-ccitt-false", "b129"},
        {"crc16-arc", "3dbb"},
        {"crc16-modbus", "374b"},
        {"crc16-kermit", "8921"},
        {"crc32", "2639f4cb"},
        {"CRC32BE", "cbf43926"},
        {"crc32/be", "cbf43926"},
        {"crc32-mpeg2", "e7e67603"},
        {"stm32", "f954fcfe"},
        {"stm32/be", "fefc54f9"},
        {"crc32-bzip2", "181989fc"},
        {"crc32c", "839206e3"},
        {"crc32-cksum", "80765e76"},
        {"crc64-xz", "fa3919dfbbc95d99"},
        {"crc64-ecma-182", "4773490b5fdf406c"},
        {"crc64-ecma-182/BE", "6c40df5f0b497347"},
        {"sum8", "dd"},
        {"sum16", "dd01"},
        {"sum16/be", "01dd"},
        {"sum32", "dd010000"},
        {"sum32/be", "000001dd"},
        {"sum8-neg", "23"},
        {"sum16-neg", "23fe"},
        {"sum32-neg", "23feffff"},
        {"sum8-not", "22"},
        {"sum16-not", "22fe"},
        {"sum32-not", "22feffff"},
        {"sha256", "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225"},
        // Models from the catalogue: widths below 8 and between bytes, refin unlike refout.
        {"crc:32:0x04C11DB7:0xFFFFFFFF:false:false:0", "e7e67603"},         // CRC-32/MPEG-2
        {"CRC:3:3:0:FALSE:FALSE:7", "04"},                                   // CRC-3/GSM
        {"crc:3:0x3:0x7:true:true:0", "06"},                                 // CRC-3/ROHC
        {"crc:4:3:0:true:true:0", "07"},                                     // CRC-4/G-704
        {"crc:5:0x05:0x1F:true:true:0x1F", "19"},                            // CRC-5/USB
        {"crc:6:0x03:0:true:true:0", "06"},                                  // CRC-6/G-704
        {"crc:7:0x09:0:false:false:0", "75"},                                // CRC-7/MMC
        {"crc:10:0x233:0:false:false:0", "9901"},                            // CRC-10/ATM
        {"crc:12:0x80F:0:false:true:0", "af0d"},                             // CRC-12/UMTS
        {"crc:12:0x80F:0:false:false:0/be", "0f5b"},                         // CRC-12/DECT
        {"crc:15:0x4599:0:false:false:0", "9e05"},                           // CRC-15/CAN
        {"crc:24:0x864CFB:0xB704CE:false:false:0", "02cf21"},                // CRC-24/OPENPGP
        {"crc:31:0x04C11DB7:0x7FFFFFFF:false:false:0x7FFFFFFF", "6ce4e90c"}, // CRC-31/PHILIPS
        {"crc:40:&0004820009:0:false:false:&FFFFFFFFFF", "46c64f16d4"},      // CRC-40/GSM
    };
    std::set<std::string> covered;
    for (const check_row& row : rows) {
        SCOPED_TRACE(row.word);
        const zb::parsed_kind k = zb::parse_kind(row.word);
        ASSERT_EQ(k.fault, zb::kind_fault::none) << k.why;
        const bytes in = text(k.kind.words ? "12345678" : "123456789");
        EXPECT_EQ(hex(of(k.kind, in).bytes()), row.field);
        EXPECT_EQ(zb::field_size(k.kind), std::string_view(row.field).size() / 2);
        if (k.kind.fam == zb::family::crc) {
            const bytes fed = k.kind.words ? text("43218765") : in;
            EXPECT_EQ(of(k.kind, in).number, by_bits(k.kind.crc, fed));
        }
        covered.insert(k.name);
    }
    // The table the manual shows: every word has a row above and its own check value.
    for (const zb::kind_row& row : zb::checksum_kinds) {
        SCOPED_TRACE(row.word);
        EXPECT_TRUE(covered.count(std::string(row.word))) << "no check row";
        const bytes in = text(row.kind.words ? "12345678" : "123456789");
        EXPECT_EQ(zb::value_text(row.kind, of(row.kind, in)), row.check);
    }
}

struct parse_row {
    const char* word;
    zb::kind_fault fault;
    const char* said;        // the name, or what is wrong
    std::size_t size = 0;    // bytes of the field
    std::size_t align = 0;
    bool big = false;
    zb::crc_model model{};   // a CRC's, when width is set
};

TEST(zorbin_checksum, kind_words_and_models_parse_or_say_what_is_wrong)
{
    using zb::kind_fault;
    const parse_row rows[] = {
        {"crc32", kind_fault::none, "crc32", 4, 1, false, {32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF}},
        {"CRC32/BE", kind_fault::none, "crc32/be", 4, 1, true, {32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF}},
        {"crc32be", kind_fault::none, "crc32be", 4, 1, true},
        {"Stm32", kind_fault::none, "stm32", 4, 4, false, {32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0}},
        {"crc16", kind_fault::none, "crc16", 2, 1, false, {16, 0x1021, 0, false, false, 0}},
        {"crc64-xz/be", kind_fault::none, "crc64-xz/be", 8, 1, true},
        {"sum8/be", kind_fault::none, "sum8/be", 1, 1, true},
        {"sha256", kind_fault::none, "sha256", 32, 1, false},
        {"crc:32:0x04C11DB7:0xFFFFFFFF:false:false:0", kind_fault::none,
         "crc:32:0x04C11DB7:0xFFFFFFFF:false:false:0", 4, 1, false,
         {32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0}},
        {"crc:1:1:1:true:false:0/Be", kind_fault::none, "crc:1:1:1:true:false:0/Be", 1, 1, true,
         {1, 1, 1, true, false, 0}},
        {"crc:13:4K:0:false:false:0", kind_fault::none, "crc:13:4K:0:false:false:0", 2, 1, false},
        {"crc:64:0xFFFFFFFFFFFFFFFF:18446744073709551615:true:true:&8000000000000000", kind_fault::none,
         "crc:64:0xFFFFFFFFFFFFFFFF:18446744073709551615:true:true:&8000000000000000", 8, 1, false,
         {64, ~std::uint64_t{0}, ~std::uint64_t{0}, true, true, std::uint64_t{1} << 63}},
        {"md5", kind_fault::unknown, "md5 is not a checksum kind"},
        {"crc32/le", kind_fault::unknown, "crc32/le is not a checksum kind"},
        {"/be", kind_fault::unknown, "/be is not a checksum kind"},
        {"sha256/be", kind_fault::be_refused, "sha256 is stored in digest order, never big-endian"},
        {"crc32be/be", kind_fault::be_refused, "crc32be is stored big-endian already"},
        {"crc:0:7:0:false:false:0", kind_fault::model, "WIDTH 0 is not 1 to 64"},
        {"crc:65:7:0:false:false:0", kind_fault::model, "WIDTH 65 is not 1 to 64"},
        {"crc:16:0x1FFFF:0:false:false:0", kind_fault::model, "POLY 0x1FFFF is wider than 16 bits"},
        {"crc:1:1:2:false:false:0", kind_fault::model, "INIT 0x2 is wider than 1 bit"},
        {"crc:8:7:0:false:false:256", kind_fault::model, "XOROUT 0x100 is wider than 8 bits"},
        {"crc:16:0x1021:0:yes:false:0", kind_fault::model, "REFIN yes is not true or false"},
        {"crc:16:0x1021:0:true:1:0", kind_fault::model, "REFOUT 1 is not true or false"},
        {"crc:16:0x1021:0:false:false", kind_fault::model,
         "a CRC model has 6 fields, WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT, not 5"},
        {"crc:16:0x1021:0:false:false:0:0", kind_fault::model,
         "a CRC model has 6 fields, WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT, not 7"},
        {"crc:", kind_fault::model, "a CRC model has 6 fields, WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT, not 1"},
        {"crc:16::0:false:false:0", kind_fault::model, "POLY is missing"},
        {"crc:16:0x:0:false:false:0", kind_fault::model, "POLY 0x is not a number below 2^64"},
        {"crc:16:0x1021:0xZ:false:false:0", kind_fault::model, "INIT 0xZ is not a number below 2^64"},
        {"crc:64:0x10000000000000000:0:false:false:0", kind_fault::model,
         "POLY 0x10000000000000000 is not a number below 2^64"},
        {"crc:x:7:0:false:false:0", kind_fault::model, "WIDTH x is not a number below 2^64"},
    };
    for (const parse_row& row : rows) {
        SCOPED_TRACE(row.word);
        const zb::parsed_kind k = zb::parse_kind(row.word);
        EXPECT_EQ(k.fault, row.fault);
        EXPECT_EQ(k.fault == kind_fault::none ? k.name : k.why, row.said);
        if (row.fault != kind_fault::none)
            continue;
        EXPECT_EQ(zb::field_size(k.kind), row.size);
        EXPECT_EQ(zb::alignment(k.kind), row.align);
        EXPECT_EQ(k.kind.big, row.big);
        if (row.model.width) {
            EXPECT_EQ(k.kind.crc, row.model);
        }
    }
    // Every word of the table parses to its row, in any case; the list names each once.
    const std::string words = zb::kind_words();
    for (const zb::kind_row& row : zb::checksum_kinds) {
        std::string upper(row.word);
        for (char& c : upper)
            c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        EXPECT_EQ(zb::parse_kind(upper).kind, row.kind) << upper;
        EXPECT_EQ(zb::model_fault(row.kind.crc).has_value(), row.kind.fam != zb::family::crc) << row.word;
        EXPECT_NE((", " + words + ", ").find(", " + std::string(row.word) + ", "), std::string::npos);
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(words.begin(), words.end(), ',')) + 1,
              zb::checksum_kinds.size());
    // Tables are built once per polynomial and reflection, not per checksum.
    const zb::crc_state a = zb::crc_start({16, 0x1021, 0, false, false, 0});
    const zb::crc_state b = zb::crc_start({16, 0x1021, 0xFFFF, false, true, 0xFFFF});
    EXPECT_EQ(a.tables, b.tables);
    EXPECT_NE(a.tables, zb::crc_start({16, 0x1021, 0, true, true, 0}).tables);
}

struct number_row {
    const char* text;
    std::optional<std::uint64_t> below_2_32;  // as an address or size
    std::optional<std::uint64_t> below_2_64;  // as a CRC parameter, a digit required
};

TEST(zorbin_checksum, numbers_in_zorbins_syntax_at_32_and_64_bits)
{
    constexpr auto none = std::nullopt;
    const number_row rows[] = {
        {"", 0, none},
        {"0x", 0, none},
        {"&", 0, none},
        {"K", 0, none},
        {"0", 0, 0},
        {"10", 10, 10},
        {"0x10", 16, 16},
        {"0X1f", 31, 31},
        {"&fF", 255, 255},
        {"4K", 4096, 4096},
        {"4k", 4096, 4096},
        {"2M", 2u << 20, 2u << 20},
        {"0x10K", 16384, 16384},
        {"12k3", none, none},
        {"1G", none, none},
        {"0xg", none, none},
        {"-1", none, none},
        {"4294967295", 0xFFFFFFFF, 0xFFFFFFFF},
        {"4294967296", none, 0x100000000},
        {"0xFFFFFFFF", 0xFFFFFFFF, 0xFFFFFFFF},
        {"0x100000000", none, 0x100000000},
        {"4194303K", 0xFFFFFC00, 0xFFFFFC00},
        {"4194304K", none, 0x100000000},
        {"4095M", 0xFFF00000, 0xFFF00000},
        {"4096M", none, 0x100000000},
        {"18446744073709551615", none, ~std::uint64_t{0}},
        {"18446744073709551616", none, none},
        {"0xFFFFFFFFFFFFFFFF", none, ~std::uint64_t{0}},
        {"&10000000000000000", none, none},
        {"18014398509481983K", none, ~std::uint64_t{0} << 10},
        {"18014398509481984K", none, none},
        {"0000000000000000000000000001", 1, 1},
    };
    for (const number_row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(zb::parse_number(row.text, 0xFFFFFFFF), row.below_2_32);
        EXPECT_EQ(zb::parse_number(row.text, ~std::uint64_t{0}, true), row.below_2_64);
        // getnum, which every address and size goes through, is the same parser.
        const auto n = zb::getnum(row.text);
        EXPECT_EQ(n ? std::optional<std::uint64_t>(*n) : std::nullopt, row.below_2_32);
    }
}

// The processor's instructions (SSE4.2 crc32, carry-less folding, SHA extensions) against
// the tables and the portable code, over random lengths at every alignment, fed whole and in
// pieces. Where the processor lacks one, both sides take the same code.
TEST(zorbin_checksum, processor_paths_equal_the_tables)
{
    const zb::crc_model models[] = {
        {32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF},  // CRC-32/ISO-HDLC
        {32, 0x04C11DB7, 0, true, true, 0},                    // its polynomial, other ends
        {32, 0x1EDC6F41, 0xFFFFFFFF, true, true, 0xFFFFFFFF},  // CRC-32C
        {32, 0x1EDC6F41, 0x12345678, true, false, 0},
    };
    std::string found;
    for (const auto& m : models)
        found += zb::accel_for(m, false) != zb::crc_accel::none ? "crc " : "";
    found += zb::sha_hardware() ? "sha" : "";
    RecordProperty("processor_paths", found);
    std::mt19937_64 rng(26);
    const bytes pool = random_bytes(rng, 80000);
    for (int round = 0; round < 300; ++round) {
        const std::size_t offset = rng() % 16;
        const std::size_t n = round % 10 == 0 ? rng() % 70000 : rng() % 3000;
        const std::span<const unsigned char> d = std::span(pool).subspan(offset, n);
        SCOPED_TRACE("offset " + std::to_string(offset) + ", " + std::to_string(n) + " bytes");
        for (const auto& m : models) {
            zb::crc_state fast = zb::crc_start(m), table = fast, pieces = fast;
            zb::crc_add(fast, d);
            zb::crc_add(table, d, zb::crc_path::table);
            in_pieces(rng, d, [&](auto p) { zb::crc_add(pieces, p); });
            EXPECT_EQ(zb::crc_final(fast), zb::crc_final(table));
            EXPECT_EQ(zb::crc_final(pieces), zb::crc_final(table));
        }
        zb::sha256_state fast, portable, pieces;
        zb::sha256_add(fast, d);
        zb::sha256_add(portable, d, zb::sha_path::portable);
        in_pieces(rng, d, [&](auto p) { zb::sha256_add(pieces, p); });
        EXPECT_EQ(zb::sha256_final(fast), zb::sha256_final(portable));
        EXPECT_EQ(zb::sha256_final(pieces), zb::sha256_final(portable));
    }
}

// Fed words: each 32-bit little-endian word from its last byte, in pieces that end inside
// words; the same as the bit loop over the bytes turned around, for reflected models too.
TEST(zorbin_checksum, words_are_fed_from_their_last_byte_in_any_pieces)
{
    std::mt19937_64 rng(32);
    for (int round = 0; round < 200; ++round) {
        zb::crc_model m{static_cast<unsigned>(1 + rng() % 64), 0, 0, rng() % 2 == 0, rng() % 2 == 0, 0};
        const std::uint64_t all = ones(m.width);
        m.poly = rng() & all;
        m.init = rng() & all;
        m.xorout = rng() & all;
        if (round == 0)
            m = zb::parse_kind("stm32").kind.crc;
        const bytes d = random_bytes(rng, 4 * (rng() % 600) + rng() % 4);
        bytes turned;
        for (std::size_t i = 0; i + 4 <= d.size(); i += 4)
            turned.insert(turned.end(), {d[i + 3], d[i + 2], d[i + 1], d[i]});
        SCOPED_TRACE(round);
        zb::crc_state s = zb::crc_start(m, true);
        in_pieces(rng, d, [&](auto p) { zb::crc_add(s, p); });
        EXPECT_EQ(zb::crc_final(s), by_bits(m, turned));
    }
}

// Every named CRC over random bytes as crcmod computes it, one Python run for all rows.
TEST(zorbin_checksum, linux_only_named_crcs_as_crcmod_computes_them)
{
    const std::string py = python_with("crcmod");
    REQUIRE_THAT(!py.empty(), "python3 with crcmod (Debian python3-crcmod) is not installed");
    std::mt19937_64 rng(2026);
    std::string rows;
    std::vector<std::pair<std::string, std::uint64_t>> ours;
    for (const zb::kind_row& row : zb::checksum_kinds) {
        if (row.kind.fam != zb::family::crc)
            continue;
        for (const std::size_t n : {0u, 1u, 9u, 1000u, 66000u}) {
            const bytes d = random_bytes(rng, n);
            rows += crcmod_row(row.kind.crc, row.kind.words, d);
            zb::checksum_state s = zb::checksum_start(row.kind);
            in_pieces(rng, d, [&](auto p) { zb::checksum_add(s, p); });
            ours.emplace_back(std::string(row.word) + " over " + std::to_string(n) + " bytes",
                              zb::checksum_final(s).number);
        }
    }
    const std::vector<std::string> theirs = python_rows(py, crcmod_script, rows);
    ASSERT_EQ(theirs.size(), ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        EXPECT_EQ(hex_number(ours[i].second), theirs[i]) << ours[i].first;
}

// Random models: crcmod where it can say (widths 8, 16, 24, 32, 64, one reflection for both
// ends), the bit loop for the rest and, to prove the loop, for those too.
TEST(zorbin_checksum, linux_only_random_models_as_crcmod_and_the_bit_loop_compute_them)
{
    const std::string py = python_with("crcmod");
    REQUIRE_THAT(!py.empty(), "python3 with crcmod (Debian python3-crcmod) is not installed");
    std::mt19937_64 rng(64);
    std::string rows;
    struct mine {
        std::string what;
        std::uint64_t value, by_bits;
    };
    std::vector<mine> asked;
    for (int round = 0; round < 600; ++round) {
        static constexpr unsigned byte_widths[] = {8, 16, 24, 32, 64};
        const bool crcmod_can = round % 2 == 0;
        zb::crc_model m;
        m.width = crcmod_can ? byte_widths[rng() % 5] : static_cast<unsigned>(3 + rng() % 62);
        m.refin = rng() % 2 == 0;
        m.refout = crcmod_can ? m.refin : rng() % 2 == 0;
        const std::uint64_t all = ones(m.width);
        m.poly = (rng() & all) | 1;
        m.init = rng() % 4 == 0 ? all : rng() & all;
        m.xorout = rng() % 4 == 0 ? 0 : rng() & all;
        const bytes d = random_bytes(rng, rng() % 5 == 0 ? rng() % 20000 : rng() % 300);
        std::ostringstream what;
        what << "crc:" << m.width << ":0x" << std::hex << m.poly << ":0x" << m.init << ':'
             << std::boolalpha << m.refin << ':' << m.refout << ":0x" << m.xorout << " over "
             << std::dec << d.size() << " bytes";
        if (auto e = zb::model_fault(m))
            ADD_FAILURE() << *e << ": " << what.str();
        zb::crc_state s = zb::crc_start(m);
        in_pieces(rng, d, [&](auto p) { zb::crc_add(s, p); });
        const std::uint64_t value = zb::crc_final(s), bits = by_bits(m, d);
        if (crcmod_can) {
            rows += crcmod_row(m, false, d);
            asked.push_back({what.str(), value, bits});
        } else {
            EXPECT_EQ(value, bits) << what.str();
        }
    }
    const std::vector<std::string> theirs = python_rows(py, crcmod_script, rows);
    ASSERT_EQ(theirs.size(), asked.size());
    for (std::size_t i = 0; i < asked.size(); ++i) {
        EXPECT_EQ(hex_number(asked[i].value), theirs[i]) << asked[i].what;
        EXPECT_EQ(hex_number(asked[i].by_bits), theirs[i]) << "the bit loop, " << asked[i].what;
    }
}

// Sums and SHA-256 over random buffers fed in random pieces, as Python computes them.
TEST(zorbin_checksum, linux_only_sums_and_sha256_as_python_computes_them)
{
    REQUIRE_TOOL("python3");
    const std::string script = R"(
import sys, hashlib
for line in sys.stdin:
    d = bytes.fromhex(line.strip()[1:])
    s = sum(d)
    print(' '.join('%x' % (v % 2 ** w) for w in (8, 16, 32) for v in (s, -s, ~s)), hashlib.sha256(d).hexdigest())
)";
    const char* const words[] = {"sum8", "sum8-neg", "sum8-not", "sum16", "sum16-neg", "sum16-not",
                                 "sum32", "sum32-neg", "sum32-not", "sha256"};
    std::mt19937_64 rng(256);
    std::string rows;
    std::vector<std::string> ours;
    // Lengths about the ends of SHA-256's blocks and of its padding.
    for (const std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u, 1031u, 8192u,
                                100000u, 300000u}) {
        const bytes d = random_bytes(rng, n);
        // All 0xFF: the sums' carries at their widest.
        const bytes ff(n, 0xFF);
        for (const bytes* b : {&d, &ff}) {
            rows += 'x';
            rows += hex(*b);
            rows += '\n';
            std::string line;
            for (const char* w : words) {
                zb::checksum_state s = zb::checksum_start(zb::parse_kind(w).kind);
                in_pieces(rng, *b, [&](auto p) { zb::checksum_add(s, p); });
                const zb::checksum_value v = zb::checksum_final(s);
                if (!line.empty())
                    line += ' ';
                line += s.kind.fam == zb::family::sha256 ? hex(v.bytes()) : hex_number(v.number);
            }
            ours.push_back(line);
        }
    }
    const std::vector<std::string> theirs = python_rows(th::which("python3"), script, rows);
    ASSERT_EQ(theirs.size(), ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        EXPECT_EQ(ours[i], theirs[i]) << "row " << i;
}

}  // namespace
