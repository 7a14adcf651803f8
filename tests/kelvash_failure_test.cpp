// kelvash under injected failures: a disk that fills up while the load file is written, and a
// load file name that is a directory. The run fails with the system's reason for the load
// file, and an old load file stays as it was, with nothing left beside it.
#include "kelvash_fixture.h"

#include <thread>

namespace {

class kelvash_failure : public kt::fixture {};

// 200 S1 records of 16 bytes from 0x1000, then the end record: 9 KiB of text.
std::string big_srec()
{
    std::string s;
    char line[64];
    for (unsigned k = 0; k < 200; k++) {
        unsigned addr = 0x1000 + 16 * k, sum = 0x13 + (addr >> 8) + (addr & 0xFF);
        std::snprintf(line, sizeof line, "S113%04X", addr);
        s += line;
        for (unsigned b = 0; b < 16; b++) {
            std::snprintf(line, sizeof line, "%02X", b);
            s += line;
            sum += b;
        }
        std::snprintf(line, sizeof line, "%02X\n", ~sum & 0xFF);
        s += line;
    }
    return s + "S9031000EC\n";
}

// A file size limit of the Linux process has no Windows counterpart.
TEST_F(kelvash_failure, linux_only_disk_full_keeps_the_old_load_file_and_leaves_nothing_else)
{
    const std::string aif = "AIF" + std::string(9000, '\x7F');
    struct {
        const char* what;
        std::string input;
        bool old_file;
    } cases[] = {
        {"S-record input over an old load file", big_srec(), true},
        {"AIF input over an old load file", aif, true},
        {"S-record input, no load file before", big_srec(), false},
        {"AIF input, no load file before", aif, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir / "out.ld");
        put("task.s", c.input);
        if (c.old_file)
            put("out.ld", "previous");
        th::options o;
        o.file_size_limit = 2048;
        auto r = run({"-a", "task.s"}, o);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "out.ld: File too large\n");
        EXPECT_EQ(r.status, 1);
        if (c.old_file)
            EXPECT_EQ(get("out.ld"), "previous");
        else
            EXPECT_FALSE(exists("out.ld"));
        EXPECT_EQ(others({"task.s", "out.ld"}), std::vector<std::string>{});
    }
}

// Two runs at once writing one load file that has a second link (make -j, two rules for one
// file): the old file is rewritten in place by each in turn, so it ends as the whole output of
// one of them, never a mix of both.
TEST_F(kelvash_failure, two_runs_writing_one_linked_load_file_never_mix)
{
    put("a.aif", "AIF" + std::string(3 << 20, 'a'));
    put("b.aif", "AIF" + std::string(2 << 20, 'b'));
    ASSERT_EQ(run({"-a", "-o", "a.ld", "a.aif"}).status, 0);
    ASSERT_EQ(run({"-a", "-o", "b.ld", "b.aif"}).status, 0);
    const std::string a = get("a.ld"), b = get("b.ld");
    for (int round = 0; round < 10; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::remove(dir / "out.ld");
        std::filesystem::remove(dir / "link.ld");
        put("out.ld", "previous");
        std::filesystem::create_hard_link(dir / "out.ld", dir / "link.ld");
        th::result ra, rb;
        std::thread ta([&] { ra = run({"-a", "-o", "out.ld", "a.aif"}); });
        std::thread tb([&] { rb = run({"-a", "-o", "out.ld", "b.aif"}); });
        ta.join();
        tb.join();
        EXPECT_EQ(ra.status, 0) << ra.err;
        EXPECT_EQ(rb.status, 0) << rb.err;
        std::string got = get("link.ld");
        EXPECT_TRUE(got == a || got == b) << "bytes of both runs mixed: " << got.size() << " bytes";
        EXPECT_EQ(get("out.ld"), got);
        EXPECT_EQ(others({"a.aif", "b.aif", "a.ld", "b.ld", "out.ld", "link.ld"}), std::vector<std::string>{});
    }
}

TEST_F(kelvash_failure, a_load_file_name_that_is_a_directory)
{
    put("task.s", kt::small_srec);
    std::filesystem::create_directory(dir / "sub");
    for (const char* name : {"sub", "sub/"}) {
        SCOPED_TRACE(name);
        auto r = run({"-a", "-o", name, "task.s"});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string(name) + ": Is a directory\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "sub"));
        EXPECT_EQ(others({"task.s", "sub"}), std::vector<std::string>{});
    }
}

// Edges of real file systems and inputs with no size of their own: each refused before
// anything is written, exit 1, every file as it was.
TEST_F(kelvash_failure, edges_of_the_file_system)
{
    namespace fs = std::filesystem;
    put("t.srec", kt::small_srec);
    put("task.def", "-a\n");
    put("out.ld", "previous");
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    fs::create_hard_link(dir / "t.srec", dir / "t.hard");
    const std::vector<std::string> known = {"t.srec", "task.def", "out.ld", "loop1", "loop2", "t.hard"};
    struct {
        const char* what;
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {"load file is a loop of symbolic links", {"-a", "-o", "loop1", "t.srec"},
         "loop1: Too many levels of symbolic links\n"},
        {"load file is the input", {"-a", "-o", "t.srec", "t.srec"},
         kt::msg("Output file t.srec is the input file t.srec")},
        {"load file is a hard link of the input", {"-a", "-o", "t.hard", "t.srec"},
         kt::msg("Output file t.hard is the input file t.srec")},
        {"load file is the defaults file", {"-d", "task.def", "-o", "task.def", "t.srec"},
         kt::msg("Output file task.def is the defaults file task.def")},
        {"input with no end", {"-a", "/dev/zero"}, "/dev/zero: Illegal seek\n"},
        {"input that is empty at once", {"-a", "/dev/null"}, "/dev/null: File is empty\n"},
        {"input whose size is not what it holds", {"-a", "/proc/version"},
         "/proc/version: File changed size while it was copied\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = run(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(get("t.srec"), kt::small_srec);
        EXPECT_EQ(get("task.def"), "-a\n");
        EXPECT_EQ(get("out.ld"), "previous");
        EXPECT_TRUE(fs::is_symlink(dir / "loop1"));
        EXPECT_EQ(others(known), std::vector<std::string>{});
    }
}

// Windows has no file name for standard input.
TEST_F(kelvash_failure, linux_only_an_endless_defaults_file_stops_at_the_first_token_too_many)
{
    // Time and memory are capped well below what reading the stream whole would take
    // (AddressSanitizer reserves more address space than the memory cap allows).
#if defined(__SANITIZE_ADDRESS__)
    const std::string cap = "";
#else
    const std::string cap = "ulimit -v 100000; ";
#endif
    put("t.srec", kt::small_srec);
    th::options o;
    o.cwd = dir.string();
    o.unset_env.push_back("POSIX_ME_HARDER");
    auto r = th::run_argv("/bin/sh", {"sh", "-c", cap + "yes -- -v 2>/dev/null | timeout 60 " +
                                                      kt::prog + " -a -d /dev/stdin t.srec"}, o);
    EXPECT_EQ(r.err, kt::msg("Too many options in the defaults file"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(kelvash_failure, a_load_file_under_dev_goes_through_a_temporary_file)
{
    namespace fs = std::filesystem;
    REQUIRE_SYSTEM_FILE("/dev/shm");
    const th::private_dir shm_dir("/dev/shm");
    const fs::path& shm = shm_dir.path;
    th::write_file(shm / "k.ld", "previous");
    put("bad.srec", kt::small_srec.substr(0, 60) + "\nX\n");
    auto r = run({"-a", "-o", (shm / "k.ld").string(), "bad.srec"});
    std::string kept = th::read_file(shm / "k.ld");
    bool alone = std::distance(fs::directory_iterator(shm), fs::directory_iterator()) == 1;
    EXPECT_EQ(r.err, kt::msg("Syntax error in file"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(kept, "previous");
    EXPECT_TRUE(alone);
}

}  // namespace
