// What the makefile's demo and uninstall targets promise, run as they run: the demo ends with
// its one-line summary, and uninstall leaves none of the files that install put in place.
// Neither writes into the build they test: the demo's outputs and the install's manifest go to
// folders of the test's own, so a user's build keeps what it had.
#include "harness.h"

#include <fstream>

namespace {

namespace fs = std::filesystem;
using make_targets = th::tmpdir;

const fs::path build_dir = fs::path(FWKIT_BIN_DIR).parent_path();

// The names at the top of the build tree, where the demo's folder and the install's manifest
// would land.
std::string top_names()
{
    std::string s;
    for (auto& e : fs::directory_iterator(build_dir))
        s += e.path().filename().string() + "\n";
    return s;
}

TEST_F(make_targets, linux_only_the_demo_ends_with_its_summary)
{
    REQUIRE_TOOL("make");
    // The demo writes beside the programs' folder (BIN/../demo): a folder of links to them.
    fs::create_directory(dir / "bin");
    for (auto& e : fs::directory_iterator(FWKIT_BIN_DIR))
        fs::create_symlink(e.path(), dir / "bin" / e.path().filename());
    const std::string names = top_names();
    th::options o;
    o.set_env = {"BIN=" + (dir / "bin").string()};
    auto r = th::run_argv("/bin/sh", {"sh", FWKIT_SOURCE_DIR "/samples/demo.sh"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.out.ends_with("\n"));
    std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    EXPECT_EQ(last, "demo: 12 steps run, 2 of them failed on purpose as marked; all went as expected\n");
    // Every failure shown is one the demo marks as expected.
    std::size_t marked = 0;
    for (std::size_t at = 0; (at = r.out.find(", as expected: ", at)) != std::string::npos; at++)
        marked++;
    EXPECT_EQ(marked, 2u);
    EXPECT_TRUE(fs::is_directory(dir / "demo")) << "the demo wrote elsewhere";
    EXPECT_EQ(top_names(), names) << "the demo wrote into the build";
}

TEST_F(make_targets, linux_only_uninstall_removes_what_install_put_in_place)
{
    REQUIRE_TOOL("cmake");
    REQUIRE_TOOL("make");
    const fs::path manifest = build_dir / "install_manifest.txt";
    const bool had = fs::exists(manifest);
    const std::string kept = had ? th::read_file(manifest) : "";
    const std::string names = top_names();
    const fs::path build = dir / "build";
    th::copy_build(build_dir, build);
    const std::string prefix = path("prefix");
    auto r = th::run_argv(th::which("cmake"), {"cmake", "--install", build.string(), "--prefix", prefix});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::exists(build / "install_manifest.txt"));
    std::vector<std::string> installed;
    for (auto& e : fs::recursive_directory_iterator(prefix))
        if (!e.is_directory() || e.is_symlink())
            installed.push_back(e.path().string());
    EXPECT_GE(installed.size(), 10u) << "programs, pages, completion, CMake package";
    r = th::run_argv(th::which("make"), {"make", "-s", "-C", FWKIT_SOURCE_DIR, "uninstall",
                                         "BUILD=" + build.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (auto& e : fs::recursive_directory_iterator(prefix))
        EXPECT_TRUE(e.is_directory() && !e.is_symlink()) << e.path() << " is left";
    for (const char* own : {"libexec/fwkit", "lib/cmake/fwkit"})
        EXPECT_FALSE(fs::exists(fs::path(prefix) / own)) << "the kit's own " << own << " is left";
    // The user's build is as it was: its manifest names what the user installed from it.
    EXPECT_EQ(fs::exists(manifest), had);
    EXPECT_EQ(had ? th::read_file(manifest) : "", kept);
    EXPECT_EQ(top_names(), names) << "the install wrote into the build it was made from";
}

}  // namespace
