// Manual pages: each renders without a single warning, and the pages and the user docs name every
// format word and option letter that the programs themselves know.
#include "harness.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path man_dir = fs::path(FWKIT_SOURCE_DIR) / "man";

std::vector<fs::path> pages()
{
    std::vector<fs::path> v;
    for (const auto& e : fs::directory_iterator(man_dir))
        if (e.path().extension() == ".1")
            v.push_back(e.path());
    std::sort(v.begin(), v.end());
    return v;
}

TEST(man_pages, every_program_has_a_page)
{
    for (const char* page : {"zorbin.1", "kelvash.1", "orvane.1", "fwkit-echo.1"}) {
        SCOPED_TRACE(page);
        EXPECT_TRUE(fs::is_regular_file(man_dir / page));
    }
}

// groff at terminal width (tables that do not fit are warned about there) and man -l as a
// reader would call it: no output on standard error at all.
TEST(man_pages, render_without_warnings)
{
    REQUIRE_TOOL("groff");
    REQUIRE_TOOL("man");
    th::options o;
    o.set_env = {"MANWIDTH=80", "LC_ALL=C.UTF-8"};
    o.unset_env = {"MANPAGER", "PAGER", "MANOPT"};
    for (const auto& page : pages()) {
        SCOPED_TRACE(page.filename().string());
        auto g = th::run_argv(th::which("groff"),
                              {"groff", "-t", "-man", "-Tutf8", "-ww", "-z", page.string()}, o);
        EXPECT_EQ(g.err, "");
        EXPECT_EQ(g.status, 0);
        auto m = th::run_argv(th::which("man"), {"man", "--warnings", "-l", page.string()}, o);
        EXPECT_EQ(m.err, "");
        EXPECT_EQ(m.status, 0);
        EXPECT_NE(m.out.find("NAME"), std::string::npos);
        EXPECT_NE(m.out.find("EXIT STATUS"), std::string::npos);
    }
}

// The format words as zorbin's help lists them, lower-cased.
std::vector<std::string> format_words()
{
    auto r = th::run("zorbin", {"-help"});
    std::string help = r.err;
    std::vector<std::string> words;
    auto at = help.find("Format may be one of the following:");
    std::regex line(R"(\n-(\w+) )");
    for (std::sregex_iterator i(help.begin() + static_cast<long>(at), help.end(), line), end;
         i != end; ++i) {
        std::string w = (*i)[1];
        for (auto& c : w)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        words.push_back(w);
    }
    return words;
}

TEST(man_pages, zorbin_formats_all_in_the_page_and_guide)
{
    auto words = format_words();
    ASSERT_EQ(words.size(), 13u);
    std::string page = th::read_file(man_dir / "zorbin.1");
    std::string guide = th::read_file(fs::path(FWKIT_SOURCE_DIR) / "docs" / "zorbin.md");
    for (const auto& w : words) {
        SCOPED_TRACE(w);
        EXPECT_NE(page.find("\n" + w + "\t"), std::string::npos) << "no row in the format table";
        EXPECT_NE(guide.find("\n| `" + w + "` |"), std::string::npos) << "no row in docs/zorbin.md";
    }
}

TEST(man_pages, kelvash_options_all_described)
{
    auto r = th::run("kelvash", {});
    std::set<char> letters;
    std::regex opt(R"([\[{|]-([a-z]))");
    for (std::sregex_iterator i(r.err.begin(), r.err.end(), opt), end; i != end; ++i)
        letters.insert((*i)[1].str()[0]);
    ASSERT_GE(letters.size(), 13u) << r.err;
    std::string page = th::read_file(man_dir / "kelvash.1");
    for (char c : letters) {
        SCOPED_TRACE(std::string("-") + c);
        std::regex entry(std::string(R"(\n\.TP\n\.B[IR]? \\-)") + c + R"(\b)");
        EXPECT_TRUE(std::regex_search(page, entry)) << "no .TP entry for the option";
    }
}

}  // namespace
