// zorbin's containers: UF2 out and in, checked against the npm package uf2 (which decodes
// every block zorbin writes and encodes the files zorbin reads), srec_cat and srec_cmp (which
// read the ELF's own hex text), and dfu-util's dfu-suffix and dfuse-pack (which check every
// suffix and build the same DfuSe files). Each row is one case.
#include "formats/formats.h"
#include "formats/uf2.h"
#include "harness.h"
#include "write/engine.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using bytes = std::string;

void put32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        s[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (8 * k));
}

std::uint32_t get32(std::string_view s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(k)]);
    return v;
}

std::string hex(std::uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%x", v);
    return b;
}

std::string hexbytes(std::string_view s)
{
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s)
        out.append({d[c >> 4], d[c & 15]});
    return out;
}

// One UF2 block as the format's description lays it out, for the files the tests break.
struct raw_block {
    std::uint32_t addr = 0;
    std::string payload;
    std::uint32_t number = 0, count = 1, flags = 0, family = 0;
    std::uint32_t magic_end = 0x0AB16F30;
    std::uint32_t size = 0xFFFFFFFF;  // the size field; all ones: the payload's
};

std::string encode(const raw_block& b)
{
    std::string s(512, '\0');
    put32(s, 0, 0x0A324655);
    put32(s, 4, 0x9E5D5157);
    put32(s, 8, b.flags);
    put32(s, 12, b.addr);
    put32(s, 16, b.size == 0xFFFFFFFF ? static_cast<std::uint32_t>(b.payload.size()) : b.size);
    put32(s, 20, b.number);
    put32(s, 24, b.count);
    put32(s, 28, b.family);
    s.replace(32, std::min<std::size_t>(b.payload.size(), 476),
              b.payload.substr(0, std::min<std::size_t>(b.payload.size(), 476)));
    put32(s, 508, b.magic_end);
    return s;
}

std::string file_of(const std::vector<raw_block>& blocks)
{
    std::string f;
    for (const raw_block& b : blocks)
        f += encode(b);
    return f;
}

// Where the npm package uf2 was installed: FWKIT_UF2_MODULES, else the node_modules that
// .ci/run fills beside the build (npm install --prefix <build>/npm uf2).
std::string uf2_modules()
{
    if (const char* e = std::getenv("FWKIT_UF2_MODULES"))
        return e;
    for (const fs::path& p : {fs::path(FWKIT_BIN_DIR) / ".." / "npm" / "node_modules",
                             fs::path(FWKIT_SOURCE_DIR) / "build-ci" / "npm" / "node_modules",
                             fs::path(FWKIT_SOURCE_DIR) / "build" / "npm" / "node_modules"})
        if (fs::exists(p / "uf2" / "package.json"))
            return fs::canonical(p).string();
    return {};
}

#define REQUIRE_UF2_PACKAGE()                                                                  \
    do {                                                                                       \
        REQUIRE_TOOL("node");                                                                  \
        REQUIRE_THAT(!uf2_modules().empty(),                                                   \
                     "the npm package uf2 is not installed: npm install --prefix build/npm "   \
                     "uf2, or FWKIT_UF2_MODULES=<its node_modules>");                          \
    } while (0)

// Every block of a file as the package decodes it: "number count flags address size family
// payload", one line each, numbers in lower-case hex but the first two.
const char* decode_js = R"(
const fs = require('fs');
const { decodeBlock } = require('uf2');
const data = fs.readFileSync(process.argv[2]);
if (data.length % 512 != 0) { console.log('size ' + data.length); process.exit(1); }
for (let at = 0; at < data.length; at += 512) {
  const b = decodeBlock(data.subarray(at, at + 512));
  console.log([b.blockNumber, b.totalBlocks, b.flags.toString(16), b.flashAddress.toString(16),
               b.payload.length, b.boardFamily.toString(16),
               Buffer.from(b.payload).toString('hex')].join(' '));
}
)";

// A file of blocks from lines "address flags family number count payload" (hex but number and
// count), each encoded by the package.
const char* encode_js = R"(
const fs = require('fs');
const { encodeBlock } = require('uf2');
const lines = fs.readFileSync(process.argv[2], 'utf8').split('\n').filter((l) => l.length);
const out = new Uint8Array(512 * lines.length);
lines.forEach((l, k) => {
  const [addr, flags, family, number, count, payload] = l.split(' ');
  encodeBlock({ flashAddress: parseInt(addr, 16), flags: parseInt(flags, 16),
                boardFamily: parseInt(family, 16), blockNumber: Number(number),
                totalBlocks: Number(count), payload: Buffer.from(payload, 'hex') }, out, 512 * k);
});
fs.writeFileSync(process.argv[3], out);
)";

// The family list the package carries: "SHORTNAME id" lines.
const char* families_js = R"(
const { uf2Families } = require('uf2');
for (const f of uf2Families) console.log(f.shortName + ' ' + f.id.toString(16));
)";

class zorbin_uf2 : public th::tmpdir {
protected:
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }
    th::result tool(std::vector<std::string> argv)
    {
        const std::string exe = th::which(argv[0]);
        return th::run_argv(exe, argv, in_dir());
    }
    th::result node(const char* script, const std::vector<std::string>& args)
    {
        th::write_file(path("script.js"), script);
        th::options o = in_dir();
        o.set_env.push_back("NODE_PATH=" + uf2_modules());
        std::vector<std::string> argv{"node", path("script.js")};
        argv.insert(argv.end(), args.begin(), args.end());
        return th::run_argv(th::which("node"), argv, o);
    }
};

// The bytes of an image at their addresses.
using memory = std::map<std::uint64_t, unsigned char>;

// What -uf2 must write for m, told plainly: one block per 256-byte page holding a byte, in
// address order, the page's other bytes fill. As the package prints them.
std::string expected_blocks(const memory& m, unsigned char fill, std::optional<std::uint32_t> family)
{
    std::map<std::uint64_t, std::string> pages;
    for (const auto& [a, v] : m) {
        std::string& p = pages.try_emplace(a / 256, std::string(256, static_cast<char>(fill))).first->second;
        p[a % 256] = static_cast<char>(v);
    }
    std::string out;
    std::size_t n = 0;
    for (const auto& [page, data] : pages)
        out += std::to_string(n++) + " " + std::to_string(pages.size()) + " " +
               hex(family ? 0x2000 : 0) + " " + hex(static_cast<std::uint32_t>(page * 256)) +
               " 256 " + hex(family.value_or(0)) + " " + hexbytes(data) + "\n";
    return out;
}

struct input_file {
    std::string name;
    std::uint64_t at;  // where its bytes go
    std::string data;
};

struct write_row {
    const char* what;
    std::vector<input_file> files;   // the first is the main input, the others -addbin
    std::vector<std::string> args;   // before the inputs
    unsigned char fill;              // of a page's missing bytes
    std::optional<std::uint32_t> family;
    bool filled = false;             // -fill: every address from the lowest to the highest
};

std::string count_bytes(std::size_t n, unsigned first)
{
    std::string s(n, '\0');
    for (std::size_t k = 0; k < n; ++k)
        s[k] = static_cast<char>(first + k * 7);
    return s;
}

TEST_F(zorbin_uf2, the_npm_package_decodes_every_block_written)
{
    REQUIRE_UF2_PACKAGE();
    const write_row rows[] = {
        {"one byte at 0", {{"a.bin", 0, "\x5A"}}, {}, 0, {}},
        {"1000 bytes from 0x10000010, rp2040",
         {{"a.bin", 0x10000010, count_bytes(1000, 3)}}, {"-family", "rp2040"}, 0, 0xE48BFF56},
        {"a family by number", {{"a.bin", 0x2000, count_bytes(300, 1)}},
         {"-family", "0x12345678"}, 0, 0x12345678},
        {"-fill closes the gap and pads the pages",
         {{"a.bin", 0x80, count_bytes(16, 9)}, {"b.bin", 0x300, count_bytes(3, 1)}},
         {"-fill", "0xEE"}, 0xEE, {}, true},
        {"three inputs in one numbering, two sharing a page",
         {{"a.bin", 0x08000000, count_bytes(0x1F0, 2)},
          {"b.bin", 0x080001F8, count_bytes(0x10, 5)},
          {"c.bin", 0x08010000, count_bytes(0x300, 7)}},
         {"-family", "STM32F4"}, 0, 0x57755A57},
        {"the last page of the address space", {{"a.bin", 0xFFFFFFF0, count_bytes(16, 4)}},
         {"-family", "samd51"}, 0, 0x55114460},
    };
    for (const write_row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> args{"-uf2"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        memory m;
        for (std::size_t k = 0; k < r.files.size(); ++k) {
            const input_file& f = r.files[k];
            th::write_file(path(f.name), f.data);
            for (std::size_t i = 0; i < f.data.size(); ++i)
                m[f.at + i] = static_cast<unsigned char>(f.data[i]);
            const std::string at = "0x" + hex(static_cast<std::uint32_t>(f.at));
            if (k == 0)
                args.insert(args.end(), {"-bin", "-base", at, f.name});
            else
                args.insert(args.end(), {"-addbin", f.name, at});
        }
        if (r.filled)
            for (std::uint64_t a = m.begin()->first; a < m.rbegin()->first; ++a)
                m.try_emplace(a, r.fill);
        args.push_back("out.uf2");
        auto z = zorbin(args);
        ASSERT_EQ(z.status, 0) << z.out << z.err;
        auto d = node(decode_js, {"out.uf2"});
        EXPECT_EQ(d.status, 0) << d.err;
        EXPECT_EQ(d.out, expected_blocks(m, r.fill, r.family));
        // What the package does not show: the padding after the payload is zero.
        const std::string file = th::read_file(path("out.uf2"));
        for (std::size_t at = 0; at < file.size(); at += 512)
            EXPECT_EQ(file.substr(at + 288, 220), std::string(220, '\0')) << "block at " << at;
    }
}

struct read_row {
    const char* what;
    std::vector<raw_block> blocks;  // encoded by the package
    std::vector<std::size_t> taken;  // the blocks whose payloads make the image
    std::vector<std::string> args;
    std::string kind;                // the first line of -info, after the name
};

std::vector<raw_block> numbered(std::vector<raw_block> v, std::uint32_t flags = 0,
                                std::uint32_t family = 0)
{
    for (std::size_t k = 0; k < v.size(); ++k) {
        v[k].number = static_cast<std::uint32_t>(k);
        v[k].count = static_cast<std::uint32_t>(v.size());
        v[k].flags |= flags;
        v[k].family = family;
    }
    return v;
}

TEST_F(zorbin_uf2, zorbin_reads_what_the_npm_package_encodes)
{
    REQUIRE_UF2_PACKAGE();
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    std::vector<raw_block> two_families =
        numbered({{0x10000000, count_bytes(256, 1)}, {0x10000100, count_bytes(256, 2)}}, 0x2000,
                 0xE48BFF56);
    for (raw_block b : numbered({{0x10000000, count_bytes(256, 9)}}, 0x2000, 0xE48BFF59))
        two_families.push_back(b);
    const read_row rows[] = {
        {"476-byte payloads at odd addresses, out of address order",
         numbered({{0x20000301, count_bytes(476, 1)}, {0x20000001, count_bytes(476, 2)},
                   {0x200001DD, count_bytes(36, 3)}},
                  0x2000, 0x68ED2B88),
         {0, 1, 2}, {}, "UF2, family samd21 (0x68ED2B88), 3 blocks"},
        {"payloads of 1, 100 and 256 bytes, no family",
         numbered({{0x0, "\x01"}, {0x1000, count_bytes(100, 4)}, {0x2000, count_bytes(256, 5)}}),
         {0, 1, 2}, {}, "UF2, no family, 3 blocks"},
        {"a block not for main flash is skipped",
         [] {
             auto v = numbered({{0x100, count_bytes(16, 1)}, {0x200, count_bytes(16, 2)}});
             v[1].flags = 1;
             return v;
         }(),
         {0}, {}, "UF2, no family, 1 block, 1 not for main flash skipped"},
        {"the same page twice alike",
         numbered({{0x400, count_bytes(256, 6)}, {0x400, count_bytes(256, 6)}}, 0x2000, 0x1B57745F),
         {0}, {}, "UF2, family nrf52 (0x1B57745F), 2 blocks"},
        {"two files joined, -family picks the first",
         two_families, {0, 1}, {"-family", "rp2040"},
         "UF2, family rp2040 (0xE48BFF56) (1 of 2 families), 2 blocks"},
        {"two files joined, -family picks the second",
         two_families, {2}, {"-family", "RP2350-ARM-S"},
         "UF2, family rp2350-arm-s (0xE48BFF59) (1 of 2 families), 1 block"},
    };
    for (const read_row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string wanted;
        for (const raw_block& b : r.blocks)
            wanted += hex(b.addr) + " " + hex(b.flags) + " " + hex(b.family) + " " +
                    std::to_string(b.number) + " " + std::to_string(b.count) + " " +
                    hexbytes(b.payload) + "\n";
        th::write_file(path("wanted.txt"), wanted);
        auto e = node(encode_js, {"wanted.txt", "in.uf2"});
        ASSERT_EQ(e.status, 0) << e.err;
        std::vector<std::string> args{"-intel32", "in.uf2", "z.hex"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        auto z = zorbin(args);
        ASSERT_EQ(z.status, 0) << z.out << z.err;
        std::vector<std::string> cat{"srec_cat"};
        for (std::size_t k : r.taken) {
            std::string bin = "p";
            bin.append(std::to_string(k)).append(".bin");
            th::write_file(path(bin), r.blocks[k].payload);
            cat.insert(cat.end(), {bin, "-binary", "-offset", "0x" + hex(r.blocks[k].addr)});
        }
        cat.insert(cat.end(), {"-o", "want.hex", "-intel"});
        auto c = tool(cat);
        ASSERT_EQ(c.status, 0) << c.err;
        auto cmp = tool({"srec_cmp", "z.hex", "-intel", "want.hex", "-intel"});
        EXPECT_EQ(cmp.status, 0) << cmp.out << cmp.err;
        std::vector<std::string> info{"-info", "in.uf2"};
        info.insert(info.end(), r.args.begin(), r.args.end());
        auto i = zorbin(info);
        EXPECT_EQ(i.out.substr(0, i.out.find(", entry point")), "in.uf2: " + r.kind);
    }
}

// Every name zorbin knows has the ID of the package's list where the list has it; the RP2350
// IDs, newer than the package's list, are those of the public UF2 family list.
TEST_F(zorbin_uf2, family_names_are_those_of_the_uf2_list)
{
    REQUIRE_UF2_PACKAGE();
    auto l = node(families_js, {});
    ASSERT_EQ(l.status, 0) << l.err;
    std::map<std::string, std::uint32_t> theirs;
    std::istringstream in(l.out);
    for (std::string name, id; in >> name >> id;)
        theirs[name] = static_cast<std::uint32_t>(std::stoul(id, nullptr, 16));
    const std::map<std::string, std::uint32_t> newer{
        {"RP2350-ARM-S", 0xE48BFF59}, {"RP2350-ARM-NS", 0xE48BFF5B}, {"RP2350-RISCV", 0xE48BFF5A},
        {"RP2XXX-ABSOLUTE", 0xE48BFF57}, {"RP2XXX-DATA", 0xE48BFF58}};
    std::set<std::uint32_t> ids;
    for (const zb::uf2_family& f : zb::uf2_families) {
        std::string upper(f.name);
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        SCOPED_TRACE(upper);
        EXPECT_TRUE(ids.insert(f.id).second) << "two names for one ID";
        if (auto n = newer.find(upper); n != newer.end())
            EXPECT_EQ(f.id, n->second);
        else if (auto t = theirs.find(upper); t != theirs.end())
            EXPECT_EQ(f.id, t->second);
        else
            ADD_FAILURE() << "a name neither list has";
    }
    for (const char* wanted : {"rp2040", "rp2350-arm-s", "rp2350-arm-ns", "rp2350-riscv",
                               "samd21", "samd51", "nrf52840", "nrf52", "stm32f4", "stm32f1",
                               "esp32s2", "esp32s3", "lpc55"})
        EXPECT_TRUE(std::any_of(zb::uf2_families.begin(), zb::uf2_families.end(),
                                [&](const zb::uf2_family& f) { return f.name == wanted; }))
            << wanted;
}

// ELF -> UF2 -> zorbin -> Intel hex holds what srec_cat reads from the ELF's own Intel hex,
// padded to whole pages with the page fill: no byte lost, moved or made up on the way.
TEST_F(zorbin_uf2, elf_through_uf2_to_intel_hex_is_the_elfs_hex_in_whole_pages)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    fs::copy_file(th::sample("app.elf"), path("app.elf"));
    fs::copy_file(th::sample("fw/fw.elf"), path("fw.elf"));
    struct row {
        const char* what;
        const char* elf;
        std::vector<std::string> args;       // of the UF2 step
        std::vector<std::string> padding;    // srec_cat's, after the ELF's hex
    };
    const row rows[] = {
        {"app.elf, two blocks apart", "app.elf", {},
         {"-fill", "0x00", "-within", "ref.hex", "-intel", "-range-padding", "256"}},
        {"app.elf, -fill 0xFF", "app.elf", {"-fill", "0xFF"},
         {"-fill", "0xFF", "-over", "ref.hex", "-intel", "-range-padding", "256"}},
        {"fw.elf, across the 64 KiB page, .data stored in flash", "fw.elf", {"-family", "lpc55"},
         {"-fill", "0x00", "-within", "ref.hex", "-intel", "-range-padding", "256"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(zorbin({"-intel32", r.elf, "ref.hex"}).status, 0);
        std::vector<std::string> to_uf2{"-uf2", r.elf, "x.uf2"};
        to_uf2.insert(to_uf2.end(), r.args.begin(), r.args.end());
        auto u = zorbin(to_uf2);
        ASSERT_EQ(u.status, 0) << u.out << u.err;
        auto h = zorbin({"-intel32", "x.uf2", "rt.hex"});
        ASSERT_EQ(h.status, 0) << h.out << h.err;
        std::vector<std::string> cat{"srec_cat", "ref.hex", "-intel"};
        cat.insert(cat.end(), r.padding.begin(), r.padding.end());
        cat.insert(cat.end(), {"-o", "want.hex", "-intel"});
        auto c = tool(cat);
        ASSERT_EQ(c.status, 0) << c.err;
        auto cmp = tool({"srec_cmp", "rt.hex", "-intel", "want.hex", "-intel"});
        EXPECT_EQ(cmp.status, 0) << cmp.out << cmp.err;
    }
}

// A file that breaks the format is refused with the block at fault, and nothing is written.
TEST_F(zorbin_uf2, a_block_at_fault_is_named)
{
    const std::string page = count_bytes(256, 1);
    auto two = [&] { return numbered({{0x1000, page}, {0x1100, page}}); };
    struct bad_row {
        const char* what;
        std::string file;
        std::vector<std::string> args;
        std::string says;  // after "Bad UF2 file in.uf2"
    };
    const bad_row rows[] = {
        {"cut short", file_of(two()) + std::string(100, '\0'), {},
         " block 2 (offset 0x400): cut short, 100 of its 512 bytes"},
        {"end magic number", [&] { auto v = two(); v[1].magic_end = 0x12345678; return file_of(v); }(),
         {}, " block 1 (offset 0x200): magic numbers 0x0A324655 0x9E5D5157 0x12345678, should be "
             "0x0A324655 0x9E5D5157 0x0AB16F30"},
        {"payload past 476", [&] { auto v = two(); v[0].size = 477; return file_of(v); }(), {},
         " block 0 (offset 0x0): payload size 477, at most 476"},
        {"a gap in the numbers",
         [&] { auto v = numbered({{0, page}, {0x100, page}, {0x200, page}}); v[2].number = 3; return file_of(v); }(),
         {}, " block 2 (offset 0x400): block number 3, should be 2"},
        {"not from 0", [&] { auto v = two(); v[0].number = 1; return file_of(v); }(), {},
         " block 0 (offset 0x0): block number 1, should be 0"},
        {"no blocks", [&] { auto v = two(); v[0].count = 0; return file_of(v); }(), {},
         " block 0 (offset 0x0): number of blocks 0"},
        {"another number of blocks", [&] { auto v = two(); v[1].count = 3; return file_of(v); }(), {},
         " block 1 (offset 0x200): number of blocks 3, block 0 began its run with 2"},
        {"ends early", file_of(numbered({{0, page}, {0x100, page}, {0x200, page}})).substr(0, 1024),
         {}, " block 2 (offset 0x400): missing, the file ends after 2 of its run's 3 blocks"},
        {"a family that is not its run's",
         [&] { auto v = two(); v[1].flags = 0x2000; v[1].family = 0xE48BFF56; return file_of(v); }(),
         {}, " block 1 (offset 0x200): family rp2040 (0xE48BFF56), block 0 began its run with no family"},
        {"two families, none picked",
         file_of(numbered({{0, page}}, 0x2000, 0xE48BFF56)) + file_of(numbered({{0, page}}, 0x2000, 0x00ABCDEF)),
         {}, " block 1 (offset 0x200): family 0x00ABCDEF, block 0 has family rp2040 (0xE48BFF56): "
             "pick one with -family"},
        {"-family names none of them", file_of(numbered({{0, page}}, 0x2000, 0xE48BFF56)),
         {"-family", "esp32s3"},
         ": no block of family esp32s3 (0xC47E5767), only of family rp2040 (0xE48BFF56)"},
        {"two blocks, one address, other bytes",
         [&] { auto v = two(); v[1].addr = 0x1080; return file_of(v); }(), {},
         " block 1 (offset 0x200): 0x01 at 0x00001080, block 0 has 0x81 there"},
        {"nothing for main flash",
         file_of(numbered({{0, page}, {0x100, page}}, 1)), {},
         ": no block for main flash holds a byte"},
    };
    for (const bad_row& r : rows) {
        SCOPED_TRACE(r.what);
        th::write_file(path("in.uf2"), r.file);
        std::vector<std::string> args{"-intel32", "in.uf2", "out.hex"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        auto z = zorbin(args);
        EXPECT_EQ(z.out, "Bad UF2 file in.uf2" + r.says + "\r\n");
        EXPECT_EQ(z.status, 1);
        EXPECT_FALSE(fs::exists(path("out.hex")));
    }
}

struct cli_row {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    int status;
};

TEST_F(zorbin_uf2, options_a_run_has_no_use_for_are_refused_before_anything_is_written)
{
    th::write_file(path("a.bin"), count_bytes(40, 1));
    th::write_file(path("a.uf2"), file_of(numbered({{0x100, count_bytes(40, 1)}})));
    const cli_row rows[] = {
        {"an unknown family", {"-uf2", "-family", "rp2041", "-bin", "a.bin", "o"},
         "Bad family on -family option, use a number or one of " + zb::uf2_family_names() + "\r\n", 1},
        {"-family without -uf2 or a UF2 input", {"-intel32", "-family", "rp2040", "-bin", "a.bin", "o"},
         "Option -family needs -uf2 or a UF2 input\r\n", 1},
        {"-family with a UF2 input", {"-intel32", "-family", "rp2040", "a.uf2", "o"}, "", 0},
        {"-family with a UF2 input of -add",
         {"-dfu", "-family", "rp2040", "-bin", "a.bin", "-add", "a.uf2", "o"}, "", 0},
        {"-usbid without -dfu or -dfuse", {"-uf2", "-usbid", "0483:df11", "-bin", "a.bin", "o"},
         "Option -usbid needs -dfu or -dfuse, not -uf2\r\n", 1},
        {"-usbid of five digits", {"-dfu", "-usbid", "04830:df11", "-bin", "a.bin", "o"},
         "Bad id on -usbid option, use VID:PID or VID:PID:BCD in hex digits\r\n", 1},
        {"-usbid of four fields", {"-dfu", "-usbid", "1:2:3:4", "-bin", "a.bin", "o"},
         "Bad id on -usbid option, use VID:PID or VID:PID:BCD in hex digits\r\n", 1},
        {"-target without -dfuse", {"-dfu", "-target", "app", "-bin", "a.bin", "o"},
         "Option -target needs -dfuse, not -dfu\r\n", 1},
        {"-target too long", {"-dfuse", "-target", std::string(255, 't'), "-bin", "a.bin", "o"},
         "Bad name on -target option, at most 254 bytes\r\n", 1},
        {"a byte past 4 GiB", {"-uf2", "-bin", "-base", "0xFFFFFFF0", "a.bin", "o"},
         "Base and/or size too big for this format, max = 0xFFFFFFFF\r\n", 1},
        {"a byte past 4 GiB, -dfuse", {"-dfuse", "-bin", "-base", "0xFFFFFFF0", "a.bin", "o"},
         "Base and/or size too big for this format, max = 0xFFFFFFFF\r\n", 1},
    };
    for (const cli_row& r : rows) {
        SCOPED_TRACE(r.what);
        fs::remove(path("o"));
        auto z = zorbin(r.args);
        EXPECT_EQ(z.out, r.out);
        EXPECT_EQ(z.status, r.status) << z.err;
        EXPECT_EQ(fs::exists(path("o")), r.status == 0);
    }
}

// Speed by work: a 4 MiB image goes out in a handful of large writes, whatever the format.
TEST(zorbin_containers, large_images_go_out_in_large_writes)
{
    std::vector<unsigned char> data(4u << 20, 0x5A);
    const zb::block b{0x08000000, {std::span<const unsigned char>(data)}};
    struct counted {
        std::size_t writes = 0, bytes = 0;
    };
    for (const zb::fmt f : {zb::uf2, zb::dfu, zb::dfuse}) {
        SCOPED_TRACE(std::string(zb::formats[f].word));
        counted c;
        const zb::sink s{&c, [](void* ctx, const char*, std::size_t n) {
                             auto* c = static_cast<counted*>(ctx);
                             ++c->writes;
                             c->bytes += n;
                             return true;
                         }};
        ASSERT_EQ(zb::write_image({&b, 1}, f, "a.bin", s), zb::hex_result::ok);
        EXPECT_EQ(c.bytes, f == zb::uf2 ? 2 * data.size() : f == zb::dfu ? data.size() + 16
                                                                          : data.size() + 309);
        EXPECT_LE(c.writes, c.bytes / (256u << 10) + 4);
    }
}

class zorbin_dfu : public zorbin_uf2 {};

struct suffix_row {
    const char* what;
    std::vector<std::string> args;  // before the input
    std::string vid, pid, bcd, dfu;  // as dfu-suffix shows them
};

// dfu-suffix takes every file's suffix, its CRC too, and reads the IDs given; a changed byte
// makes it refuse the file, so the check is real.
TEST_F(zorbin_dfu, dfu_suffix_accepts_every_file_and_reads_its_ids)
{
    REQUIRE_TOOL("dfu-suffix");
    fs::copy_file(th::sample("app.elf"), path("app.elf"));
    const suffix_row rows[] = {
        {"-dfu, any device", {"-dfu"}, "0xFFFF", "0xFFFF", "0xFFFF", "0x0100"},
        {"-dfu, an STM32", {"-dfu", "-usbid", "0483:df11"}, "0x0483", "0xDF11", "0xFFFF", "0x0100"},
        {"-dfu, with bcdDevice", {"-dfu", "-usbid", "1209:0001:0100"}, "0x1209", "0x0001", "0x0100", "0x0100"},
        {"-dfu, 0x and one digit", {"-dfu", "-usbid", "0x1d50:0X6017:7"}, "0x1D50", "0x6017", "0x0007", "0x0100"},
        {"-dfu, gaps filled", {"-dfu", "-fill", "0"}, "0xFFFF", "0xFFFF", "0xFFFF", "0x0100"},
        {"-dfuse, any device", {"-dfuse"}, "0xFFFF", "0xFFFF", "0xFFFF", "0x011A"},
        {"-dfuse, an STM32", {"-dfuse", "-usbid", "0483:DF11:2200", "-target", "Internal Flash"},
         "0x0483", "0xDF11", "0x2200", "0x011A"},
    };
    for (const suffix_row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"app.elf", "app.dfu"});
        auto z = zorbin(args);
        ASSERT_EQ(z.status, 0) << z.out << z.err;
        auto c = tool({"dfu-suffix", "-c", "app.dfu"});
        EXPECT_EQ(c.status, 0) << c.out << c.err;
        for (const std::string& line : {"BCD device:\t" + r.bcd, "Product ID:\t" + r.pid,
                                        "Vendor ID:\t" + r.vid, "BCD DFU:\t" + r.dfu,
                                        std::string("Length:\t\t16")})
            EXPECT_NE(c.out.find(line + "\n"), std::string::npos) << line << "\n" << c.out;
        std::string file = th::read_file(path("app.dfu"));
        file[file.size() / 2] ^= 1;
        th::write_file(path("bad.dfu"), file);
        EXPECT_NE(tool({"dfu-suffix", "-c", "bad.dfu"}).status, 0) << "a changed byte passes";
    }
}

// -dfu is -raw's output with the suffix that dfu-suffix -a appends, byte for byte.
TEST_F(zorbin_dfu, dfu_is_raw_with_the_suffix_dfu_suffix_adds)
{
    REQUIRE_TOOL("dfu-suffix");
    fs::copy_file(th::sample("app.elf"), path("app.elf"));
    th::write_file(path("a.bin"), count_bytes(1000, 3));
    struct row {
        const char* what;
        std::vector<std::string> args;  // of both runs
        std::vector<std::string> ids;   // of dfu-suffix -a
        std::string usbid;
    };
    const row rows[] = {
        {"an ELF with a gap", {"app.elf"}, {"-v", "ffff", "-p", "ffff", "-d", "ffff"}, ""},
        {"the gap 00", {"-fill", "0", "app.elf"}, {"-v", "0483", "-p", "df11", "-d", "ffff"}, "0483:df11"},
        {"-range cuts and pads", {"-range", "0x08000040", "0x1000", "app.elf"},
         {"-v", "1209", "-p", "0002", "-d", "0100"}, "1209:0002:0100"},
        {"a plain binary", {"-bin", "a.bin"}, {"-v", "ffff", "-p", "ffff", "-d", "ffff"}, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> raw{"-raw"}, dfu{"-dfu"};
        raw.insert(raw.end(), r.args.begin(), r.args.end());
        raw.push_back("want.dfu");
        if (!r.usbid.empty())
            dfu.insert(dfu.end(), {"-usbid", r.usbid});
        dfu.insert(dfu.end(), r.args.begin(), r.args.end());
        dfu.push_back("z.dfu");
        ASSERT_EQ(zorbin(raw).status, 0);
        auto z = zorbin(dfu);
        ASSERT_EQ(z.status, 0) << z.out << z.err;
        std::vector<std::string> add{"dfu-suffix"};
        add.insert(add.end(), r.ids.begin(), r.ids.end());
        add.insert(add.end(), {"-a", "want.dfu"});
        auto a = tool(add);
        ASSERT_EQ(a.status, 0) << a.err;
        EXPECT_TRUE(th::read_file(path("z.dfu")) == th::read_file(path("want.dfu")));
    }
}

// -dfuse is what dfu-util's own packer builds of the same elements, IDs and name.
TEST_F(zorbin_dfu, dfuse_is_what_dfuse_pack_builds)
{
    REQUIRE_TOOL("dfuse-pack");
    th::write_file(path("a.bin"), count_bytes(1000, 3));
    th::write_file(path("b.bin"), count_bytes(17, 5));
    th::write_file(path("c.bin"), count_bytes(4096, 11));
    struct row {
        const char* what;
        std::vector<std::string> zorbin;  // after -dfuse -usbid VID:PID:0000 -target ST...
        std::vector<std::string> pack;    // dfuse-pack's
    };
    const row rows[] = {
        {"one element", {"-bin", "-base", "0x08000000", "a.bin"}, {"-b", "0x08000000:a.bin"}},
        {"three elements, in address order",
         {"-bin", "-base", "0x08004000", "b.bin", "-addbin", "a.bin", "0x08000000", "-addbin",
          "c.bin", "0x08010000"},
         {"-b", "0x08000000:a.bin", "-b", "0x08004000:b.bin", "-b", "0x08010000:c.bin"}},
    };
    for (const char* device : {"0483:df11", "1209:4242"}) {
        for (const row& r : rows) {
            SCOPED_TRACE(std::string(r.what) + ", " + device);
            std::vector<std::string> z{"-dfuse", "-usbid", std::string(device) + ":0000", "-target", "ST..."};
            z.insert(z.end(), r.zorbin.begin(), r.zorbin.end());
            z.push_back("z.dfu");
            auto zr = zorbin(z);
            ASSERT_EQ(zr.status, 0) << zr.out << zr.err;
            const std::string d(device);
            std::vector<std::string> p{"dfuse-pack"};
            p.insert(p.end(), r.pack.begin(), r.pack.end());
            p.insert(p.end(), {"-D", "0x" + d.substr(0, 4) + ":0x" + d.substr(5), "want.dfu"});
            auto pr = tool(p);
            ASSERT_EQ(pr.status, 0) << pr.out << pr.err;
            // The packer counts the suffix in the image size, zorbin does not; the rest is the
            // same, the suffix's CRC apart, which covers that field.
            std::string z_file = th::read_file(path("z.dfu")), want = th::read_file(path("want.dfu"));
            ASSERT_EQ(z_file.size(), want.size());
            auto size_at6 = [](const std::string& f) {
                std::uint32_t v = 0;
                for (int k = 3; k >= 0; --k)
                    v = v << 8 | static_cast<unsigned char>(f[6 + k]);
                return v;
            };
            EXPECT_EQ(size_at6(z_file), z_file.size() - 16);
            EXPECT_EQ(size_at6(want), want.size());
            EXPECT_TRUE(z_file.substr(10, z_file.size() - 14) == want.substr(10, want.size() - 14));
            EXPECT_TRUE(z_file.substr(0, 6) == want.substr(0, 6));
        }
    }
}

// The DfuSe file's fields one by one, at their offsets: prefix, target prefix, elements,
// suffix; the target named by the input's stem.
TEST_F(zorbin_dfu, dfuse_fields_one_by_one)
{
    fs::create_directory(path("dir"));
    const std::string a = count_bytes(10, 1), b = count_bytes(3, 2);
    th::write_file(path("dir/fw.v2.bin"), a);
    th::write_file(path("b.bin"), b);
    auto z = zorbin({"-dfuse", "-usbid", "0483:df11", "-bin", "-base", "0x08000000",
                     "dir/fw.v2.bin", "-addbin", "b.bin", "0x08000100", "o.dfu"});
    ASSERT_EQ(z.status, 0) << z.out << z.err;
    const std::string f = th::read_file(path("o.dfu"));
    ASSERT_EQ(f.size(), 11u + 274 + 8 + 10 + 8 + 3 + 16);
    struct field {
        const char* what;
        std::size_t at;
        std::string bytes;
    };
    auto le = [](std::uint32_t v, std::size_t n) {
        std::string s(n, '\0');
        for (std::size_t k = 0; k < n; ++k)
            s[k] = static_cast<char>(v >> (8 * k));
        return s;
    };
    const std::size_t e1 = 11 + 274, e2 = e1 + 8 + 10, sfx = e2 + 8 + 3;
    const field fields[] = {
        {"signature", 0, "DfuSe"},
        {"version", 5, "\x01"},
        {"image size: the whole file but its suffix", 6,
         le(static_cast<std::uint32_t>(f.size() - 16), 4)},
        {"targets", 10, "\x01"},
        {"target signature", 11, "Target"},
        {"alternate setting", 17, std::string(1, '\0')},
        {"named", 18, le(1, 4)},
        {"name: the input's stem", 22, std::string("fw.v2") + std::string(250, '\0')},
        {"target size", 11 + 266, le(8 + 10 + 8 + 3, 4)},
        {"elements", 11 + 270, le(2, 4)},
        {"element 1 address", e1, le(0x08000000, 4)},
        {"element 1 size", e1 + 4, le(10, 4)},
        {"element 1 bytes", e1 + 8, a},
        {"element 2 address", e2, le(0x08000100, 4)},
        {"element 2 size", e2 + 4, le(3, 4)},
        {"element 2 bytes", e2 + 8, b},
        {"bcdDevice", sfx, le(0xFFFF, 2)},
        {"idProduct", sfx + 2, le(0xDF11, 2)},
        {"idVendor", sfx + 4, le(0x0483, 2)},
        {"bcdDFU", sfx + 6, le(0x011A, 2)},
        {"signature UFD", sfx + 8, "UFD"},
        {"suffix length", sfx + 11, "\x10"},
    };
    for (const field& x : fields)
        EXPECT_EQ(hexbytes(f.substr(x.at, x.bytes.size())), hexbytes(x.bytes)) << x.what;
    // The CRC, reflected CRC-32 with no final XOR, bit by bit.
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t k = 0; k + 4 < f.size(); ++k) {
        crc ^= static_cast<unsigned char>(f[k]);
        for (int i = 0; i < 8; ++i)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    EXPECT_EQ(get32(f, f.size() - 4), crc);
}

}  // namespace
