// zorbin's entry point (end records, -base, -entry, the limits of each field), the -info
// report, and the kit's own flow: ELF, S-records, then kelvash's load-file header.
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using th::lines;

class zorbin_entry : public th::tmpdir {
protected:
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }
    void SetUp() override
    {
        th::tmpdir::SetUp();
        // samples/app.elf: flash from 0x08000000, e_entry 0x08000010.
        fs::copy_file(th::sample("app.elf"), path("app.elf"));
        fs::copy_file(th::sample("app.aif"), path("app.aif"));
        th::write_file(path("plain.bin"), "\x01\x02");
    }
};

// The end of each output: where the format has an address field in its end record, the
// entry point goes there; elsewhere the end record stays as it was.
TEST_F(zorbin_entry, end_records_carry_the_entry_point)
{
    struct row {
        const char* what;
        std::vector<std::string> args;
        std::string tail;         // the output's last lines
        std::uint64_t start = 0;  // srec_info's execution start address; 0: none shown
        const char* reader = "";  // srec_info's format option
    };
    const row rows[] = {
        {"motorola32: S7 with e_entry", {"-motorola32", "app.elf"}, lines({"S70508000010E2"}),
         0x08000010},
        {"intel32: start linear address record", {"-intel32", "app.elf"},
         lines({":0400000508000010DF", ":00000001FF"}), 0x08000010, "-intel"},
        {"exormacs: S8 with the moved entry", {"-exormacs", "-base", "0x1000", "app.elf"},
         lines({"S804001010DB"}), 0x1010},
        {"exorciser: S9 with the moved entry", {"-exorciser", "-base", "0x1000", "app.elf"},
         lines({"S9031010DC"}), 0x1010},
        {"-entry replaces e_entry after the move", {"-motorola32", "-base", "0", "-entry", "0x20", "app.elf"},
         lines({"S70500000020DA"}), 0x20},
        {"-entry 0 still writes the start record", {"-intel32", "-entry", "0", "app.elf"},
         lines({":0400000500000000F7", ":00000001FF"}), 0, "-intel"},
        {"-entry on a plain binary", {"-motorola32", "-bin", "-entry", "0x100", "plain.bin"},
         lines({"S70500000100F9"}), 0x100},
        {"-entry on an AIF root", {"-motorola32", "-entry", "0xABCD", "app.aif", "root.hex"}, "", 0},
        {"a plain binary without -entry: as before", {"-intel32", "-bin", "plain.bin"},
         lines({":00000001FF"})},
        {"-entry 0 on exormacs: S8 all the same", {"-exormacs", "-entry", "0", "-bin", "plain.bin"},
         lines({"S804000000FB"})},
        {"exormacs without an entry point: S9 as before", {"-exormacs", "-bin", "plain.bin"},
         lines({"S9030000FC"})},
        {"a format without a field ignores it", {"-mds", "-base", "0", "app.elf"},
         lines({":00000001FF"})},
        {"mostech keeps its record count", {"-mostech", "-base", "0", "app.elf"},
         lines({";0000070007"})},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        auto z = zorbin(r.args);
        ASSERT_EQ(z.status, 0) << z.out << z.err;
        if (r.tail.empty())
            continue;
        ASSERT_GE(z.out.size(), r.tail.size());
        EXPECT_EQ(z.out.substr(z.out.size() - r.tail.size()), r.tail);
        if (r.start == 0 || !th::have_tool("srec_info"))
            continue;
        th::write_file(path("out.hex"), z.out);
        std::vector<std::string> info{th::which("srec_info"), "out.hex"};
        if (*r.reader)
            info.push_back(r.reader);
        auto i = th::run_argv(info[0], info, in_dir());
        char want[64];
        std::snprintf(want, sizeof want, "Execution Start Address: %08llX",
                      static_cast<unsigned long long>(r.start));
        EXPECT_NE(i.out.find(want), std::string::npos) << i.out << i.err;
    }
    // The AIF chain: the root's file carries -entry, the further segments' files do not.
    EXPECT_TRUE(th::read_file(path("root.hex")).ends_with("S7050000ABCD82\r\n"));
    EXPECT_TRUE(th::read_file(path("VECTORS.hex")).ends_with("S70500000000FA\r\n"));
}

// The data's limit comes first: an entry point moved out of its field along with data moved
// out of the format's range is named by the data's message, as every input is that does not fit.
TEST_F(zorbin_entry, an_entry_point_past_its_field_writes_nothing)
{
    struct row {
        std::vector<std::string> args;
        std::string out;
    };
    const std::string max32 = "Base and/or size too big for this format, max = 0xFFFFFFFF\r\n";
    const std::string max16 = "Base and/or size too big for this format, max = 0xFFFF\r\n";
    const row rows[] = {
        {{"-motorola32", "-base", "0xFFFFFFF0", "app.elf", "out.hex"}, max32},  // entry 0x100000000
        {{"-intel32", "-base", "0xFFFFFFF0", "app.elf", "out.hex"}, max32},
        {{"-exorciser", "-base", "0xFFF0", "app.elf", "out.hex"}, max16},  // entry 0x10000
        {{"-exorciser", "-base", "0xFFFF", "-entry", "0x10000", "-bin", "plain.bin", "out.hex"},
         max16},
        {{"-exorciser", "-base", "0xFFF0", "-entry", "0x10000", "app.aif", "out.hex"}, max16},
        {{"-exorciser", "-entry", "0x10000", "-bin", "plain.bin", "out.hex"},
         "Entry point 0x10000 too big for the end record of -exorciser, max = 0xFFFF\r\n"},
        {{"-exorciser", "-base", "0", "-entry", "0x10000", "app.elf", "out.hex"},
         "Entry point 0x10000 too big for the end record of -exorciser, max = 0xFFFF\r\n"},
        {{"-exormacs", "-base", "0", "app.elf", "out.hex"},  // e_entry moved to 0x10
         ""},
        {{"-exormacs", "-entry", "0x1000000", "-base", "0", "app.elf", "out.hex"},
         "Entry point 0x1000000 too big for the end record of -exormacs, max = 0xFFFFFF\r\n"},
        {{"-entry"}, "No argument on -entry option\r\n"},
        {{"-motorola32", "-entry", "12a", "app.elf"}, "Bad number on -entry option\r\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args[0] + " " + r.args.back());
        fs::remove(path("out.hex"));
        auto z = zorbin(r.args);
        if (r.out.empty()) {
            EXPECT_EQ(z.status, 0);
            EXPECT_TRUE(th::read_file(path("out.hex")).ends_with("S804000010EB\r\n"));
            continue;
        }
        EXPECT_EQ(z.out, r.out);
        EXPECT_EQ(z.status, 1);
        EXPECT_FALSE(fs::exists(path("out.hex")));
    }
}

// The kit's flow: the entry point the linker set reaches the load file's header through the
// S-records, with no -e by hand.
TEST_F(zorbin_entry, kelvash_takes_the_entry_point_from_zorbins_records)
{
    ASSERT_EQ(zorbin({"-motorola32", "app.elf", "app.srec"}).status, 0);
    auto k = th::run("kelvash", {"-a", "-o", "app.ld", "app.srec"}, in_dir());
    ASSERT_EQ(k.status, 0) << k.err;
    // The entry point field: eight digits at offset 49, after the start-mode flags.
    EXPECT_EQ(th::read_file(path("app.ld")).substr(49, 8), "08000010");
    k = th::run("kelvash", {"-a", "-e", "0", "-o", "zero.ld", "app.srec"}, in_dir());
    ASSERT_EQ(k.status, 0) << k.err;
    EXPECT_EQ(th::read_file(path("zero.ld")).substr(49, 8), "00000000");
}

TEST_F(zorbin_entry, info_reports_the_decisions_and_writes_nothing)
{
    struct row {
        std::vector<std::string> args;
        std::string out;
    };
    const row rows[] = {
        {{"-info", "app.elf", "out.hex"},
         lines({"app.elf: ELF32 little-endian, entry point 0x08000010",
                "block  first       last        bytes",
                "    1  0x08000000  0x0800005B     92",
                "    2  0x08000800  0x08000807      8",
                "piece     run         load        offset      bytes  placed by",
                ".vectors  0x08000000  0x08000000  0x00001000     16  segment 0",
                ".text     0x08000010  0x08000010  0x00001010     44  segment 0",
                ".rodata   0x0800003C  0x0800003C  0x0000103C     24  segment 0",
                ".data     0x20000000  0x08000054  0x00002000      8  segment 1",
                ".config   0x08000800  0x08000800  0x00002800      8  segment 2"})},
        {{"-INFO", "-intel32", "-base", "0x100", "app.elf"},
         lines({"app.elf: ELF32 little-endian, entry point 0x00000110",
                "block  first       last        bytes",
                "    1  0x00000100  0x0000015B     92",
                "    2  0x00000900  0x00000907      8",
                "piece     run         load        offset      bytes  placed by",
                ".vectors  0x08000000  0x00000100  0x00001000     16  segment 0",
                ".text     0x08000010  0x00000110  0x00001010     44  segment 0",
                ".rodata   0x0800003C  0x0000013C  0x0000103C     24  segment 0",
                ".data     0x20000000  0x00000154  0x00002000      8  segment 1",
                ".config   0x08000800  0x00000900  0x00002800      8  segment 2"})},
        {{"-info", "app.aif"},
         lines({"app.aif: AIF image, entry point none",
                "block  first       last        bytes",
                "    1  0x00008000  0x0000804F     80",
                "    2  0x00000000  0x0000001F     32",
                "    3  0x00020000  0x00020017     24",
                "piece     run         load        offset      bytes  placed by",
                "ROOT      0x00008000  0x00008000  0x00000080     80  image base, to ROOT.hex",
                "VECTORS   0x00000000  0x00000000  0x000000FC     32  segment header at 0xD0, to VECTORS.hex",
                "CALTABLE  0x00020000  0x00020000  0x00000148     24  segment header at 0x11C, to CALTABLE.hex"})},
        {{"-info", "-bin", "-entry", "4", "plain.bin"},
         lines({"plain.bin: plain binary, entry point 0x00000004",
                "block  first       last        bytes",
                "    1  0x00000000  0x00000001      2",
                "piece  run         load        offset      bytes  placed by",
                "file   0x00000000  0x00000000  0x00000000      2  plain binary at 0"})},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args.back());
        auto z = zorbin(r.args);
        EXPECT_EQ(z.out, r.out);
        EXPECT_EQ(z.err, "");
        EXPECT_EQ(z.status, 0);
    }
    EXPECT_FALSE(fs::exists(path("out.hex")));
    EXPECT_FALSE(fs::exists(path("ROOT.hex")));
}

}  // namespace
