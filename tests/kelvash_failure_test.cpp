// kelvash under injected failures: a disk that fills up while the load file is written, and a
// load file name that is a directory. The run fails with the system's reason for the load
// file, and an old load file stays as it was, with nothing left beside it.
#include "kelvash_fixture.h"

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

TEST_F(kelvash_failure, disk_full_keeps_the_old_load_file_and_leaves_nothing_else)
{
    if (th::windows())
        GTEST_SKIP() << "a file size limit of the Linux process has no Windows counterpart";
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

}  // namespace
