// zorbin's intel32 output booted by a real loader: the QEMU samples (samples/fw, samples/fwsum),
// built here, converted by zorbin and run on an emulated Cortex-M3 that checks its own image.
#include "harness.h"

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

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

// The self-checking sample (samples/fwsum), compiled here: zorbin stores its CRC (the STM32
// way) and its SHA-256 at the linker's symbols, over ranges the linker's symbols give. Booted
// as it is linked, with one byte of the image changed, or one of the digest, it says which
// check failed; zorbin's -verify of the same images agrees, with the fields' addresses as nm
// gives them.
TEST_F(zorbin_qemu, a_firmware_checks_its_own_crc_and_sha256)
{
    for (const char* t : {"arm-none-eabi-gcc", "arm-none-eabi-nm", "qemu-system-arm", "timeout"})
        REQUIRE_TOOL(t);
    ok_run({"arm-none-eabi-gcc", "-mcpu=cortex-m3", "-mthumb", "-O2", "-ffreestanding", "-nostdlib",
            "-fno-tree-loop-distribute-patterns", "-T", th::sample("fwsum/fwsum.ld"), "-o",
            "fwsum.elf", th::sample("fwsum/fwsum.c")});
    std::map<std::string, std::uint64_t> nm;  // each symbol as nm shows it
    std::istringstream listed(tool({"arm-none-eabi-nm", "fwsum.elf"}).out);
    for (std::string line; std::getline(listed, line);) {
        const auto w = th::words(line);
        if (w.size() == 3)
            nm[w[2]] = std::stoull(w[0], nullptr, 16);
    }
    for (const char* name : {"image_crc", "image_sha256", "__image_start", "__image_size", "__signed_size"})
        ASSERT_EQ(nm.count(name), 1u) << name;
    auto hex = [](std::uint64_t v, int digits) {
        char b[24];
        std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
        return std::string(b);
    };
    const std::vector<std::string> sums{"-crc", "stm32", "@image_crc", "-crcrange", "@__image_start",
                                        "@__image_size", "-crc", "sha256", "@image_sha256",
                                        "-crcrange", "@__image_start", "@__signed_size"};
    auto zorbin = [&](std::vector<std::string> args, bool with_sums) {
        if (with_sums)
            args.insert(args.end(), sums.begin(), sums.end());
        return th::run("zorbin", args, in_dir());
    };
    for (const auto& [args, with_sums] : std::vector<std::pair<std::vector<std::string>, bool>>{
             {{"-intel32", "fwsum.elf", "fwsum.hex"}, true},
             {{"-raw", "fwsum.elf", "fwsum.bin"}, true},
             {{"-intel32", "fwsum.elf", "linked.hex"}, false}}) {
        auto z = zorbin(args, with_sums);
        ASSERT_EQ(z.status, 0) << z.out << z.err;
    }
    auto info = zorbin({"-info", "fwsum.elf"}, true);
    for (const char* name : {"image_crc", "image_sha256", "__image_start", "__image_size", "__signed_size"})
        EXPECT_NE(info.out.find(std::string("\r\nsymbol ") + name + " = " + hex(nm[name], 8) + "\r\n"),
                  std::string::npos) << info.out;
    const std::string image = th::read_file(path("fwsum.bin"));
    ASSERT_EQ(image.size(), nm["image_sha256"] + 32);
    auto changed = [&](const std::string& name, std::uint64_t at) {
        std::string bytes = image;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        th::write_file(path(name + ".bin"), bytes);
        auto z = th::run("zorbin", {"-intel32", "-bin", name + ".bin", name + ".hex"}, in_dir());
        ASSERT_EQ(z.status, 0) << z.out;
    };
    changed("code", nm["__image_size"] / 2);
    changed("digest", nm["image_sha256"] + 5);

    const std::string ok_text = "fwsum: crc and sha256 check out\n";
    const std::string crc_wrong = "fwsum: crc wrong\n", sha_wrong = "fwsum: sha256 wrong\n";
    const boot_case boots[] = {
        {"intel32 with both fields", "fwsum.hex", false, ok_text, 0},
        {"the raw image with both fields", "fwsum.bin", false, ok_text, 0},
        {"as linked, placeholders in the fields", "linked.hex", false, crc_wrong, 1},
        {"one byte of the code changed", "code.hex", false, crc_wrong, 1},
        {"one byte of the digest changed", "digest.hex", false, sha_wrong, 2},
    };
    for (const boot_case& c : boots) {
        SCOPED_TRACE(c.what);
        const std::string file = std::string(c.file).ends_with(".bin") ? std::string(c.file) + ",addr=0" : c.file;
        auto r = boot(file, c.kernel);
        EXPECT_EQ(r.out, c.out) << r.err;
        EXPECT_EQ(r.status, c.status) << r.err;
    }

    // The read-back checked by numbers: the addresses and sizes nm gives.
    const std::vector<std::string> numbers{
        "-crc", "stm32", hex(nm["image_crc"], 0), "-crcrange", "0", hex(nm["__image_size"], 0),
        "-crc", "sha256", hex(nm["image_sha256"], 0), "-crcrange", "0", hex(nm["__signed_size"], 0)};
    auto verify = [&](const std::string& file) {
        std::vector<std::string> args{"-verify", "-bin", file};
        args.insert(args.end(), numbers.begin(), numbers.end());
        return th::run("zorbin", args, in_dir());
    };
    auto same = verify("fwsum.bin");
    EXPECT_EQ(same.out, "");
    EXPECT_EQ(same.status, 0);
    const std::regex line("(stm32|sha256) at (0x[0-9A-F]{8}): stored (\\S+), computed (\\S+)\r");
    for (const auto& [file, crc_equal] : {std::pair<std::string, bool>{"code.bin", false}, {"digest.bin", true}}) {
        SCOPED_TRACE(file);
        auto r = verify(file);
        EXPECT_EQ(r.status, 1);
        std::istringstream out(r.out);
        std::vector<std::smatch> got(2);
        std::vector<std::string> text(2);
        for (int k = 0; k < 2; ++k) {
            ASSERT_TRUE(std::getline(out, text[k]));
            ASSERT_TRUE(std::regex_match(text[k], got[k], line)) << text[k];
        }
        EXPECT_EQ(got[0][1], "stm32");
        EXPECT_EQ(got[0][2], hex(nm["image_crc"], 8));
        EXPECT_EQ(got[0][3] == got[0][4], crc_equal);
        EXPECT_EQ(got[1][1], "sha256");
        EXPECT_EQ(got[1][2], hex(nm["image_sha256"], 8));
        EXPECT_NE(got[1][3], got[1][4]);
    }
    // A field as wide as the symbol it is stored at, no wider.
    auto wide = zorbin({"-intel32", "fwsum.elf", "wide.hex", "-crc", "sha256", "@image_crc"}, false);
    EXPECT_EQ(wide.out, "The sha256 field at " + hex(nm["image_crc"], 0) +
                            " is 32 bytes, wider than the 4 bytes of image_crc\r\n");
    EXPECT_EQ(wide.status, 1);
    EXPECT_FALSE(std::filesystem::exists(path("wide.hex")));
}

}  // namespace
