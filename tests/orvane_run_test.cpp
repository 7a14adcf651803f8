// orvane end to end: the seven lines byte for byte from real list files and source trees.
#include "harness.h"

#include <array>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string usage = "Usage: orvane dirname filename type[32l | 32b | 16l | 16b]\r\n";
const std::string combined = "OBJS = $(OBJS1) $(OBJS2) $(OBJS3) $(OBJS4) $(OBJS5) $(OBJS6) \r\n";

// The printed text for the finished entries of lists 1 to 6 (each blank-separated, or empty).
std::string lines(const std::array<std::string, 6>& lists)
{
    std::string out;
    for (int n = 0; n < 6; n++) {
        out += "OBJS" + std::to_string(n + 1) + " =";
        if (!lists[n].empty())
            out += " " + lists[n];
        out += " \r\n";
    }
    return out + combined;
}

// Creates each file (empty) and the directories leading to it; a name ending in "/" is a
// directory.
void make_files(const fs::path& root, const std::vector<std::string>& files)
{
    for (const auto& f : files) {
        fs::path p = root / f;
        if (f.ends_with('/')) {
            fs::create_directories(p);
            continue;
        }
        fs::create_directories(p.parent_path());
        th::write_file(p, "\tmov r0, #0\n");
    }
}

// Lists 1 to 6 after a run that accepted exactly one name.
std::array<std::string, 6> all(const std::string& entry)
{
    return {entry, entry, entry, entry, entry, entry};
}

// Lists that only Linux prints; on Windows no name is accepted.
std::array<std::string, 6> on_linux(const std::array<std::string, 6>& lists)
{
    return th::windows() ? std::array<std::string, 6>{} : lists;
}

struct deal_case {
    const char* what;
    std::vector<std::string> files;  // under the case's own directory
    std::string list;                // bytes of the list file
    std::array<std::string, 6> lists;
    std::string type = "32l";
    std::string dir = "src/";
};

class orvane_run : public th::tmpdir {
protected:
    // Runs each case in a directory of its own: orvane <dir> objs.lst <type>.
    void check(const std::vector<deal_case>& cases)
    {
        int k = 0;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            fs::path root = dir / ("case" + std::to_string(k++));
            fs::create_directories(root);
            make_files(root, c.files);
            th::write_file(root / "objs.lst", c.list);
            th::options o;
            o.cwd = root.string();
            auto r = th::run("orvane", {c.dir, "objs.lst", c.type}, o);
            EXPECT_EQ(r.out, lines(c.lists));
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.status, 0);
        }
    }
};

const std::vector<std::string> worked_files = {"src/a.s", "src/b.s", "src/c.s",   "src/d.s",
                                               "src/f.s", "src/g.s", "src/h.32l", "src/h2.16l"};

TEST_F(orvane_run, worked_example)
{
    make_files(dir, worked_files);
    th::write_file(dir / "objs.lst",
                   "// kernel objects\n"
                   "a\n"
                   "b   // boot code\n"
                   "x\n"
                   "\n"
                   "c\n"
                   "h.32l\n"
                   "h2.16l\n"
                   "  d e\n"
                   "f\n"
                   "g\n");
    auto r = th::run("orvane", {"src/", "objs.lst", "32l"}, in_dir());
    EXPECT_EQ(r.out,
              "OBJS1 = obj32l/a.o obj32l/g.o \r\n"
              "OBJS2 = obj32l/b.o \r\n"
              "OBJS3 = obj32l/c.o \r\n"
              "OBJS4 = h.32l \r\n"
              "OBJS5 = obj32l/d.o \r\n"
              "OBJS6 = obj32l/f.o \r\n"
              "OBJS = $(OBJS1) $(OBJS2) $(OBJS3) $(OBJS4) $(OBJS5) $(OBJS6) \r\n");
    EXPECT_EQ(r.out.find('\r'), 29u + 1u);  // 29 characters, a blank, then CR LF
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(orvane_run, bundled_sample)
{
    auto r = th::run("orvane", {th::sample("src/"), th::sample("objs.lst"), "32l"});
    EXPECT_EQ(r.out, lines({"obj32l/boot.o obj32l/irq.o", "obj32l/vectors.o obj32l/heap.o",
                            "obj32l/kernel.o crc.32l", "obj32l/sched.o", "obj32l/timer.o",
                            "obj32l/uart.o"}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(orvane_run, dealing_rotates_over_six_lists)
{
    const std::vector<std::string> abc = {"src/a.s", "src/b.s", "src/c.s", "src/d.s", "src/e.s",
                                          "src/f.s", "src/g.s", "src/h.s", "src/i.s", "src/j.s",
                                          "src/k.s", "src/l.s", "src/m.s"};
    check({
        {"exactly six: one each", abc, "a\nb\nc\nd\ne\nf\n",
         {"obj32l/a.o", "obj32l/b.o", "obj32l/c.o", "obj32l/d.o", "obj32l/e.o", "obj32l/f.o"}},
        {"thirteen: the 7th and 13th go back to list 1", abc,
         "a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\nm\n",
         {"obj32l/a.o obj32l/g.o obj32l/m.o", "obj32l/b.o obj32l/h.o", "obj32l/c.o obj32l/i.o",
          "obj32l/d.o obj32l/j.o", "obj32l/e.o obj32l/k.o", "obj32l/f.o obj32l/l.o"}},
        {"skipped names leave no gap: missing, wrong type, comment, blank", abc,
         "a\nmissing\nb\nz.16l\nc\n// note\nd\n\n\t\ne\nf\ng\n",
         {"obj32l/a.o obj32l/g.o", "obj32l/b.o", "obj32l/c.o", "obj32l/d.o", "obj32l/e.o",
          "obj32l/f.o"}},
        {"a name listed twice is dealt twice", abc, "a\na\n", {"obj32l/a.o", "obj32l/a.o",
         "obj32l/a.o", "obj32l/a.o", "obj32l/a.o", "obj32l/a.o"}},
    });
}

TEST_F(orvane_run, empty_lists_repeat_list_one)
{
    const std::vector<std::string> abc = {"src/a.s", "src/b.s", "src/c.s", "src/d.s", "src/e.s"};
    const std::string a = "obj32l/a.o", b = "obj32l/b.o", c = "obj32l/c.o", d = "obj32l/d.o",
                      e = "obj32l/e.o";
    check({
        {"none: an empty list file", {}, "", {}},
        {"none: only comments and blank lines", abc, "// a\n\n   \n\t// b\n//\n", {}},
        {"none: every name missing", {}, "a\nb\n", {}},
        {"one name fills all five", abc, "a\n", {a, a, a, a, a, a}},
        {"two names", abc, "a\nb\n", {a, b, a, a, a, a}},
        {"three names", abc, "a\nb\nc\n", {a, b, c, a, a, a}},
        {"four names", abc, "a\nb\nc\nd\n", {a, b, c, d, a, a}},
        {"five names", abc, "a\nb\nc\nd\ne\n", {a, b, c, d, e, a}},
        {"the worked example cut after line 3", worked_files, "// kernel objects\na\nb   // boot\n",
         {a, b, a, a, a, a}},
    });
}

TEST_F(orvane_run, names_comments_and_separators)
{
    const std::vector<std::string> files = {"src/a.s", "src/b.s", "src/a/b.s", "src/a\rb.s",
                                            "src/a\fb.s"};
    const std::array<std::string, 6> ab = {"obj32l/a.o", "obj32l/b.o", "obj32l/a.o",
                                           "obj32l/a.o", "obj32l/a.o", "obj32l/a.o"};
    check({
        {"only the first word counts", files, "a b\n", all("obj32l/a.o")},
        {"tabs and blanks before and after", files, " \t a\t\tb\n", all("obj32l/a.o")},
        {"two slashes end the name anywhere", files, "a//b\n", all("obj32l/a.o")},
        {"a line starting with two slashes has no name", files, "//a\n  //b\n",
         {}},
        {"a single slash is part of the name", files, "a/b\n", all("obj32l/a/b.o")},
        // Windows file names hold no control characters: there the source cannot exist.
        {"a lone CR is part of the name", files, "a\rb\n", on_linux(all("obj32l/a\rb.o"))},
        {"a form feed is part of the name", files, "a\fb\n", on_linux(all("obj32l/a\fb.o"))},
        {"the last line may lack its newline", files, "a\nb", ab},
        {"CR LF last line without its newline", files, "a\r\nb", ab},
        {"a NUL ends what the line holds", files, "a\0b c\nb\n"s, ab},
    });
}

TEST_F(orvane_run, extension_must_equal_the_type)
{
    const std::vector<std::string> files = {
        "src/h.32l",  "src/h.32L",     "src/h.32l.s",  "src/boot.mon.32l", "src/foo.",
        "src/foo..s", "src/sub.d/foo", "src/sub.d/foo.s", "src/q.16l",    "src/q.s",
        "src/v.",     "src/v.s"};
    check({
        {"equal: listed as written, no prefix, no .o", files, "h.32l\n", all("h.32l")},
        {"case differs: skipped", files, "h.32L\n", {}},
        {"the last dot decides", files, "boot.mon.32l\n", all("boot.mon.32l")},
        {"a dot in a directory of the name", files, "sub.d/foo\n", {}},
        {"empty extension with a type", files, "foo.\n", {}},
        {"other type: skipped without test", files, "q.16l\n", {}},
        {"the type selects", files, "q.16l\nh.32l\n", all("q.16l"), "16l"},
        {"object directory named by the type", files, "q\n", all("obj16b/q.o"), "16b"},
        {"any type text is taken", files, "h.32l\nq\n", all("objxyz/q.o"), "xyz"},
        // Windows drops the trailing dot of a file name: src/v. opens src/v, which is absent.
        {"empty type: empty extension matches", files, "v.\nv\n",
         th::windows() ? all("obj/v.o")
                       : std::array<std::string, 6>{"v.", "obj/v.o", "v.", "v.", "v.", "v."},
         ""},
        {"empty type: a real extension does not", files, "h.32l\n", {}, ""},
    });
}

TEST_F(orvane_run, directory_text_is_a_verbatim_prefix)
{
    const std::string deep(150, 'd');  // longer than a 112-byte path store
    check({
        {"no separator added: src + a tests srca.s", {"srca.s", "src/a.s"}, "a\n",
         all("obj32l/a.o"), "32l", "src"},
        {"no separator added: the file is missing", {"src/a.s"}, "a\n", {}, "32l", "src"},
        {"empty directory text: the current directory", {"a.s"}, "a\n", all("obj32l/a.o"), "32l",
         ""},
        {"a dot in the directory text is no extension", {"src.d/a.s"}, "a\n", all("obj32l/a.o"),
         "32l", "src.d/"},
        {"a long directory text", {deep + "/" + deep + "/a.s"}, "a\n", all("obj32l/a.o"), "32l",
         deep + "/" + deep + "/"},
    });
}

TEST_F(orvane_run, absolute_directory_text)
{
    make_files(dir, {"src/a.s"});
    th::write_file(dir / "objs.lst", "a\n");
    auto r = th::run("orvane", {path("src/"), path("objs.lst"), "32l"});
    EXPECT_EQ(r.out, lines(all("obj32l/a.o")));
    EXPECT_EQ(r.status, 0);
}

// FIFOs, symbolic links and POSIX permissions are Linux files.
TEST_F(orvane_run, linux_only_which_sources_count_as_present)
{
    make_files(dir, {"src/a.s", "src/d.s/"});
    ASSERT_EQ(mkfifo(path("src/p.s").c_str(), 0644), 0);
    fs::create_symlink("a.s", dir / "src/l.s");
    fs::create_symlink("gone.s", dir / "src/n.s");
    struct {
        const char* what;
        std::string list;
        std::array<std::string, 6> lists;
    } cases[] = {
        {"a directory is not a source", "d\n", {}},
        {"a FIFO opens without waiting for a writer", "p\n", all("obj32l/p.o")},
        {"a link to a file", "l\n", all("obj32l/l.o")},
        {"a dangling link", "n\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        th::write_file(dir / "objs.lst", c.list);
        auto r = th::run("orvane", {"src/", "objs.lst", "32l"}, in_dir());
        EXPECT_EQ(r.out, lines(c.lists));
        EXPECT_EQ(r.status, 0);
    }
    if (geteuid() != 0) {
        SCOPED_TRACE("an unreadable file");
        chmod(path("src/a.s").c_str(), 0);
        th::write_file(dir / "objs.lst", "a\n");
        auto r = th::run("orvane", {"src/", "objs.lst", "32l"}, in_dir());
        EXPECT_EQ(r.out, lines({}));
    }
}

TEST_F(orvane_run, list_file_read_in_text_mode)
{
    const std::vector<std::string> files = {"src/a.s", "src/b.s", "src/c.s", "src/a\r.s"};
    const std::array<std::string, 6> ab = {"obj32l/a.o", "obj32l/b.o", "obj32l/a.o",
                                           "obj32l/a.o", "obj32l/a.o", "obj32l/a.o"};
    // Windows file names hold no CR: there the source a\r.s cannot exist.
    const auto a = all("obj32l/a.o"), acr = on_linux(all("obj32l/a\r.o"));
    check({
        {"CR LF line ends", files, "a\r\nb\r\n", ab},
        {"CR LF with comments and blank lines", files, "// x\r\n\r\na  // y\r\n\r\nb\r\n", ab},
        {"0x1A ends the data", files, "a\r\n\x1a" "b\r\n", a},
        {"0x1A inside a name ends it and the file", files, "a\x1a" "b\nb\n", a},
        {"0x1A right after a CR: the CR is text", files, "a\r\x1a\n", acr},
        {"a lone CR at the end of the file is text", files, "a\r", acr},
        {"CR CR LF: the first CR is text", files, "a\r\r\nb\n",
         th::windows() ? all("obj32l/b.o")
                       : std::array<std::string, 6>{"obj32l/a\r.o", "obj32l/b.o", "obj32l/a\r.o",
                                                    "obj32l/a\r.o", "obj32l/a\r.o", "obj32l/a\r.o"}},
    });
}

TEST_F(orvane_run, long_lines_are_read_in_pieces_of_511)
{
    const std::vector<std::string> files = {"src/a.s", "src/b.s", "src/c.s", "src/ab.s"};
    const auto pad = [](std::size_t n) { return std::string(n, ' '); };
    const auto ab = all("obj32l/ab.o");
    const std::array<std::string, 6> a_b = {"obj32l/a.o", "obj32l/b.o", "obj32l/a.o",
                                            "obj32l/a.o", "obj32l/a.o", "obj32l/a.o"};
    check({
        {"511 characters with the newline: one piece", files, pad(508) + "ab\n", ab},
        {"511 before the newline: the newline is a piece of its own", files, pad(509) + "ab\n",
         ab},
        {"512 before the newline: the name is cut", files, pad(510) + "ab\n", a_b},
        {"CR LF counts as one character: 511 with it", files, pad(508) + "ab\r\n", ab},
        {"CR LF counts as one character: cut after 511", files, pad(510) + "ab\r\n", a_b},
        {"three pieces, each a line of its own", files, pad(510) + "a" + pad(510) + "b" + "  c\n",
         {"obj32l/a.o", "obj32l/b.o", "obj32l/c.o", "obj32l/a.o", "obj32l/a.o", "obj32l/a.o"}},
        {"a comment longer than a piece goes on as names", files,
         "// " + pad(508) + "ab // c\n", ab},
        {"a long last line without newline", files, pad(510) + "ab", a_b},
    });
}

TEST_F(orvane_run, usage_and_open_failures)
{
    make_files(dir, {"src/a.s", "sub/"});
    th::write_file(dir / "objs.lst", "a\n");
    struct {
        const char* what;
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {"no argument", {}, usage, 1},
        {"two arguments", {"src/", "objs.lst"}, usage, 1},
        {"four arguments", {"src/", "objs.lst", "32l", "x"}, usage, 1},
        {"usage comes before the list file", {"src/", "missing.lst"}, usage, 1},
        {"missing list file", {"src/", "missing.lst", "32l"},
         "Unable to open file missing.lst\r\n", 255},
        {"empty list-file name", {"src/", "", "32l"}, "Unable to open file \r\n", 255},
        {"a directory as list file", {"src/", "sub", "32l"}, "Unable to open file sub\r\n", 255},
        {"the name verbatim, printf directives too", {"src/", "%s%n.lst", "32l"},
         "Unable to open file %s%n.lst\r\n", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = th::run("orvane", c.args, in_dir());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, c.status);
    }
}

TEST_F(orvane_run, write_errors_are_reported_and_fail)
{
    // 300 present sources: over 4 KiB of lines, cut short at 1 KiB by a file size limit.
    std::vector<std::string> files;
    std::string list;
    for (int n = 0; n < 300; n++) {
        // Appended piece by piece: g++ 12 at -O3 sees a false overlap in "lit" + to_string().
        std::string name = std::to_string(n);
        files.push_back("src/n");
        files.back() += name;
        files.back() += ".s";
        list += 'n';
        list += name;
        list += '\n';
    }
    make_files(dir, files);
    th::write_file(dir / "objs.lst", list);
    struct {
        const char* what;
        std::string stdout_path;
        long long limit;
        std::string reason;
    } cases[] = {
        {"a full device", "/dev/full", 0, "No space left on device"},
        {"a file that may not grow", path("lines.mk"), 1024, "File too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.limit > 0 && th::not_on_windows("a file size limit of the Linux process"))
            continue;
        if (c.stdout_path == "/dev/full")
            REQUIRE_SYSTEM_FILE("/dev/full");
        th::options o = in_dir();
        o.stdout_path = c.stdout_path;
        o.file_size_limit = c.limit;
        auto r = th::run("orvane", {"src/", "objs.lst", "32l"}, o);
        EXPECT_EQ(r.err, "orvane: write error: " + c.reason + "\r\n");
        EXPECT_EQ(r.status, 1);
    }
}

// Reading a process's own memory at offset 0 fails with EIO. Windows has no /proc.
TEST_F(orvane_run, linux_only_read_error_is_reported_and_fails)
{
    REQUIRE_THAT(access("/proc/self/mem", R_OK) == 0,
                 "the system is at fault, not the kit: /proc/self/mem may not be read");
    auto r = th::run("orvane", {"src/", "/proc/self/mem", "32l"}, in_dir());
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvane: read error on /proc/self/mem: Input/output error\r\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
