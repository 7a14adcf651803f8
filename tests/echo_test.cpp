// echo end to end: exact bytes of its one line, and a failed write.
#include "harness.h"

#include <unistd.h>

namespace {

struct echo_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
};

TEST(echo, prints_each_argument_then_a_blank_and_crlf)
{
    const echo_case cases[] = {
        {"no argument: the line end alone", {}, "\r\n"},
        {"two words", {"a", "b"}, "a b \r\n"},
        {"empty argument between two", {"a", "", "b"}, "a  b \r\n"},
        {"blanks inside kept", {"x  y", " z "}, "x  y  z  \r\n"},
        {"newline inside goes out as CR LF", {"one\ntwo"}, "one\r\ntwo \r\n"},
        {"printf directives are data", {"%s%d", "%n"}, "%s%d %n \r\n"},
        {"backslash is data", {"a\\nb", "\\"}, "a\\nb \\ \r\n"},
        {"options are data", {"-n", "-e", "--help"}, "-n -e --help \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = th::run("echo", c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

class echo_files : public th::tmpdir {};

TEST_F(echo_files, write_errors_are_reported_and_fail)
{
    struct {
        const char* what;
        std::string stdout_path;
        long long limit;
        std::string reason;
    } cases[] = {
        {"a full device", "/dev/full", 0, "No space left on device"},
        {"a file that may not grow", path("line.txt"), 1024, "File too large"},
    };
    const std::string long_word(4096, 'w');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.limit > 0 && th::not_on_windows("a file size limit of the Linux process"))
            continue;
        if (c.stdout_path == "/dev/full")
            REQUIRE_SYSTEM_FILE("/dev/full");
        th::options o;
        o.stdout_path = c.stdout_path;
        o.file_size_limit = c.limit;
        auto r = th::run("echo", {"a", long_word}, o);
        EXPECT_EQ(r.err, "echo: write error: " + c.reason + "\r\n");
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
