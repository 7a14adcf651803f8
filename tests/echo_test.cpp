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

TEST(echo, write_error_is_reported_and_fails)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not available";
    th::options o;
    o.stdout_path = "/dev/full";
    auto r = th::run("echo", {"a"}, o);
    EXPECT_EQ(r.err, "echo: write error: No space left on device\r\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
