// What the makefile's demo and uninstall targets promise, run as they run: the demo ends with
// its one-line summary, and uninstall leaves none of the files that install put in place.
#include "harness.h"

#include <fstream>

namespace {

namespace fs = std::filesystem;
using make_targets = th::tmpdir;

const fs::path build_dir = fs::path(FWKIT_BIN_DIR).parent_path();

TEST_F(make_targets, linux_only_the_demo_ends_with_its_summary)
{
    REQUIRE_TOOL("make");
    th::options o;
    o.set_env = {std::string("BIN=") + FWKIT_BIN_DIR};
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
}

TEST_F(make_targets, linux_only_uninstall_removes_what_install_put_in_place)
{
    REQUIRE_TOOL("cmake");
    REQUIRE_TOOL("make");
    // The build's own manifest names what the user installed from it: kept as it was.
    const fs::path manifest = build_dir / "install_manifest.txt";
    const bool had = fs::exists(manifest);
    const std::string kept = had ? th::read_file(manifest) : "";
    const std::string prefix = path("prefix");
    auto r = th::run_argv(th::which("cmake"), {"cmake", "--install", build_dir.string(), "--prefix", prefix});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> installed;
    for (auto& e : fs::recursive_directory_iterator(prefix))
        if (!e.is_directory() || e.is_symlink())
            installed.push_back(e.path().string());
    EXPECT_GE(installed.size(), 10u) << "programs, pages, completion, CMake package";
    r = th::run_argv(th::which("make"), {"make", "-s", "-C", FWKIT_SOURCE_DIR, "uninstall",
                                         "BUILD=" + build_dir.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    if (had)
        th::write_file(manifest, kept);
    else
        fs::remove(manifest);
    for (auto& e : fs::recursive_directory_iterator(prefix))
        EXPECT_TRUE(e.is_directory() && !e.is_symlink()) << e.path() << " is left";
    for (const char* own : {"libexec/fwkit", "lib/cmake/fwkit"})
        EXPECT_FALSE(fs::exists(fs::path(prefix) / own)) << "the kit's own " << own << " is left";
}

}  // namespace
