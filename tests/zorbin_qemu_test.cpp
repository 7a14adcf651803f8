// zorbin's intel32 output booted by a real loader: the QEMU sample (samples/fw), assembled and
// linked here, converted by zorbin and run on an emulated Cortex-M3 that checks its own image;
// and a board image: the sample's boot loader and application joined into one UF2 file.
#include "harness.h"

namespace {

const std::string ok = "fw: table sum and .data check out\n";
const std::string table_wrong = "fw: table sum wrong\n";
const std::string data_wrong = "fw: .data wrong\n";

class zorbin_qemu : public th::tmpdir {
protected:
    th::result tool(const std::vector<std::string>& argv)
    {
        return th::run_argv(th::which(argv[0]), argv, in_dir());
    }

    void ok_run(const std::vector<std::string>& argv)
    {
        auto r = tool(argv);
        ASSERT_EQ(r.status, 0) << argv[0] << ": " << r.err;
    }

    // QEMU with nothing but the program, its semihosting output on standard output, and a
    // time limit so that a program that never exits fails the test rather than stopping it.
    th::result boot(const std::string& file, bool kernel)
    {
        std::vector<std::string> argv{"timeout", "20", "qemu-system-arm", "-M", "lm3s6965evb",
                                      "-nographic", "-monitor", "none", "-serial", "none",
                                      "-chardev", "stdio,id=semi", "-semihosting-config",
                                      "enable=on,target=native,chardev=semi"};
        if (kernel)
            argv.insert(argv.end(), {"-kernel", file});
        else
            argv.insert(argv.end(), {"-device", "loader,file=" + file});
        return tool(argv);
    }
};

// Each input, as the test makes it; the bad ones place bytes where the program finds them wrong.
struct boot_case {
    const char* what;
    const char* file;
    bool kernel;  // -kernel FILE, else the generic loader alone (-device loader,file=FILE)
    const std::string& out;
    int status;
};

// QEMU's generic loader takes ELF, U-Boot images and Intel hex; any other file it copies raw
// to address 0, so zorbin's S-records (motorola32) have no row: booted that way they lock up.
const boot_case cases[] = {
    {"intel32 of the program", "fw.hex", false, ok, 0},
    {"the program's ELF itself", "fw.elf", true, ok, 0},
    {"intel32 of the bundled fw.elf", "bundled.hex", false, ok, 0},
    {"intel32, .data stored at its run address instead of flash", "data-at-ram.hex", false,
     data_wrong, 2},
    {"ELF, .data stored at its run address instead of flash", "data-at-ram.elf", true,
     data_wrong, 2},
    {"intel32, one word of the flash table changed", "table-changed.hex", false, table_wrong, 1},
};

TEST_F(zorbin_qemu, intel32_output_boots_as_the_elf_does)
{
    for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy",
                          "qemu-system-arm", "timeout"})
        REQUIRE_TOOL(t);
    ok_run({"arm-none-eabi-as", "-o", "fw.o", th::sample("fw/fw.s")});
    ok_run({"arm-none-eabi-ld", "-T", th::sample("fw/fw.ld"), "-o", "fw.elf", "fw.o"});
    std::filesystem::copy_file(th::sample("fw/fw.elf"), path("bundled.elf"));
    // The classic misplacement: .data's initial values at its RAM address, where the start-up
    // copy does not look.
    ok_run({"arm-none-eabi-objcopy", "--change-section-lma", ".data=0x20000000", "fw.elf",
            "data-at-ram.elf"});
    std::string elf = th::read_file(path("fw.elf"));
    const std::size_t word = elf.find("\x67\x45\x23\x01");  // the table's first word
    ASSERT_NE(word, std::string::npos);
    elf[word] ^= 1;
    th::write_file(path("table-changed.elf"), elf);
    for (const char* name : {"fw", "bundled", "data-at-ram", "table-changed"}) {
        const std::string n = name;
        auto z = th::run("zorbin", {"-intel32", n + ".elf", n + ".hex"}, in_dir());
        ASSERT_EQ(z.status, 0) << n << ": " << z.out << z.err;
    }
    for (const boot_case& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = boot(c.file, c.kernel);
        EXPECT_EQ(r.out, c.out) << r.err;
        EXPECT_EQ(r.status, c.status) << r.err;
    }
}

}  // namespace

namespace {

// A board image end to end: the sample's boot loader (samples/fw/boot.s, at 0) and its
// application linked at 0x10000 joined into one UF2 file for a family, read back, and booted
// under QEMU from the Intel hex zorbin makes of that UF2: the application's own checks pass
// only when every byte of both came through. A changed word of the application's table in
// the UF2 file shows that the bytes booted are the file's.
TEST_F(zorbin_qemu, boot_loader_and_application_in_one_uf2_boot)
{
    for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "qemu-system-arm", "timeout"})
        REQUIRE_TOOL(t);
    ok_run({"arm-none-eabi-as", "-o", "boot.o", th::sample("fw/boot.s")});
    ok_run({"arm-none-eabi-ld", "-Ttext=0", "-e", "reset", "-o", "boot.elf", "boot.o"});
    // fw.ld with flash from 0x10000, its table again across a 64 KiB boundary.
    std::string script = th::read_file(th::sample("fw/fw.ld"));
    for (auto [from, to] : {std::pair<std::string, std::string>{"ORIGIN = 0x00000000, LENGTH = 256K",
                                                                "ORIGIN = 0x00010000, LENGTH = 192K"},
                            {".rodata 0xFFF0", ".rodata 0x1FFF0"}}) {
        const std::size_t at = script.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        script.replace(at, from.size(), to);
    }
    th::write_file(path("app.ld"), script);
    ok_run({"arm-none-eabi-as", "-o", "fw.o", th::sample("fw/fw.s")});
    ok_run({"arm-none-eabi-ld", "-T", "app.ld", "-o", "app.elf", "fw.o"});

    auto u = th::run("zorbin", {"-uf2", "-family", "stm32f1", "boot.elf", "-add", "app.elf",
                                "board.uf2"}, in_dir());
    ASSERT_EQ(u.status, 0) << u.out << u.err;
    auto info = th::run("zorbin", {"-info", "board.uf2"}, in_dir());
    EXPECT_TRUE(info.out.starts_with("board.uf2: UF2, family stm32f1 (0x5EE21072), ")) << info.out;
    std::string uf2 = th::read_file(path("board.uf2"));
    const std::size_t word = uf2.find("\x67\x45\x23\x01");  // the table's first word
    ASSERT_NE(word, std::string::npos);
    uf2[word] ^= 1;
    th::write_file(path("changed.uf2"), uf2);
    for (const char* name : {"board", "changed"}) {
        const std::string n = name;
        auto z = th::run("zorbin", {"-intel32", n + ".uf2", n + ".hex"}, in_dir());
        ASSERT_EQ(z.status, 0) << n << ": " << z.out << z.err;
    }
    const boot_case boards[] = {
        {"boot loader and application from one UF2", "board.hex", false, ok, 0},
        {"the same, one word of the table changed in the UF2", "changed.hex", false, table_wrong, 1},
    };
    for (const boot_case& c : boards) {
        SCOPED_TRACE(c.what);
        auto r = boot(c.file, c.kernel);
        EXPECT_EQ(r.out, c.out) << r.err;
        EXPECT_EQ(r.status, c.status) << r.err;
    }
}

}  // namespace
