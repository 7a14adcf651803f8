// zorbin's finishing operations, -range, -fill, -crc and -raw, each row compared with what
// srec_cat or objcopy makes of the same request, and every refusal checked to leave no file.
// (Every checksum kind against crcmod and hashlib, and -verify: zorbin_checks_test.)
#include "image/sum.h"
#include "harness.h"

#include <random>

namespace {

namespace fs = std::filesystem;

class zorbin_finish : public th::tmpdir {
protected:
    void SetUp() override
    {
        th::tmpdir::SetUp();
        // samples/app.elf: 0x08000000-0x0800005B and 0x08000800-0x08000807.
        fs::copy_file(th::sample("app.elf"), path("app.elf"));
        th::write_file(path("check.bin"), "123456789");
        th::write_file(path("check8.bin"), "12345678");
    }
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }
    th::result tool(std::vector<std::string> argv)
    {
        const std::string exe = th::which(argv[0]);
        return th::run_argv(exe, argv, in_dir());
    }
    // app.elf's plain records, as srec_cat's input: what zorbin writes without the new
    // options is checked against objcopy elsewhere.
    void plain_records()
    {
        ASSERT_EQ(zorbin({"-motorola32", "app.elf", "app.srec"}).status, 0);
    }
    void same_memory(const std::string& ours, const std::string& ours_format,
                     const std::string& theirs)
    {
        auto cmp = tool({"srec_cmp", ours, ours_format, theirs, "-Intel"});
        EXPECT_EQ(cmp.status, 0) << cmp.out << cmp.err;
    }
};

// The words of every kind, as the message for a bad one lists them.
const std::string all_kinds =
    "crc8, crc8-maxim, crc16, crc16-xmodem, crc16-ibm-3740, crc16-ccitt-false, crc16-arc, "
    "crc16-modbus, crc16-kermit, crc32, crc32be, crc32-mpeg2, stm32, crc32-bzip2, crc32c, "
    "crc32-cksum, crc64-xz, crc64-ecma-182, sum8, sum16, sum32, sum8-neg, sum16-neg, sum32-neg, "
    "sum8-not, sum16-not, sum32-not, sha256, KIND/be or crc:WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT";

struct oracle_row {
    const char* what;
    std::vector<std::string> zorbin;  // after -intel32 app.elf z.hex
    std::vector<std::string> srec;    // srec_cat's filters after app.srec -Motorola
    std::string warning;              // standard error
};

TEST_F(zorbin_finish, fill_and_range_as_srec_cat_makes_them)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    plain_records();
    const oracle_row rows[] = {
        {"fill the gaps only", {"-fill", "0xFF"}, {"-fill", "0xFF", "0x08000000", "0x08000808"}, ""},
        {"pad before the first and after the last piece", {"-fill", "0", "-range", "0x07FFFF00", "0x1000"},
         {"-crop", "0x07FFFF00", "0x08000F00", "-fill", "0", "0x07FFFF00", "0x08000F00"}, ""},
        {"a range that cuts a piece", {"-range", "0x08000010", "0x20"},
         {"-crop", "0x08000010", "0x08000030"},
         th::lines({"warning: -range drops .vectors of app.elf (16 bytes at 0x08000000)",
                    "warning: -range drops .rodata of app.elf (24 bytes at 0x0800003C)",
                    "warning: -range drops .data of app.elf (8 bytes at 0x08000054)",
                    "warning: -range drops .config of app.elf (8 bytes at 0x08000800)",
                    "warning: -range drops 12 bytes of app.elf outside it, the first at 0x08000030"})},
        {"a range around the second block", {"-range", "0x08000700", "1K", "-fill", "0xA5"},
         {"-crop", "0x08000700", "0x08000B00", "-fill", "0xA5", "0x08000700", "0x08000B00"},
         th::lines({"warning: -range drops .vectors of app.elf (16 bytes at 0x08000000)",
                    "warning: -range drops .text of app.elf (44 bytes at 0x08000010)",
                    "warning: -range drops .rodata of app.elf (24 bytes at 0x0800003C)",
                    "warning: -range drops .data of app.elf (8 bytes at 0x08000054)"})},
        {"the flash of the example", {"-fill", "0xFF", "-range", "0x08000000", "256K", "-crc", "crc32", "0x0803FFFC"},
         {"-crop", "0x08000000", "0x0803FFFC", "-fill", "0xFF", "0x08000000", "0x0803FFFC",
          "-crc32-l-e", "0x0803FFFC"}, ""},
    };
    for (const oracle_row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> z{"-intel32", "app.elf", "z.hex"};
        z.insert(z.end(), r.zorbin.begin(), r.zorbin.end());
        auto run = zorbin(z);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.err, r.warning);
        std::vector<std::string> s{"srec_cat", "app.srec", "-Motorola"};
        s.insert(s.end(), r.srec.begin(), r.srec.end());
        s.insert(s.end(), {"-o", "s.hex", "-Intel"});
        ASSERT_EQ(tool(s).status, 0);
        same_memory("z.hex", "-Intel", "s.hex");
    }
}

TEST_F(zorbin_finish, every_crc_kind_as_srec_cat_computes_it)
{
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL("srec_cmp");
    plain_records();
    struct row {
        const char* what;
        std::string input;                // check.bin, check8.bin or app.elf
        std::vector<std::string> zorbin;  // options after -motorola32 input z.s37
        std::vector<std::string> srec;    // srec_cat's filters
        std::string record;               // the field's record in zorbin's output, if fixed
    };
    const row rows[] = {
        {"crc32 check value", "check.bin", {"-bin", "-crc", "crc32", "9"}, {"-crc32-l-e", "9"},
         "S312000000003132333435363738392639F4CBF2"},
        {"crc32be check value", "check.bin", {"-bin", "-crc", "CRC32BE", "9"}, {"-crc32-b-e", "9"},
         "S31200000000313233343536373839CBF43926F2"},
        {"crc16 (XMODEM) check value", "check.bin", {"-bin", "-crc", "crc16", "9"},
         {"-crc16-l-e", "9", "-xmodem"}, "S31000000000313233343536373839C3311E"},
        {"stm32 check value", "check8.bin", {"-bin", "-crc", "stm32", "8"}, {"-stm32-l-e", "8"},
         "S311000000003132333435363738F954FCFE03"},
        {"crc32 over a filled image", "app.elf", {"-fill", "0", "-crc", "crc32", "0x08000808"},
         {"-fill", "0", "0x08000000", "0x08000808", "-crc32-l-e", "0x08000808"}, ""},
        {"stm32 over a word split between data and fill", "check.bin",
         {"-bin", "-fill", "0", "-range", "0", "16", "-crc", "stm32", "12"},
         {"-crop", "0", "12", "-fill", "0", "0", "12", "-stm32-l-e", "12"}, ""},
        {"stm32 over a filled flash image", "app.elf",
         {"-fill", "0xFF", "-range", "0x08000000", "4K", "-crc", "stm32", "0x08000FFC"},
         {"-crop", "0x08000000", "0x08000FFC", "-fill", "0xFF", "0x08000000", "0x08000FFC",
          "-stm32-l-e", "0x08000FFC"}, ""},
        {"sum8-not, srec_cat's bitnot", "check.bin", {"-bin", "-crc", "sum8-not", "9"},
         {"-checksum-bitnot-l-e", "9", "1", "1"}, "S30F0000000031323334353637383922F1"},
        {"sum8-neg, srec_cat's negative", "check.bin", {"-bin", "-crc", "sum8-neg", "9"},
         {"-checksum-negative-l-e", "9", "1", "1"}, ""},
        {"sum16, srec_cat's positive", "check.bin", {"-bin", "-crc", "sum16", "9"},
         {"-checksum-positive-l-e", "9", "2", "1"}, ""},
        {"sum32-neg big-endian", "check.bin", {"-bin", "-crc", "sum32-neg/be", "9"},
         {"-checksum-negative-b-e", "9", "4", "1"}, ""},
        {"crc16-ibm-3740 big-endian, srec_cat's CCITT without augmentation", "check.bin",
         {"-bin", "-crc", "crc16-ibm-3740/be", "9"}, {"-crc16-b-e", "9", "-ccitt", "-broken"}, ""},
        {"crc32/be is crc32be", "check.bin", {"-bin", "-crc", "crc32/be", "9"}, {"-crc32-b-e", "9"},
         "S31200000000313233343536373839CBF43926F2"},
        {"a sum over a filled flash, then a CRC over it and its field", "app.elf",
         {"-fill", "0xFF", "-range", "0x08000000", "4K", "-crc", "sum16-neg", "0x08000FF0",
          "-crc", "crc32", "0x08000FFC"},
         {"-crop", "0x08000000", "0x08000FF0", "-fill", "0xFF", "0x08000000", "0x08000FF0",
          "-checksum-negative-l-e", "0x08000FF0", "2", "1", "-fill", "0xFF", "0x08000FF2",
          "0x08000FFC", "-crc32-l-e", "0x08000FFC"}, ""},
        {"crc16 of the first block, the field just after it", "app.elf",
         {"-crcrange", "0x08000000", "0x5C", "-crc", "crc16", "0x0800005C"},
         {"-crop", "0x08000000", "0x0800005C", "-crc16-l-e", "0x0800005C", "-xmodem",
          "app.srec", "-Motorola", "-crop", "0x08000800", "0x08000808"}, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> z{"-motorola32", r.input, "z.s37"};
        z.insert(z.end(), r.zorbin.begin(), r.zorbin.end());
        auto run = zorbin(z);
        ASSERT_EQ(run.status, 0) << run.out;
        if (!r.record.empty()) {
            EXPECT_EQ(th::read_file(path("z.s37")), th::lines({r.record, "S70500000000FA"}));
        }
        const bool bin = r.input != "app.elf";
        std::vector<std::string> s{"srec_cat", bin ? r.input : "app.srec", bin ? "-Binary" : "-Motorola"};
        s.insert(s.end(), r.srec.begin(), r.srec.end());
        s.insert(s.end(), {"-o", "s.hex", "-Intel"});
        ASSERT_EQ(tool(s).status, 0);
        same_memory("z.s37", "-Motorola", "s.hex");
    }
}

// A placeholder the linker left at the field is replaced; the checksum is the one Python's
// zlib computes over the covered bytes. (0xEE is a placeholder only as the -fill byte.)
TEST_F(zorbin_finish, a_placeholder_is_replaced_in_place)
{
    REQUIRE_TOOL("python3");
    std::string image = "firmware body, sixteen per row..";
    image += "\xEE\xEE\xEE\xEE";  // the placeholder
    image += "tail";
    th::write_file(path("fw.bin"), image);
    ASSERT_EQ(zorbin({"-raw", "-bin", "fw.bin", "fw.out", "-fill", "0xEE", "-crc", "crc32", "32",
                      "-crcrange", "0", "32"}).status, 0);
    const std::string out = th::read_file(path("fw.out"));
    ASSERT_EQ(out.size(), image.size());
    EXPECT_EQ(out.substr(0, 32), image.substr(0, 32));
    EXPECT_EQ(out.substr(36), "tail");
    auto py = tool({"python3", "-c",
                    "import zlib,sys;d=open('fw.out','rb').read();"
                    "sys.exit(0 if int.from_bytes(d[32:36],'little')==zlib.crc32(d[:32]) else 1)"});
    EXPECT_EQ(py.status, 0) << py.err;
    auto info = zorbin({"-info", "-bin", "fw.bin", "-fill", "0xEE", "-crc", "crc32", "32", "-crcrange", "0", "32"});
    EXPECT_NE(info.out.find(", stored little-endian at 0x00000020, in place of 4 bytes\r\n"),
              std::string::npos) << info.out;
}

TEST_F(zorbin_finish, raw_is_objcopys_binary)
{
    REQUIRE_TOOL("arm-none-eabi-objcopy");
    struct row {
        const char* what;
        std::vector<std::string> zorbin;   // options after -raw app.elf z.bin
        std::vector<std::string> objcopy;  // after -O binary
    };
    const row rows[] = {
        {"gaps erased", {}, {"--gap-fill", "0xFF"}},
        {"gaps zero", {"-fill", "0"}, {"--gap-fill", "0"}},
        {"padded to the flash size", {"-range", "0x08000000", "0x1000", "-fill", "0x5A"},
         {"--gap-fill", "0x5A", "--pad-to", "0x08001000"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> z{"-raw", "app.elf", "z.bin"};
        z.insert(z.end(), r.zorbin.begin(), r.zorbin.end());
        auto run = zorbin(z);
        ASSERT_EQ(run.status, 0) << run.out;
        std::vector<std::string> o{"arm-none-eabi-objcopy", "-O", "binary"};
        o.insert(o.end(), r.objcopy.begin(), r.objcopy.end());
        o.insert(o.end(), {"app.elf", "o.bin"});
        ASSERT_EQ(tool(o).status, 0);
        EXPECT_TRUE(th::read_file(path("z.bin")) == th::read_file(path("o.bin")));
    }
    // A RAM section left in the image: refused without -range, cut away with it.
    ASSERT_EQ(tool({"arm-none-eabi-objcopy", "--change-section-lma", ".data=0x20000000", "app.elf",
                    "ram.elf"}).status, 0);
    auto wide = zorbin({"-raw", "ram.elf", "ram.bin"});
    EXPECT_EQ(wide.out, "Raw image of ram.elf would be 402653192 bytes, more than 16 MiB: the widest "
                        "gap, 402651128 bytes, lies before .data at 0x20000000; give -range lo size "
                        "for the part to write\r\n");
    EXPECT_EQ(wide.status, 1);
    EXPECT_FALSE(fs::exists(path("ram.bin")));
    // A fill without -range over the same span would write it all out, in any format.
    auto filled = zorbin({"-intel32", "-fill", "0", "ram.elf", "ram.hex"});
    EXPECT_EQ(filled.out, wide.out);
    EXPECT_EQ(filled.status, 1);
    EXPECT_FALSE(fs::exists(path("ram.hex")));
    auto cut = zorbin({"-raw", "ram.elf", "ram.bin", "-range", "0x08000000", "0x808"});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.err, "warning: -range drops .data of ram.elf (8 bytes at 0x20000000, loaded where it "
                       "runs: AT> missing?)\r\n");
    EXPECT_EQ(fs::file_size(path("ram.bin")), 0x808u);
}

// Every refusal comes before anything is written: no new file, an old one untouched.
TEST_F(zorbin_finish, refusals_write_nothing)
{
    struct row {
        std::vector<std::string> args;  // after app.elf out.hex
        std::string out;
    };
    const row rows[] = {
        {{"-intel32", "-fill"}, "No argument on -fill option\r\n"},
        {{"-intel32", "-fill", "256"}, "Bad number on -fill option\r\n"},
        {{"-intel32", "-range", "0"}, "No argument on -range option\r\n"},
        {{"-intel32", "-range", "0", "0"}, "Bad size on -range option\r\n"},
        {{"-intel32", "-range", "0xFFFFFF00", "0x101"}, "Bad size on -range option\r\n"},
        {{"-intel32", "-range", "1x", "4"}, "Bad number on -range option\r\n"},
        {{"-intel32", "-crc", "md5", "0"}, "Bad kind on -crc option, use " + all_kinds + "\r\n"},
        {{"-intel32", "-crc", "crc32"}, "No argument on -crc option\r\n"},
        {{"-intel32", "-crcrange", "0", "4"}, "Option -crcrange needs -crc\r\n"},
        {{"-intel32", "-raw"}, "Duplicate formats, -intel32 & -raw\r\n"},
        {{"-intel32", "-range", "0x1000", "0x100"},
         "Nothing of app.elf lies in the range 0x1000 to 0x10FF of -range\r\n"},
        {{"-intel32", "-crc", "crc32", "0x08000808"},
         "The CRC range 0x8000000 to 0x8000807 of app.elf has no data at 0x800005C; fill the gaps "
         "with -fill\r\n"},
        {{"-intel32", "-crc", "crc32", "0x08000004", "-crcrange", "0x08000000", "0x10"},
         "The CRC field at 0x8000004 lies inside the range it covers, 0x8000000 to 0x800000F\r\n"},
        {{"-intel32", "-crc", "stm32", "0x08000100", "-crcrange", "0x08000002", "0x10"},
         "The stm32 CRC range 0x8000002 to 0x8000011 must start and end on a multiple of 4\r\n"},
        {{"-intel32", "-crc", "crc32", "0x100"},
         "The CRC field at 0x100 lies below app.elf, which starts at 0x8000000; give -crcrange lo size\r\n"},
        {{"-intel32", "-crc", "crc32", "0x08000000"},
         "The CRC field at 0x8000000 is the lowest address of app.elf: nothing to cover; give "
         "-crcrange lo size\r\n"},
        {{"-intel32", "-crc", "crc32", "0xFFFFFFFE", "-crcrange", "0x08000000", "4"},
         "The CRC field at 0xFFFFFFFE runs past 4 GiB\r\n"},
        {{"-mds", "-base", "0xFF00", "-fill", "0xFF", "-range", "0xFF00", "0x100"},
         "Base and/or size too big for this format, max = 0xFFFF\r\n"},
        // A typo'd address lands on code: only a placeholder or a symbol's bytes are replaced.
        {{"-intel32", "-crc", "crc32", "0x08000010", "-crcrange", "0x08000800", "8"},
         "The CRC field at 0x8000010 holds data of .text of app.elf; give a free address, a "
         "placeholder or @symbol\r\n"},
        {{"-intel32", "-fill", "0", "-crc", "crc32", "0x08000058", "-crcrange", "0x08000800", "8"},
         "The CRC field at 0x8000058 holds data of .data of app.elf; give a free address, a "
         "placeholder or @symbol\r\n"},
        {{"-intel32", "-fill", "0xA5", "-range", "0x08000000", "0x1000", "-crc", "crc32",
          "0x08000806", "-crcrange", "0x08000000", "0x10"},  // 00 00 of .config, A5 A5 of fill
         "The CRC field at 0x8000806 holds data of .config of app.elf; give a free address, a "
         "placeholder or @symbol\r\n"},
        {{"-raw", "-range", "0x08000000", "0x1000", "-crc", "crc32", "0x08001000"},
         "The CRC field at 0x8001000, 4 bytes, does not lie inside the range 0x8000000 to "
         "0x8000FFF of -range\r\n"},
        {{"-intel32", "-range", "0x08000000", "0x1000", "-crc", "crc32", "0x08000FFE",
          "-crcrange", "0x08000800", "8"},
         "The CRC field at 0x8000FFE, 4 bytes, does not lie inside the range 0x8000000 to "
         "0x8000FFF of -range\r\n"},
        {{"-intel32", "-fill", "0xFF", "-range", "0x08000000", "0x1000", "-crc", "crc32",
          "0x08000FFC", "-crc", "crc16", "0x08000FF0"},
         "The crc32 over 0x8000000 to 0x8000FFB covers the field of crc16 at 0x8000FF0, which is "
         "computed after it; give the -crc of that field first\r\n"},
        {{"-intel32", "-fill", "0xFF", "-range", "0x08000000", "0x1000", "-crc", "crc16",
          "0x08000FF0", "-crcrange", "0x08000000", "0x10", "-crc", "crc32", "0x08000FEE",
          "-crcrange", "0x08000000", "0x10"},
         "The crc32 field at 0x8000FEE overlaps the crc16 field at 0x8000FF0\r\n"},
        {{"-intel32", "-crc", "crc:0:7:0:false:false:0", "0"},
         "Bad kind on -crc option: WIDTH 0 is not 1 to 64\r\n"},
        {{"-intel32", "-crc", "crc:65:7:0:false:false:0", "0"},
         "Bad kind on -crc option: WIDTH 65 is not 1 to 64\r\n"},
        {{"-intel32", "-crc", "crc:8:0x107:0:false:false:0", "0"},
         "Bad kind on -crc option: POLY 0x107 is wider than 8 bits\r\n"},
        {{"-intel32", "-crc", "crc:8:7:0:yes:false:0", "0"},
         "Bad kind on -crc option: REFIN yes is not true or false\r\n"},
        {{"-intel32", "-crc", "crc:8:7:0:true:false", "0"},
         "Bad kind on -crc option: a CRC model has 6 fields, WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT, not 5\r\n"},
        {{"-intel32", "-crc", "sha256/be", "0"},
         "Bad kind on -crc option: sha256 is stored in digest order, never big-endian\r\n"},
        {{"-intel32", "-verify"}, "Option -verify needs -crc\r\n"},
    };
    th::write_file(path("old.hex"), "old\n");
    for (const row& r : rows) {
        for (const char* out : {"new.hex", "old.hex"}) {
            SCOPED_TRACE(r.out + out);
            std::vector<std::string> args{"app.elf", out};
            args.insert(args.end(), r.args.begin(), r.args.end());
            auto run = zorbin(args);
            EXPECT_EQ(run.out, r.out);
            EXPECT_EQ(run.status, 1);
        }
        EXPECT_FALSE(fs::exists(path("new.hex")));
        EXPECT_EQ(th::read_file(path("old.hex")), "old\n");
    }
    // An AIF image with a chain writes one file per segment: these options need one image.
    fs::copy_file(th::sample("app.aif"), path("app.aif"));
    auto chain = zorbin({"-intel32", "-fill", "0", "app.aif"});
    EXPECT_EQ(chain.out, "Options -range, -fill, -crc and -raw need one image: app.aif has a chain "
                         "of segments, each written to a file of its own\r\n");
    EXPECT_EQ(chain.status, 1);
    EXPECT_FALSE(fs::exists(path("ROOT.hex")));
}

// The checksums bit by bit, as their definitions read, against the table and folding code fed
// the same bytes in pieces of every size, so a piece ending inside a word or a 64-byte fold
// is covered.
enum class crc_kind { crc32, crc32be, stm32, crc16 };

struct crc_row {
    std::string_view word;
    crc_kind kind;
};

constexpr crc_row crc_kinds[]{{"crc32", crc_kind::crc32},
                              {"crc32be", crc_kind::crc32be},
                              {"stm32", crc_kind::stm32},
                              {"crc16", crc_kind::crc16}};

std::uint32_t bitwise(crc_kind k, const std::vector<unsigned char>& d)
{
    std::uint32_t c = k == crc_kind::crc16 ? 0 : 0xFFFFFFFF;
    auto msb_first = [&](std::uint32_t byte, int width, std::uint32_t poly) {
        const std::uint32_t top = 1u << (width - 1);
        c ^= byte << (width - 8);
        for (int b = 0; b < 8; ++b)
            c = (c & top ? (c << 1) ^ poly : c << 1) & (width == 32 ? 0xFFFFFFFF : 0xFFFF);
    };
    for (std::size_t i = 0; i < d.size(); ++i) {
        switch (k) {
        case crc_kind::crc32:
        case crc_kind::crc32be:
            c ^= d[i];
            for (int b = 0; b < 8; ++b)
                c = c & 1 ? (c >> 1) ^ 0xEDB88320 : c >> 1;
            break;
        case crc_kind::crc16:
            msb_first(d[i], 16, 0x1021);
            break;
        case crc_kind::stm32:  // each little-endian word, its top byte first
            msb_first(d[i - i % 4 + 3 - i % 4], 32, 0x04C11DB7);
            break;
        }
    }
    return k == crc_kind::crc32 || k == crc_kind::crc32be ? ~c : c;
}

TEST(zorbin_crc, pieces_of_any_size_give_the_checksum_of_the_whole)
{
    std::mt19937 rng(20261209);
    std::vector<unsigned char> d(70000);
    for (auto& b : d)
        b = static_cast<unsigned char>(rng());
    for (const crc_row& row : crc_kinds) {
        const std::uint32_t want = bitwise(row.kind, d);
        for (std::size_t piece : {1u, 3u, 4u, 17u, 64u, 255u, 256u, 1000u, 4096u, 70000u}) {
            SCOPED_TRACE(std::string(row.word) + " in pieces of " + std::to_string(piece));
            zb::checksum_state s = zb::checksum_start(zb::parse_kind(row.word).kind);
            for (std::size_t at = 0; at < d.size(); at += piece)
                zb::checksum_add(s, std::span(d).subspan(at, std::min(piece, d.size() - at)));
            EXPECT_EQ(zb::checksum_final(s).number, want);
        }
    }
}

}  // namespace
