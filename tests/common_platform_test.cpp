// The platform layer on the system it is built for: reading, positions, file facts and
// identity, output files, error texts and the names a system keeps for itself. The same
// cases run on Linux and, built for Windows, under Wine.
#include "harness.h"

#include <cerrno>

#include "fileio.h"
#include "platform.h"

namespace {

namespace fs = std::filesystem;
using platform = th::tmpdir;

std::string u8(const fs::path& p)
{
    auto s = p.u8string();
    return {s.begin(), s.end()};
}

auto entries(const fs::path& d) { return std::distance(fs::directory_iterator(d), {}); }

TEST_F(platform, reads_at_offsets_leave_the_position_alone)
{
    th::write_file(path("f"), "0123456789");
    int fd = fw::open_read(path("f").c_str());
    ASSERT_GE(fd, 0);
    fw::file_info fi;
    ASSERT_EQ(fw::info(fd, fi), 0);
    EXPECT_EQ(fi.type, fw::kind::regular);
    EXPECT_EQ(fi.size, 10u);
    char buf[8] = {};
    EXPECT_EQ(fw::pread(fd, buf, 4, 6), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(fw::pread(fd, buf, 4, 10), 0) << "at the end";
    EXPECT_EQ(fw::read(fd, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "012") << "pread moved the position";
    EXPECT_EQ(fw::seek(fd, 0, fw::from::here), 3);
    EXPECT_EQ(fw::seek(fd, 0, fw::from::end), 10);
    EXPECT_EQ(fw::read(fd, buf, 8), 0);
    EXPECT_EQ(fw::seek(fd, 8, fw::from::start), 8);
    EXPECT_EQ(fw::read(fd, buf, 8), 2);
    fw::close(fd);
}

// A mapped input holds the file's bytes; it goes with the file still whole.
TEST_F(platform, a_mapped_input_holds_the_file)
{
    std::string bytes(70000, '\0');
    for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<char>(k * 7);
    th::write_file(path("f"), bytes);
    int fd = fw::open_read(path("f").c_str());
    ASSERT_GE(fd, 0);
    const unsigned char* p = fw::map_input(fd, bytes.size(), "lost\r\n");
    fw::close(fd);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(p), bytes.size()) == bytes);
    fw::unmap_input(p, bytes.size());
    EXPECT_EQ(th::read_file(path("f")), bytes);
}

TEST_F(platform, directories_open_but_do_not_read)
{
    fs::create_directory(dir / "sub");
    int fd = fw::open_read(path("sub").c_str());
    ASSERT_GE(fd, 0) << "a directory opens for reading, as on POSIX";
    char c;
    errno = 0;
    EXPECT_EQ(fw::read(fd, &c, 1), -1);
    EXPECT_EQ(errno, EISDIR);
    fw::file_info fi;
    EXPECT_EQ(fw::info(fd, fi), 0);
    EXPECT_EQ(fi.type, fw::kind::directory);
    fw::close(fd);
}

TEST_F(platform, failures_give_the_errno_and_text_of_linux)
{
    errno = 0;
    EXPECT_EQ(fw::open_read(path("none").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fw::open_read(""), -1);
    EXPECT_EQ(errno, ENOENT);
    const std::pair<int, const char*> texts[] = {
        {ENOENT, "No such file or directory"}, {EACCES, "Permission denied"},
        {EISDIR, "Is a directory"},            {ENOSPC, "No space left on device"},
        {EFBIG, "File too large"},             {EIO, "Input/output error"},
        {ENOMEM, "Cannot allocate memory"},    {EPIPE, "Broken pipe"},
    };
    for (const auto& [e, text] : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(fw::error_text(e), text);
    }
}

TEST_F(platform, one_file_under_any_name_has_one_identity)
{
    th::write_file(path("f"), "x");
    th::write_file(path("g"), "x");
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "f", dir / "link");
    fw::file_id f, same, other;
    ASSERT_TRUE(fw::id_of(path("f"), f));
    for (const char* name : {"sub/../f", "link"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fw::id_of(path(name), same));
        EXPECT_EQ(same, f);
    }
    int fd = fw::open_read(path("f").c_str());
    ASSERT_TRUE(fw::id_of(fd, same));
    fw::close(fd);
    EXPECT_EQ(same, f) << "the open file and its name";
    ASSERT_TRUE(fw::id_of(path("g"), other));
    EXPECT_NE(other, f);
    EXPECT_FALSE(fw::id_of(path("none"), other));
    // Windows file names ignore case: F is f.
    EXPECT_EQ(fw::id_of(path("F"), same) && same == f, th::built_for_windows());
}

TEST_F(platform, output_files_are_complete_or_untouched)
{
    fw::outfile f;
    // In one step, or in two (closed, then put in place or given up), as a run with several
    // outputs does.
    enum { drop, commit, close_drop, close_place };
    for (int how : {drop, commit, close_drop, close_place}) {
        SCOPED_TRACE(how);
        th::write_file(path("out"), "old");
        ASSERT_EQ(fw::out_open(f, path("out")), 0);
        ASSERT_EQ(fw::write_all(f.fd, "xxABCD"), 0);
        // A header written last at the start, as kelvash does, then more behind the rest.
        ASSERT_EQ(fw::pwrite_all(f.fd, "yy", 0), 0);
        ASSERT_EQ(fw::write_all(f.fd, "Z"), 0);
        EXPECT_EQ(th::read_file(path("out")), "old") << "the target changed before the end";
        if (how == close_drop || how == close_place) {
            EXPECT_EQ(fw::out_close(f), 0);
            EXPECT_EQ(th::read_file(path("out")), "old") << "the target changed when closed";
            EXPECT_EQ(entries(dir), 2) << "the complete output waits beside its target";
        }
        if (how == commit)
            EXPECT_EQ(fw::out_commit(f), 0);
        else if (how == close_place)
            EXPECT_EQ(fw::out_place(f), 0);
        else
            fw::out_abort(f);
        const bool placed = how == commit || how == close_place;
        EXPECT_EQ(th::read_file(path("out")), placed ? "yyABCDZ" : "old");
        EXPECT_EQ(entries(dir), 1) << "temporary file left behind";
    }

    fs::create_directory(dir / "sub");
    EXPECT_EQ(fw::out_open(f, path("sub")), EISDIR);
    EXPECT_EQ(fw::out_open(f, path("none/out")), ENOENT);
    EXPECT_EQ(fw::out_open(f, ""), ENOENT);
    EXPECT_EQ(entries(dir), 2);
}

TEST_F(platform, utf8_names_open)
{
    for (const char* name : {"donn\xC3\xA9" "es.bin", "\xE6\x97\xA5\xE6\x9C\xAC.bin"}) {
        SCOPED_TRACE(name);
        // Put together by hand: a path made from a char string need not take it as UTF-8.
        const std::string full = dir.string() + "/" + name;
        fw::outfile f;
        ASSERT_EQ(fw::out_open(f, full), 0);
        ASSERT_EQ(fw::write_all(f.fd, "data"), 0);
        ASSERT_EQ(fw::out_commit(f), 0);
        int fd = fw::open_read(full.c_str());
        ASSERT_GE(fd, 0);
        fw::close(fd);
        bool found = false;
        for (auto& e : fs::directory_iterator(dir))
            found = found || u8(e.path().filename()) == name;
        EXPECT_TRUE(found) << "the file does not carry the name in UTF-8";
    }
}

TEST(platform_names, windows_keeps_device_names_and_some_characters)
{
    struct name_case {
        const char* name;
        bool windows;  // refused there; Linux refuses none of them
    };
    const name_case cases[] = {
        {"ROOT.hex", false},      {"NUL.hex", true},       {"nul.hex", true},
        {"Con.hex", true},        {"PRN.hex", true},       {"AUX.hex", true},
        {"COM1.hex", true},       {"com9.hex", true},      {"LPT1.hex", true},
        {"lpt9.x.hex", true},     {"NUL .hex", true},      {"CONIN$.hex", true},
        {"COM0.hex", false},      {"COM10.hex", false},    {"NULL.hex", false},
        {"XNUL.hex", false},      {"CON_.hex", false},     {"a<b.hex", true},
        {"a>b.hex", true},        {"a:b.hex", true},       {"a\"b.hex", true},
        {"a|b.hex", true},        {"a?.hex", true},        {"a*.hex", true},
        {"a\x01" "b.hex", true},  {"a\x1f.hex", true},     {"trailing.", true},
        {"trailing ", true},      {".hex", false},         {"a b.hex", false},
        {"donn\xC3\xA9" "es.hex", false}, {"caf\xE9.hex", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fw::reserved_name(c.name), th::built_for_windows() && c.windows);
    }
}

}  // namespace
