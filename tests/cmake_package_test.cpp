// The CMake package as a firmware project meets it: the kit installed into a prefix of the
// test's own and then moved, find_package(fwkit) in a Cortex-M project built by
// arm-none-eabi-gcc with a toolchain file, the hex that fwkit_image makes booted in QEMU, made
// again exactly when the ELF is linked anew, and removed by clean; fwkit_image's arguments, as
// passed to zorbin and as refused; the package's versions and the programs it points to.
#include "formats/formats.h"
#include "harness.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const fs::path build_dir = fs::path(FWKIT_BIN_DIR).parent_path();
const fs::path fw_dir = fs::path(FWKIT_SOURCE_DIR) / "samples" / "fw";

std::size_t count(std::string_view text, std::string_view what)
{
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string_view::npos; at += what.size())
        n++;
    return n;
}

// The words of s, one blank between each two.
std::string joined(const std::string& s)
{
    std::string j;
    for (const auto& w : th::words(s))
        j += (j.empty() ? "" : " ") + w;
    return j;
}

// The QEMU sample's project: its CMakeLists.txt, sources and toolchain file.
const char* const fw_files[] = {"CMakeLists.txt", "fw.s", "fw.ld", "arm-none-eabi.cmake"};

const std::string booted = "fw: table sum and .data check out\n";

class cmake_package : public th::tmpdir {
protected:
    fs::path prefix;

    th::result cmake(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"cmake"};
        argv.insert(argv.end(), args.begin(), args.end());
        return th::run_argv(th::which("cmake"), argv, in_dir());
    }

    // This build installed into a prefix of the test's own, which is then moved: the package
    // must find the programs from where it lies. The install runs from a copy of the build,
    // which keeps the user's install_manifest.txt as it was.
    void install()
    {
        th::copy_build(build_dir, dir / "build-copy");
        auto r = cmake({"--install", (dir / "build-copy").string(), "--prefix", path("installed")});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        prefix = dir / "prefix";
        fs::rename(path("installed"), prefix);
    }

    // A project folder with the sample's files, CMakeLists.txt replaced when lists is given.
    fs::path project(const std::string& name, const std::string& lists = "")
    {
        const fs::path src = dir / name / "src";
        fs::create_directories(src);
        for (const char* f : fw_files)
            fs::copy_file(fw_dir / f, src / f);
        if (!lists.empty())
            th::write_file(src / "CMakeLists.txt", lists);
        return src;
    }

    // Configured as a firmware project: the toolchain file found beside CMakeLists.txt as the
    // guide names it, the kit's prefix, and an emulator for the target's programs, which a
    // toolchain may name and under which the kit's host programs must never run (it does not
    // exist: a step run under it fails).
    th::result configure(const fs::path& src, const std::string& generator)
    {
        std::vector<std::string> args{"-S", src.string(), "-B", (src.parent_path() / "b").string(),
                                      "-G", generator,
                                      "--toolchain", "arm-none-eabi.cmake",
                                      "-DCMAKE_PREFIX_PATH=" + prefix.string(),
                                      "-DCMAKE_CROSSCOMPILING_EMULATOR=" + path("no-such-emulator")};
        return cmake(args);
    }

    // A build of the project's tree; out holds both streams.
    th::result build(const fs::path& src, const std::string& target = "")
    {
        std::vector<std::string> args{"--build", (src.parent_path() / "b").string()};
        if (!target.empty())
            args.insert(args.end(), {"--target", target});
        auto r = cmake(args);
        r.out += r.err;
        return r;
    }

    // What zorbin itself writes for these arguments, run where fwkit_image runs it.
    std::string zorbin(const fs::path& cwd, const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"zorbin"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(path("reference"));
        th::options o;
        o.cwd = cwd.string();
        auto r = th::run_argv((prefix / "bin" / "zorbin").string(), argv, o);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return th::read_file(path("reference"));
    }

    th::result boot(const fs::path& hex)
    {
        return th::run_argv(th::which("timeout"),
                            {"timeout", "20", "qemu-system-arm", "-M", "lm3s6965evb", "-nographic",
                             "-monitor", "none", "-serial", "none", "-chardev", "stdio,id=semi",
                             "-semihosting-config", "enable=on,target=native,chardev=semi",
                             "-device", "loader,file=" + hex.string()},
                            in_dir());
    }
};

#define REQUIRE_FIRMWARE_TOOLS()                                                         \
    for (const char* t : {"cmake", "arm-none-eabi-gcc", "qemu-system-arm", "timeout"}) \
    REQUIRE_TOOL(t)

// One generator each: how its build says the step ran, and what its clean removes.
struct generator_row {
    const char* name;
    const char* tool;
};

const generator_row generators[] = {
    {"Ninja", "ninja"},
    {"Unix Makefiles", "make"},
};

// Every build prints the step's comment each time the step runs.
const std::string step = "fwkit_image: fw.hex from fw (zorbin -intel32)";

TEST_F(cmake_package, linux_only_firmware_hex_boots_and_follows_each_link)
{
    REQUIRE_FIRMWARE_TOOLS();
    for (const auto& g : generators)
        REQUIRE_TOOL(g.tool);
    ASSERT_NO_FATAL_FAILURE(install());
    for (const auto& g : generators) {
        SCOPED_TRACE(g.name);
        const fs::path src = project(g.tool);
        const fs::path elf = src.parent_path() / "b" / "fw.elf";
        const fs::path hex = src.parent_path() / "b" / "fw.hex";
        auto r = configure(src, g.name);
        ASSERT_EQ(r.status, 0) << r.out << r.err;

        r = build(src);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(count(r.out, step), 1u) << r.out;
        EXPECT_EQ(th::read_file(hex), zorbin(src, {"-intel32", elf.string()}));
        auto q = boot(hex);
        EXPECT_EQ(q.out, booted) << q.err;
        EXPECT_EQ(q.status, 0) << q.err;

        // Nothing changed: nothing runs, the file is left alone.
        const auto made = fs::last_write_time(hex);
        r = build(src);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(count(r.out, step), 0u) << r.out;
        EXPECT_EQ(fs::last_write_time(hex), made);

        // The source touched: linked anew, converted anew, though the bytes are the same.
        const std::string first = th::read_file(hex);
        fs::last_write_time(src / "fw.s", fs::file_time_type::clock::now());
        r = build(src);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(count(r.out, step), 1u) << r.out;
        EXPECT_GT(fs::last_write_time(hex), made);
        EXPECT_EQ(th::read_file(hex), first);

        // The source changed: one more word after the code, in the hex and still booting.
        th::write_file(src / "fw.s", th::read_file(src / "fw.s") + "    .text\n    .word 0x5AA5C33C\n");
        r = build(src);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(count(r.out, step), 1u) << r.out;
        const std::string second = th::read_file(hex);
        EXPECT_NE(second, first);
        EXPECT_NE(second.find("3CC3A55A"), std::string::npos) << second;
        EXPECT_EQ(second, zorbin(src, {"-intel32", elf.string()}));
        q = boot(hex);
        EXPECT_EQ(q.out, booted) << q.err;

        // A lost output is made again; clean takes it with the ELF.
        fs::remove(hex);
        r = build(src);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(count(r.out, step), 1u) << r.out;
        EXPECT_EQ(th::read_file(hex), second);
        r = build(src, "clean");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_FALSE(fs::exists(hex));
        EXPECT_FALSE(fs::exists(elf));
    }
}

// FORMAT with or without its dash in any case, OPTIONS before the input, OUTPUT anywhere below
// the build tree: each image as zorbin writes it from the same arguments.
struct form_row {
    const char* format;
    std::vector<std::string> options;
    const char* output;
    std::vector<std::string> zorbin;  // the same run, as typed to zorbin
};

const form_row forms[] = {
    {"-intel32", {}, "dash.hex", {"-intel32"}},
    {"Motorola32", {"-entry", "0x41"}, "srec/deep/fw.s19", {"-entry", "0x41", "-motorola32"}},
    {"-MDS", {"-range", "0", "256"}, "mds.hex", {"-range", "0", "256", "-mds"}},
    {"raw", {"-range", "0xFFF0", "64", "-fill", "0xFF"}, "fw.bin", {"-range", "0xFFF0", "64", "-fill", "0xFF", "-raw"}},
    {"intel32", {"-add", "boot.hex"}, "merged.hex", {"-add", "boot.hex", "-intel32"}},
};

std::string forms_project()
{
    std::string s = "cmake_minimum_required(VERSION 3.25)\n"
                    "project(forms LANGUAGES ASM)\n"
                    "find_package(fwkit 1 REQUIRED NO_CMAKE_FIND_ROOT_PATH)\n"
                    "add_executable(fw fw.s)\n"
                    "set_target_properties(fw PROPERTIES SUFFIX .elf)\n"
                    "target_link_options(fw PRIVATE -nostdlib -T ${CMAKE_CURRENT_SOURCE_DIR}/fw.ld)\n";
    for (const auto& f : forms) {
        s += std::string("fwkit_image(TARGET fw OUTPUT ") + f.output + " FORMAT " + f.format;
        if (!f.options.empty())
            s += " OPTIONS";
        for (const auto& o : f.options)
            s += " " + o;
        s += ")\n";
    }
    return s;
}

TEST_F(cmake_package, linux_only_format_and_options_reach_zorbin_as_written)
{
    REQUIRE_FIRMWARE_TOOLS();
    REQUIRE_TOOL("ninja");
    ASSERT_NO_FATAL_FAILURE(install());
    const fs::path src = project("forms", forms_project());
    const fs::path bin = src.parent_path() / "b";
    const auto boot_hex = [&](const char* base) {
        zorbin(src, {"-intel32", "-bin", "-base", base, th::sample("task.def")});
        fs::copy_file(path("reference"), src / "boot.hex", fs::copy_options::overwrite_existing);
    };
    boot_hex("0x30000");
    auto r = configure(src, "Ninja");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = build(src);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string elf = (bin / "fw.elf").string();
    for (const auto& f : forms) {
        SCOPED_TRACE(f.output);
        auto args = f.zorbin;
        args.push_back(elf);
        EXPECT_EQ(th::read_file(bin / f.output), zorbin(src, args));
    }

    // A file that -add joins is the image's too: changed, only its image is made again.
    boot_hex("0x31000");
    r = build(src);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, "fwkit_image: "), 1u) << r.out;
    EXPECT_EQ(count(r.out, "fwkit_image: merged.hex from fw"), 1u) << r.out;
    EXPECT_EQ(th::read_file(bin / "merged.hex"), zorbin(src, {"-add", "boot.hex", "-intel32", elf}));
}

// Each call refused while the project is configured, with what is wrong in the message.
struct refusal_row {
    const char* call;
    const char* message;
};

const refusal_row refusals[] = {
    {"fwkit_image(OUTPUT a.hex FORMAT intel32)", "fwkit_image: TARGET is missing; usage: fwkit_image(TARGET <executable> OUTPUT <file> FORMAT <word> [OPTIONS <argument>...])"},
    {"fwkit_image(TARGET OUTPUT a.hex FORMAT intel32)", "fwkit_image: TARGET is given no value"},
    {"fwkit_image(TARGET app FORMAT intel32)", "fwkit_image: OUTPUT is missing"},
    {"fwkit_image(TARGET app OUTPUT \"\" FORMAT intel32)", "fwkit_image: OUTPUT is given no value"},
    {"fwkit_image(TARGET app OUTPUT a.hex)", "fwkit_image: FORMAT is missing"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT)", "fwkit_image: FORMAT is given no value"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT intel32 OPTIONS)", "fwkit_image: OPTIONS is given no value"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT intel32 raw)", "fwkit_image: unexpected argument(s) 'raw'"},
    {"fwkit_image(app a.hex intel32)", "fwkit_image: unexpected argument(s) 'app a.hex intel32'"},
    {"fwkit_image(TARGET nothing OUTPUT a.hex FORMAT intel32)", "fwkit_image: TARGET 'nothing' is no target (add_executable first)"},
    {"fwkit_image(TARGET lib OUTPUT a.hex FORMAT intel32)", "fwkit_image: TARGET 'lib' is of type INTERFACE_LIBRARY, not an executable"},
    {"fwkit_image(TARGET tool OUTPUT a.hex FORMAT intel32)", "fwkit_image: TARGET 'tool' is imported"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT hex)", "fwkit_image: FORMAT 'hex' is not a zorbin format; one of: cosmac fairbug mostech"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT --intel32)", "fwkit_image: FORMAT '--intel32' is not a zorbin format"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT intel32 OPTIONS -fill 0 -MOTOROLA32)", "fwkit_image: OPTIONS hold the format word '-MOTOROLA32'; give the format as FORMAT"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT intel32 OPTIONS -Info)", "fwkit_image: OPTIONS hold '-Info', which writes no image"},
    {"fwkit_image(TARGET app OUTPUT a.hex FORMAT intel32)\nfwkit_image(TARGET app OUTPUT a.hex FORMAT raw)", "fwkit_image: OUTPUT 'a.hex' of TARGET 'app' is made already by an earlier fwkit_image (target app-image-a.hex)"},
};

// A project without a compiler: the calls are judged while it is configured, before any
// build. app stands for an executable of the project.
const char* const probe_head = "cmake_minimum_required(VERSION 3.25)\n"
                               "project(probe LANGUAGES NONE)\n"
                               "find_package(fwkit 1 REQUIRED)\n";

TEST_F(cmake_package, linux_only_fwkit_image_refuses_what_it_cannot_convert)
{
    REQUIRE_TOOL("cmake");
    ASSERT_NO_FATAL_FAILURE(install());
    int n = 0;
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.call);
        const fs::path src = dir / ("refusal" + std::to_string(n++));
        fs::create_directories(src);
        th::write_file(src / "CMakeLists.txt", std::string(probe_head) +
                                                   "add_executable(app app.s)\n"
                                                   "add_library(lib INTERFACE)\n"
                                                   "add_executable(tool IMPORTED)\n" +
                                                   c.call + "\nmessage(STATUS \"accepted\")\n");
        auto r = cmake({"-S", src.string(), "-B", (src / "b").string(), "-DCMAKE_PREFIX_PATH=" + prefix.string()});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(count(r.out, "accepted"), 0u) << r.out;
        // CMake wraps a long message at blanks and indents it: compared word for word.
        EXPECT_NE(joined(r.err).find(joined(c.message)), std::string::npos) << r.err;
    }
}

// find_package(fwkit <version>) from a 32-bit project: the same major version and no newer one
// than installed, whatever the pointer size; the programs where the moved prefix holds them.
TEST_F(cmake_package, linux_only_package_versions_and_the_programs_it_points_to)
{
    REQUIRE_TOOL("cmake");
    ASSERT_NO_FATAL_FAILURE(install());
    for (const char* f : {"fwkitConfig.cmake", "fwkitConfigVersion.cmake"})
        EXPECT_TRUE(fs::is_regular_file(prefix / "lib" / "cmake" / "fwkit" / f)) << f;

    // What the package says of itself, read by a probe.
    const fs::path src = dir / "probe";
    fs::create_directories(src);
    th::write_file(src / "CMakeLists.txt",
                   std::string(probe_head) +
                       "file(GENERATE OUTPUT found.txt CONTENT \"${fwkit_VERSION}\n${FWKIT_IMAGE_FORMATS}\n"
                       "$<TARGET_FILE:fwkit::zorbin>\n$<TARGET_FILE:fwkit::kelvash>\n"
                       "$<TARGET_FILE:fwkit::orvane>\n\")\n");
    auto r = cmake({"-S", src.string(), "-B", (src / "b").string(), "-DCMAKE_PREFIX_PATH=" + prefix.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream found(th::read_file(src / "b" / "found.txt"));
    std::string version, formats;
    std::getline(found, version);
    std::getline(found, formats);
    for (const char* name : {"zorbin", "kelvash", "orvane"}) {
        std::string location;
        std::getline(found, location);
        EXPECT_EQ(location, (prefix / "bin" / name).string());
        auto run = th::run_argv(location, {name});
        EXPECT_NE(run.out + run.err, "") << name << " does not run from " << location;
    }

    // The format words fwkit_image takes are zorbin's: in its help text's order, then those
    // the help does not list, and raw.
    auto help = th::run_argv((prefix / "bin" / "zorbin").string(), {"zorbin", "-help"});
    std::istringstream lines(help.err.substr(help.err.find("Format may be one of the following:")));
    std::string line, words;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.starts_with("-")) {
        std::string w = th::words(line)[0].substr(1);
        std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return std::tolower(c); });
        words += w + ";";
    }
    for (const zb::fmt f : zb::hex_formats)
        if (zb::formats[f].help_rank == 0)
            words += std::string(zb::formats[f].word) + ";";
    EXPECT_EQ(formats, words + "raw");

    // Versions asked for, from the one installed: major.minor.patch.
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &patch), 3) << version;
    const auto v = [](int a, int b) { return std::to_string(a) + "." + std::to_string(b); };
    struct ask {
        std::string version;
        bool found;
    };
    const ask asks[] = {
        {std::to_string(major), true},
        {version, true},
        {v(major, 0), true},
        {v(major, minor + 1), false},
        {std::to_string(major + 1), false},
        {v(major - 1, 99), false},
    };
    for (const auto& a : asks) {
        SCOPED_TRACE(a.version);
        const fs::path p = dir / ("ask" + a.version);
        fs::create_directories(p);
        th::write_file(p / "CMakeLists.txt", "cmake_minimum_required(VERSION 3.25)\n"
                                             "project(ask LANGUAGES NONE)\n"
                                             "find_package(fwkit " + a.version + ")\n"
                                             "message(STATUS \"found: ${fwkit_FOUND}\")\n");
        r = cmake({"-S", p.string(), "-B", (p / "b").string(), "-DCMAKE_PREFIX_PATH=" + prefix.string(),
                   "-DCMAKE_SIZEOF_VOID_P=4"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(count(r.out, a.found ? "found: 1" : "found: 0"), 1u) << r.out << r.err;
    }
}

}  // namespace
