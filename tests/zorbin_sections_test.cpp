// zorbin -only and -remove: the wildcards against the C library's fnmatch, the image of real
// links against arm-none-eabi-objcopy -j and -R with the same patterns (several .text*
// sections, .noinit, a debug section, RAM sections stored in flash, a calibration block of its
// own), what -info says each pattern did, and the inputs and patterns that are refused.
#include "harness.h"
#include "read/select.h"

#include <fnmatch.h>

#include <optional>

namespace {

namespace fs = std::filesystem;

// Each row is a pattern and a name: glob_match says what fnmatch(pattern, name, 0) says, the
// matching objcopy's -j and -R do.
TEST(zorbin_sections, wildcards_match_as_fnmatch_does)
{
    const std::pair<const char*, const char*> rows[] = {
        {".text*", ".text"},
        {".text*", ".text.startup"},
        {".text*", ".tex"},
        {".text.*", ".text"},
        {"*", ""},
        {"*", ".data"},
        {"?", ""},
        {"?", "a"},
        {".t?xt", ".text"},
        {".t?xt", ".txt"},
        {".[dr]*", ".data"},
        {".[dr]*", ".rodata"},
        {".[dr]*", ".bss"},
        {".[!d]*", ".data"},
        {".[!d]*", ".bss"},
        {".[^d]*", ".bss"},
        {"[a-c]x", "bx"},
        {"[a-c]x", "dx"},
        {"[a-]", "-"},
        {"[z-a]", "m"},
        {"[]a]", "]"},
        {"[!]a]", "b"},
        {"[!]a]", "]"},
        {"\\*", "*"},
        {"\\*", "a"},
        {"\\.text", ".text"},
        {"*a*b*", "xaxxbx"},
        {"*a*b", "ab b"},
        {"*a*b", "abba"},
        {"a*", "a"},
        {"[", "["},
        {"[abc", "[abc"},
        {"[abc", "a"},
        {".debug*", ".debug_info"},
        {"*.noinit", ".noinit"},
        {"**", "abc"},
        {"*?*", ""},
        {"*?*", "x"},
        {"*[x]", "abx"},
        {"*x*x", "xx"},
        {"*x*x", "x"},
        {"[.]text", ".text"},
        {".ARM.*", ".ARM.exidx"},
        {"*.*.*", ".text.hot"},
        {"*.*.*", ".text"},
    };
    for (const auto& [p, n] : rows)
        EXPECT_EQ(zb::glob_match(p, n), fnmatch(p, n, 0) == 0) << p << " on " << n;
}

constexpr const char* fw_source = R"(
    .syntax unified
    .thumb
    .section .vectors, "a"
    .word _stack_top
    .word reset + 1
    .section .text, "ax", %progbits
    .global reset
    .type reset, %function
    .thumb_func
reset:
    movs r0, #1
    b reset
    .size reset, . - reset
    .section .text.hot, "ax", %progbits
    .fill 40, 1, 0x11
    .section .text.cold, "ax", %progbits
    .fill 24, 1, 0x22
    .section .text.startup, "ax", %progbits
    .fill 12, 1, 0x33
    .section .rodata, "a"
    .fill 30, 1, 0x44
    .section .data, "aw"
    .fill 20, 1, 0x55
    .section .ramfunc, "ax", %progbits
    .fill 16, 1, 0x66
    .section .noinit, "aw", %nobits
    .space 64
    .section .calib, "a"
    .fill 8, 1, 0x77
    .section .debug_info, "", %progbits
    .fill 32, 1, 0x88
)";

constexpr const char* fw_script = R"(
ENTRY(reset)
MEMORY { FLASH : ORIGIN = 0x08000000, LENGTH = 256K
         RAM : ORIGIN = 0x20000000, LENGTH = 64K
         CAL : ORIGIN = 0x0803F000, LENGTH = 4K }
SECTIONS {
  .vectors : { KEEP(*(.vectors)) } > FLASH
  .text : { *(.text) } > FLASH
  .text.hot : { *(.text.hot) } > FLASH
  .text.cold : { *(.text.cold) } > FLASH
  .text.startup : { *(.text.startup) } > FLASH
  .rodata : { *(.rodata) } > FLASH
  .data : { *(.data) } > RAM AT> FLASH
  .ramfunc : { *(.ramfunc) } > RAM AT> FLASH
  .noinit (NOLOAD) : { *(.noinit) } > RAM
  .calib : { KEEP(*(.calib)) } > CAL
  .calib2 0x0803F000 : AT(0x0803F000) { KEEP(*(.calib2)) }
  .debug_info 0 : { *(.debug_info) }
  _stack_top = ORIGIN(RAM) + LENGTH(RAM);
}
)";

class zorbin_sections_tools : public th::tmpdir {
protected:
    void SetUp() override
    {
        th::tmpdir::SetUp();
        for (const char* t : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy"})
            if (!th::have_tool(t))
                return;
        tools = true;
    }
    th::result tool(const std::vector<std::string>& argv)
    {
        return th::run_argv(th::which(argv[0]), argv, in_dir());
    }
    th::result zorbin(const std::vector<std::string>& args)
    {
        return th::run("zorbin", args, in_dir());
    }
    // name.elf from the source and the script, with more assembled in (a section of its own).
    void link(const std::string& name, const std::string& more, std::vector<std::string> ld_flags)
    {
        th::write_file(path(name + ".s"), std::string(fw_source) + more);
        th::write_file(path(name + ".ld"), fw_script);
        std::vector<std::string> ld{"arm-none-eabi-ld", "-T",       name + ".ld", "-o",
                                    name + ".elf",      name + ".o"};
        ld.insert(ld.end(), ld_flags.begin(), ld_flags.end());
        for (const auto& cmd :
             {std::vector<std::string>{"arm-none-eabi-as", "-o", name + ".o", name + ".s"}, ld}) {
            const th::result r = tool(cmd);
            ASSERT_EQ(r.status, 0) << cmd[0] << ": " << r.err;
        }
    }
    bool tools = false;
};

struct choice {
    std::vector<std::string> only, remove;
};

std::vector<std::string> zorbin_words(const choice& c)
{
    std::vector<std::string> w;
    for (const auto& p : c.only)
        w.insert(w.end(), {"-only", p});
    for (const auto& p : c.remove)
        w.insert(w.end(), {"-remove", p});
    return w;
}

std::vector<std::string> objcopy_words(const choice& c)
{
    std::vector<std::string> w;
    for (const auto& p : c.only)
        w.insert(w.end(), {"-j", p});
    for (const auto& p : c.remove)
        w.insert(w.end(), {"-R", p});
    return w;
}

// Each row is a choice of sections: zorbin's S-records of the link hold what objcopy's do
// with -j and -R for the same patterns, address for address and the entry point, as srec_cmp
// and zorbin's own -cmp say. A section that both an -only and a -remove match is left out,
// where objcopy refuses the command: those rows give objcopy the patterns that mean it.
TEST_F(zorbin_sections_tools, the_image_is_objcopys_with_the_same_patterns)
{
    REQUIRE_THAT(tools, "the ARM binutils are not installed");
    REQUIRE_TOOL("srec_cmp");
    link("fw", "", {});
    struct row {
        choice ours;
        std::optional<choice> theirs;  // none: the same patterns
    };
    const row rows[] = {
        {{{".text*"}, {}}, {}},
        {{{".text", ".data"}, {}}, {}},
        {{{}, {".text.c*"}}, {}},
        {{{}, {".debug*", ".noinit"}}, {}},
        {{{".[tr]*"}, {}}, {}},
        {{{".text.?ot"}, {}}, {}},
        {{{}, {".calib"}}, {}},
        {{{}, {".data", ".ramfunc"}}, {}},
        {{{".vectors", ".text.*", ".calib"}, {}}, {}},
        {{{"*"}, {".data"}}, choice{{}, {".data"}}},
        {{{".vectors", ".text*"}, {".text"}}, choice{{".vectors", ".text.*"}, {}}},
        {{{".[!t]*"}, {".r*"}}, choice{{}, {".t*", ".r*"}}},
    };
    for (const row& r : rows) {
        const choice& c = r.ours;
        std::vector<std::string> z = zorbin_words(c),
                                 o{"arm-none-eabi-objcopy", "-O", "srec", "--srec-forceS3"};
        SCOPED_TRACE(testing::Message() << testing::PrintToString(z));
        const std::vector<std::string> oc = objcopy_words(r.theirs.value_or(c));
        o.insert(o.end(), oc.begin(), oc.end());
        o.insert(o.end(), {"fw.elf", "objcopy.s3"});
        z.insert(z.end(), {"-motorola32", "fw.elf", "zorbin.s3"});
        const th::result zr = zorbin(z);
        ASSERT_EQ(zr.status, 0) << zr.out;
        const th::result orr = tool(o);
        ASSERT_EQ(orr.status, 0) << orr.err;
        const th::result cmp = tool({"srec_cmp", "zorbin.s3", "objcopy.s3"});
        EXPECT_EQ(cmp.status, 0) << cmp.err;
        std::vector<std::string> again = zorbin_words(c);
        again.insert(again.end(), {"fw.elf", "-cmp", "objcopy.s3"});
        const th::result self = zorbin(again);
        EXPECT_EQ(self.status, 0) << self.out;
    }
    // Without the choice the image differs from each of those: the rows chose something.
    EXPECT_EQ(zorbin({"fw.elf", "-cmp", "objcopy.s3"}).status, 1);
}

// A section left out is never placed: two sections at one load address are refused as they
// overlap, and with either left out the other is written, as objcopy writes it.
TEST_F(zorbin_sections_tools, a_section_left_out_cannot_overlap)
{
    REQUIRE_THAT(tools, "the ARM binutils are not installed");
    REQUIRE_TOOL("srec_cmp");
    link("twice", "    .section .calib2, \"a\"\n    .fill 8, 1, 0x99\n", {"--no-check-sections"});
    const th::result both = zorbin({"-motorola32", "twice.elf", "out.s3"});
    EXPECT_EQ(both.status, 1);
    EXPECT_NE(both.out.find("overlap at load address 0x803F000"), std::string::npos) << both.out;
    for (const char* dropped : {".calib", ".calib2"}) {
        SCOPED_TRACE(dropped);
        ASSERT_EQ(zorbin({"-motorola32", "-remove", dropped, "twice.elf", "out.s3"}).status, 0);
        ASSERT_EQ(tool({"arm-none-eabi-objcopy", "-O", "srec", "--srec-forceS3", "-R", dropped,
                        "twice.elf", "objcopy.s3"})
                      .status,
                  0);
        EXPECT_EQ(tool({"srec_cmp", "out.s3", "objcopy.s3"}).status, 0);
    }
}

// -info ends with one line per pattern: what it kept or dropped, and what it matched that
// holds no bytes for the image.
TEST_F(zorbin_sections_tools, info_tells_what_each_pattern_did)
{
    REQUIRE_THAT(tools, "the ARM binutils are not installed");
    link("fw", "", {});
    const th::result r = zorbin({"-info", "-only", ".text*", "-only", ".[dn]*", "-remove",
                                 ".text.c*", "-remove", ".debug*", "fw.elf"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.out.ends_with(th::lines({
        "-only .text*: keeps .text, .text.hot, .text.startup",
        "-only .[dn]*: keeps .data; no bytes for the image: .noinit, .debug_info",
        "-remove .text.c*: drops .text.cold",
        "-remove .debug*: drops nothing; no bytes for the image: .debug_info",
    }))) << r.out;
}

// What is refused, with its message and nothing written: a pattern that matches no section
// name, a choice that leaves nothing, an ELF file without section headers, any other input.
TEST_F(zorbin_sections_tools, patterns_that_match_nothing_and_other_inputs_are_refused)
{
    REQUIRE_THAT(tools, "the ARM binutils are not installed");
    link("fw", "", {});
    // Without section headers: e_shoff, e_shnum and e_shstrndx cleared.
    std::string elf = th::read_file(path("fw.elf"));
    for (std::size_t at : {0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33})
        elf[at] = '\0';
    th::write_file(path("nosh.elf"), elf);
    ASSERT_EQ(zorbin({"-intel32", "fw.elf", "fw.hex"}).status, 0);
    const std::string aif = th::sample("app.aif");
    struct row {
        std::vector<std::string> args;
        std::string says;
    };
    const row rows[] = {
        {{"-only", ".txet", "fw.elf"}, "No section of fw.elf matches -only .txet\r\n"},
        {{"-only", ".text", "-remove", ".dbg*", "fw.elf"},
         "No section of fw.elf matches -remove .dbg*\r\n"},
        {{"-only", ".noinit", "fw.elf"},
         "Options -only and -remove leave no section of fw.elf in the image\r\n"},
        {{"-only", "*", "-remove", "*", "fw.elf"},
         "Options -only and -remove leave no section of fw.elf in the image\r\n"},
        {{"-only", ".text", "nosh.elf"},
         "Options -only and -remove choose sections by name: nosh.elf has no section headers\r\n"},
        {{"-only", ".text", "fw.hex"},
         "Options -only and -remove choose sections of an ELF file: fw.hex is hex text\r\n"},
        {{"-remove", ".text", "-bin", "fw.elf"},
         "Options -only and -remove choose sections of an ELF file: fw.elf is a plain binary\r\n"},
        {{"-only", ".text", aif},
         "Options -only and -remove choose sections of an ELF file: " + aif +
             " is an AIF image\r\n"},
    };
    for (const row& r : rows) {
        std::vector<std::string> args{"-motorola32"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.push_back("out.s3");
        SCOPED_TRACE(testing::PrintToString(args));
        const th::result res = zorbin(args);
        EXPECT_EQ(res.status, 1);
        EXPECT_EQ(res.out, r.says);
        EXPECT_FALSE(fs::exists(path("out.s3")));
    }
    // Without the choice the file without section headers converts, by its segments.
    EXPECT_EQ(zorbin({"-motorola32", "nosh.elf", "out.s3"}).status, 0);
}

}  // namespace
