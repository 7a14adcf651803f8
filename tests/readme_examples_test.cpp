// The README's shell examples run as written: every "$ command" line of a ```sh block, in order,
// from a scratch copy of the repository root (samples/ and build/bin/ linked in), must exit 0
// and print exactly the lines shown under it (CR of the kit's line ends aside).
#include "harness.h"

#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct example {
    int line;             // in README.md, for the trace
    std::string command;  // without the "$ " prompt
    std::string output;   // the lines shown under it, each ended by "\n"
};

std::vector<example> examples(const std::string& readme)
{
    std::vector<example> v;
    std::istringstream in(readme);
    std::string text;
    bool in_sh = false, have = false;  // inside a ```sh block; a command seen in it
    for (int n = 1; std::getline(in, text); n++) {
        if (!in_sh) {
            in_sh = text == "```sh";
            have = false;
        } else if (text.starts_with("```")) {
            in_sh = false;
        } else if (text.starts_with("$ ")) {
            v.push_back({n, text.substr(2), ""});
            have = true;
        } else if (have) {
            v.back().output += text + "\n";
        }
    }
    return v;
}

std::string without_cr(std::string s)
{
    std::erase(s, '\r');
    return s;
}

// Columns of ls and the like depend on the terminal; compare words per line.
std::string squeeze(const std::string& s)
{
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank && !out.empty() && out.back() != '\n' && c != '\n')
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

class readme : public th::tmpdir {};

TEST_F(readme, shell_examples_run_as_written)
{
    if (th::windows())
        GTEST_SKIP() << "the README's shell examples are Linux commands; its Windows section "
                        "shows cmd, PowerShell and make";
    const fs::path src = FWKIT_SOURCE_DIR;
    fs::create_directory_symlink(src / "samples", dir / "samples");
    fs::create_directories(dir / "build");
    fs::create_directory_symlink(FWKIT_BIN_DIR, dir / "build" / "bin");

    auto list = examples(th::read_file(src / "README.md"));
    ASSERT_GE(list.size(), 10u);
    th::options o = in_dir();
    o.unset_env = {"POSIX_ME_HARDER"};
    for (const auto& e : list) {
        SCOPED_TRACE("README.md:" + std::to_string(e.line) + ": " + e.command);
        auto r = th::run_argv("/bin/sh", {"sh", "-c", "exec 2>&1\n" + e.command}, o);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(squeeze(without_cr(r.out)), squeeze(e.output));
    }
}

}  // namespace
