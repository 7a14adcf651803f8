// The user docs' shell examples run as written: every "$ command" line of a ```sh block of
// README.md and of each docs/*.md, in order, from a scratch copy of the repository root of its
// own (samples/ and build/bin/ linked in), must exit 0 and print exactly the lines shown under it
// (CR of the kit's line ends aside). Every relative link between those pages leads somewhere.
#include "harness.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct example {
    int line;             // in its page, for the trace
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

// README.md, then docs/*.md in name order: the user docs, as paths from the repository root.
std::vector<fs::path> pages()
{
    const fs::path src = FWKIT_SOURCE_DIR;
    std::vector<fs::path> v;
    for (const auto& e : fs::directory_iterator(src / "docs"))
        if (e.path().extension() == ".md")
            v.push_back(fs::relative(e.path(), src));
    std::sort(v.begin(), v.end());
    v.insert(v.begin(), "README.md");
    return v;
}

class readme : public th::tmpdir {};

// The docs' shell examples are Linux commands; the Windows page shows cmd, PowerShell and make.
TEST_F(readme, linux_only_shell_examples_run_as_written)
{
    const fs::path src = FWKIT_SOURCE_DIR;
    th::options o;
    o.unset_env = {"POSIX_ME_HARDER"};
    std::size_t total = 0;
    for (const auto& page : pages()) {
        // A root of its own per page, so that no page leans on files another page's examples left.
        const fs::path root = dir / page.stem();
        fs::create_directories(root / "build");
        fs::create_directory_symlink(src / "samples", root / "samples");
        fs::create_directory_symlink(FWKIT_BIN_DIR, root / "build" / "bin");
        o.cwd = root.string();
        const auto list = examples(th::read_file(src / page));
        total += list.size();
        for (const auto& e : list) {
            SCOPED_TRACE(page.generic_string() + ":" + std::to_string(e.line) + ": " + e.command);
            auto r = th::run_argv("/bin/sh", {"sh", "-c", "exec 2>&1\n" + e.command}, o);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(squeeze(without_cr(r.out)), squeeze(e.output));
        }
    }
    EXPECT_GE(examples(th::read_file(src / "README.md")).size(), 4u) << "one per program";
    EXPECT_GE(total, 20u);
}

// A link to another page (or the page's own anchor) must name a file that exists; a link with
// an anchor must name a heading of that page, as the renderers make anchors of headings.
std::string anchor(std::string heading)
{
    std::string a;
    for (unsigned char c : heading) {
        if (std::isalnum(c) || c == '-' || c == '_')
            a += static_cast<char>(std::tolower(c));
        else if (c == ' ')
            a += '-';
    }
    return a;
}

std::set<std::string> anchors(const std::string& text)
{
    std::set<std::string> v;
    std::istringstream in(text);
    std::string line;
    bool fenced = false;
    while (std::getline(in, line)) {
        if (line.starts_with("```"))
            fenced = !fenced;
        else if (!fenced && line.starts_with("#"))
            v.insert(anchor(line.substr(line.find_first_not_of("# "))));
    }
    return v;
}

TEST(readme_links, every_relative_link_resolves)
{
    const fs::path src = FWKIT_SOURCE_DIR;
    const std::regex link(R"(\]\(([^)\s]+)\))");
    std::size_t checked = 0;
    for (const auto& page : pages()) {
        const std::string text = th::read_file(src / page);
        for (std::sregex_iterator i(text.begin(), text.end(), link), end; i != end; ++i) {
            const std::string target = (*i)[1];
            if (target.find("://") != std::string::npos || target.starts_with("mailto:"))
                continue;
            SCOPED_TRACE(page.generic_string() + ": " + target);
            const auto hash = target.find('#');
            const std::string file = target.substr(0, hash);
            const fs::path to = file.empty() ? src / page : src / page.parent_path() / file;
            ASSERT_TRUE(fs::exists(to)) << "no such file";
            if (hash != std::string::npos) {
                EXPECT_TRUE(anchors(th::read_file(to)).contains(target.substr(hash + 1)))
                    << "no such heading";
            }
            checked++;
        }
    }
    EXPECT_GE(checked, 10u);
}

}  // namespace
