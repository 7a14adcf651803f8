// Hex record engine against an independent reader: srec_cat reads every format it knows back,
// for seeded random sizes and bases across each format's address range.
#include "write/engine.h"
#include "harness.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

struct reader {
    zb::fmt format;
    const char* option;  // srec_cat's name for the format
};

constexpr reader readers[] = {
    {zb::cosmac, "-COsmac"},       {zb::fairbug, "-FAIrchild"},
    {zb::mostech, "-MOS_Technologies"}, {zb::exorciser, "-Motorola"},
    {zb::mds, "-Intel"},           {zb::signetics, "-SIGnetics"},
    {zb::tektronix, "-Tektronix"}, {zb::exormacs, "-Motorola"},
    {zb::mcs86, "-Intel"},         {zb::sdsmac, "-Texas_Instruments_Tagged"},
    {zb::motorola32, "-Motorola"}, {zb::intel32, "-Intel"},
};

unsigned hexval(const std::string& s, std::size_t pos, std::size_t len)
{
    return static_cast<unsigned>(std::stoul(s.substr(pos, len), nullptr, 16));
}

// One random case: a size of 1.., and a base the format's limit allows, often close to the top
// of the range or (Intel formats) a few bytes below a 64 KiB page so that records straddle it.
struct shape {
    std::uint32_t base;
    std::size_t size;
};

shape pick(std::mt19937_64& rng, zb::fmt format)
{
    static constexpr std::size_t small[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33};
    const std::uint64_t limit = zb::format_limit(format);
    const bool wide = limit > 0xFFFF;
    std::size_t size;
    switch (rng() % 4) {
    case 0: size = small[rng() % std::size(small)]; break;
    case 1: size = 1 + rng() % (wide ? 70000 : 20000); break;
    default: size = 1 + rng() % 3000; break;
    }
    // Highest base + size accepted: the limit, or 2^32 for the 32-bit formats.
    const std::uint64_t end_max = limit == 0xFFFFFFFF ? limit + 1 : limit;
    const std::uint64_t top = end_max - size;
    std::uint64_t base;
    switch (rng() % 3) {
    case 0: base = top - std::min<std::uint64_t>(top, rng() % 40); break;
    case 1:
        if (wide && top >= 0x10000) {
            const std::uint64_t page = 1 + rng() % (top >> 16);
            base = (page << 16) - rng() % (std::min<std::uint64_t>(size, 40) + 1);
            break;
        }
        [[fallthrough]];
    default: base = rng() % (top + 1); break;
    }
    return {static_cast<std::uint32_t>(base), size};
}

// srec_cat ignores the data-record checksums of the tagged format, so check them here: the
// character codes from the tag 9 through the tag 8 plus the checksum sum to 0 (16 bits), and
// the start record's field is the plain sum of everything before it.
void check_sdsmac_sums(const std::string& hex, std::size_t size)
{
    std::istringstream in(hex);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    ASSERT_GE(line.size(), 13u);
    EXPECT_EQ(hexval(line, 1, 4), size);
    unsigned start = 0;
    for (std::size_t k = 0; k + 6 < line.size(); ++k)
        start += static_cast<unsigned char>(line[k]);
    EXPECT_EQ(hexval(line, line.size() - 6, 4), start & 0xFFFF) << line;
    while (std::getline(in, line) && line != ":\r") {
        ASSERT_GE(line.size(), 12u);
        unsigned sum = 0;
        for (std::size_t k = 0; k + 6 < line.size(); ++k)
            sum += static_cast<unsigned char>(line[k]);
        EXPECT_EQ((sum + hexval(line, line.size() - 6, 4)) & 0xFFFF, 0u) << line;
    }
}

// The bytes srec_cat wrote as S1/S2/S3 records, laid into an image of the expected bytes' span;
// every address must fall inside it and come exactly once.
void compare(const std::string& srec, std::uint32_t base, const bytes& expected)
{
    std::vector<int> got(expected.size(), -1);
    std::istringstream in(srec);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3')
            continue;
        const std::size_t alen = static_cast<std::size_t>(line[1] - '0') + 1;
        const std::size_t count = hexval(line, 2, 2);
        std::uint64_t addr = hexval(line, 4, 2 * alen);
        for (std::size_t k = 0; k + alen + 1 < count; ++k, ++addr) {
            ASSERT_GE(addr, base);
            ASSERT_LT(addr - base, expected.size()) << "byte beyond the data at " << addr;
            ASSERT_EQ(got[addr - base], -1) << "address read twice: " << addr;
            got[addr - base] = static_cast<int>(hexval(line, 4 + 2 * alen + 2 * k, 2));
        }
    }
    for (std::size_t k = 0; k < expected.size(); ++k)
        ASSERT_EQ(got[k], expected[k]) << "at offset " << k;
}

class zorbin_engine_oracle : public th::tmpdir {};

TEST_F(zorbin_engine_oracle, srec_cat_reads_back_every_byte)
{
    REQUIRE_TOOL("srec_cat");
    const std::string srec_cat = th::which("srec_cat");
    std::mt19937_64 rng(20240611);
    const std::string file = path("out.hex");
    for (const reader& r : readers) {
        for (int t = 0; t < 30; ++t) {
            const shape s = pick(rng, r.format);
            SCOPED_TRACE(testing::Message() << "format " << zb::formats[r.format].word << " base 0x" << std::hex
                                            << s.base << std::dec << " size " << s.size);
            bytes data(s.size);
            for (auto& b : data)
                b = static_cast<unsigned char>(rng());
            std::string hex;
            ASSERT_EQ(zb::bin2hex(data, r.format, "data.bin", s.base, zb::string_sink(hex)),
                      zb::hex_result::ok);

            // What a loader ends up with: the data, plus the FF fill of a last fairbug record
            // and of the low byte of a last odd sdsmac word.
            bytes expected = data;
            if (r.format == zb::fairbug)
                expected.resize((s.size + 7) / 8 * 8, 0xFF);
            if (r.format == zb::sdsmac) {
                expected.resize((s.size + 1) / 2 * 2, 0xFF);
                check_sdsmac_sums(hex, s.size);
                hex.erase(0, hex.find('\n') + 1);  // srec_cat does not know the start record
            }
            th::write_file(file, hex);
            const th::result res = th::run_argv(
                srec_cat, {"srec_cat", file, r.option, "-o", "-", "-Motorola", "-address-length=4"});
            ASSERT_EQ(res.status, 0) << res.err;
            std::istringstream err(res.err);
            for (std::string line; std::getline(err, line);)
                EXPECT_NE(line.find("no header record"), std::string::npos) << line;
            compare(res.out, s.base, expected);
            if (HasFatalFailure())
                return;
        }
    }
}

}  // namespace
