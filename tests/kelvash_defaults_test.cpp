// kelvash defaults file end to end: which value wins between command line and file, the
// 39-token limit with its trailing empty token, and the messages for bad files.
#include "defaults.h"
#include "kelvash_fixture.h"

namespace {

using kt::header;
using kt::msg;
using kt::prog;
using kt::usage;

class kelvash_defaults : public kt::fixture {
protected:
    void SetUp() override
    {
        fixture::SetUp();
        put("task.s", kt::small_srec);
    }

    // The small task's header with the given changes.
    static header small(header h)
    {
        h.entry = h.entry ? h.entry : 0x1000;
        h.size = 0x20;
        h.start = 0x1000;
        return h;
    }
};

struct precedence_case {
    const char* what;
    std::string file;
    std::vector<std::string> args;  // before "-d task.def task.s"
    header h;
    std::string out_file = "out.ld";
};

TEST_F(kelvash_defaults, command_line_wins_and_the_file_fills_the_rest)
{
    const precedence_case cases[] = {
        {"-a from the file alone", "-a\n", {}, small({})},
        {"-r from the file alone", "-r", {}, small({.tag = "SRECR"})},
        {"command line -r, file -a: no conflict", "-a\n", {"-r"}, small({.tag = "SRECR"})},
        {"first of -a and -r in the file", "-r -a\n", {}, small({.tag = "SRECR"})},
        {"command line -p 5 beats -p 7", "-a -p 7\n", {"-p", "5"}, small({.priority = 5})},
        {"-p 0 in the file for a set priority", "-a -p 0\n", {"-p", "5"}, small({.priority = 5})},
        {"bad -p in the file for a set priority", "-a -p x\n", {"-p", "5"}, small({.priority = 5})},
        {"first -p in the file wins", "-a -p 7 -p 9\n", {}, small({.priority = 7})},
        {"-e -1 in the file leaves the field open", "-a -e -1 -e 0x4000 -e 0x5000\n", {},
         small({.entry = 0x4000})},
        {"-n LDBL on the command line is overridden", "-a -n ABCD\n", {"-n", "LDBL"},
         small({.name = "ABCD"})},
        {"-n given on the command line stays", "-a -n ABCD\n", {"-n", "XY"},
         small({.name = std::string("XY\0\0", 4)})},
        {"-n fills from the file", "-a -nQRST\n", {}, small({.name = "QRST"})},
        {"-c set on the command line: file -c ignored, even bad", "-a -c F -c x\n", {"-c", "G"},
         small({.cflags = 1})},
        {"-c with no letters leaves it open", "-a -c F\n", {"-c", ""},
         small({.cflags = 2})},
        {"-m from the file", "-a -m SN\n", {}, small({.smode = 0x2001})},
        {"-m on the command line wins", "-a -m SN\n", {"-m", "T"}, small({.smode = 2})},
        {"-e from the file beats S9", "-a -e 0x4000\n", {}, small({.entry = 0x4000})},
        {"-e -1 on the command line is not given", "-a -e 0x4000\n", {"-e", "-1"},
         small({.entry = 0x4000})},
        {"-s and -u from the file", "-a -s 0x200 -u 64\n", {"-u", "0"},
         small({.supv = 0x200})},
        {"-s on the command line wins, bad file value unseen", "-a -s 1\n", {"-s", "256"},
         small({.supv = 256})},
        {"operands in the file are ignored", "other.s -a more.s\n", {}, small({})},
        {"CR LF line ends", "-a\r\n-p 7\r\n-n ABCD\r\n", {}, small({.name = "ABCD", .priority = 7})},
        {"all six white-space characters", "\t-a\v-p\f7\r-n ABCD \n", {},
         small({.name = "ABCD", .priority = 7})},
        {"a NUL ends the text", std::string("-a -p 7\0 -p 9 -x", 16), {},
         small({.priority = 7})},
        {"quotes have no meaning", "-a -n \"AB\"\n", {}, small({.name = "\"AB\""})},
        {"-o out.ld on the command line is overridden", "-a -o other.ld\n", {"-o", "out.ld"},
         small({}), "other.ld"},
        {"-o given on the command line stays", "-a -o other.ld\n", {"-o", "mine.ld"}, small({}),
         "mine.ld"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir / c.out_file);
        put("task.def", c.file);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-d", "task.def", "task.s"});
        auto r = run(args);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(get(c.out_file), c.h.text() + kt::small_srec);
    }
}

TEST_F(kelvash_defaults, every_v_counts_and_d_only_warns)
{
    put("task.def", "-a -v -d elsewhere.def -v\n");
    auto r = run({"-d", "task.def", "task.s"});
    EXPECT_EQ(r.err, msg("WARNING: -d option ignored in defaults file"));
    EXPECT_EQ(r.out.rfind("Object file type:\t\tMotorola S-Records\n", 0), 0u);
    EXPECT_EQ(r.status, 0);

    // Of several -d on the command line the last is read; each must open.
    put("first.def", "-p 9\n");
    put("last.def", "-a -p 3\n");
    r = run({"-d", "first.def", "-d", "last.def", "task.s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("out.ld"), small({.priority = 3}).text() + kt::small_srec);
    r = run({"-d", "last.def", "-d", "none.def", "task.s"});
    EXPECT_EQ(r.err, "none.def: No such file or directory\n");
    EXPECT_EQ(r.status, 1);
}

struct bad_file_case {
    const char* what;
    std::string file;
    std::string err;
};

std::string tokens(int n, const std::string& tail = "")
{
    std::string t = "-a";
    for (int i = 1; i < n; i++)
        t += " -v";
    return t + tail;
}

TEST_F(kelvash_defaults, bad_files_end_the_run_before_the_output)
{
    const std::string invalid = msg("Invalid option in the defaults file");
    const std::string many = msg("Too many options in the defaults file");
    const bad_file_case cases[] = {
        {"unknown letter", "-a -x\n", "kelvash: unrecognized option `-x'\n" + invalid + usage()},
        {"control character", "-a -\x02\n",
         "kelvash: unrecognized option, character code 02\n" + invalid + usage()},
        {"argument missing at the end", "-a -p",
         "kelvash: option `-p' requires an argument\n" + invalid + usage()},
        {"-d without its argument", "-a -d",
         "kelvash: option `-d' requires an argument\n" + invalid + usage()},
        {"warning, then an error", "-d x -y\n",
         msg("WARNING: -d option ignored in defaults file") + "kelvash: unrecognized option `-y'\n" +
             invalid + usage()},
        {"the empty last token is -p's argument", "-a -p\r\n", msg("Wrong or missing priority") + usage()},
        {"bad value for an open field", "-a -p 300\n", msg("Invalid priority, shall be between 1 and 255")},
        {"bad flag letter", "-c GX\n", msg("Unkown flag \"X\" specified with -c option") + usage()},
        {"-a and -r still open after the file", "-p 3\n",
         msg("One of '-a' or '-r' '-i' options shall be specified") + usage()},
        {"40 tokens", tokens(40), many},
        {"39 tokens, blank and newline: the empty 40th", tokens(39, " \n"), many},
        {"39 tokens and CR LF", tokens(39, "\r\n"), many},
        {"empty file", "", "task.def: File is empty\n"},
    };
    put("out.ld", "previous");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        put("task.def", c.file);
        auto r = run({"-d", "task.def", "task.s"});
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(get("out.ld"), "previous");
        EXPECT_EQ(others({"task.s", "task.def", "out.ld"}), std::vector<std::string>{});
    }
}

TEST_F(kelvash_defaults, token_limit_and_white_space_only)
{
    const std::pair<const char*, std::string> accepted[] = {
        {"39 tokens", tokens(39)},
        {"39 tokens and one newline", tokens(39, "\n")},
        {"white space only", " \r\n\t\n"},
        {"one newline", "\n"},
        {"a NUL first", std::string("\0-x", 3)},
    };
    for (const auto& [what, file] : accepted) {
        SCOPED_TRACE(what);
        put("task.def", file);
        auto r = run({"-a", "-d", "task.def", "task.s"});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(get("out.ld"), small({}).text() + kt::small_srec);
    }
}

TEST_F(kelvash_defaults, file_is_read_after_the_input_opens)
{
    put("task.def", "-x\n");
    auto r = run({"-a", "-d", "task.def", "none.s"});
    EXPECT_EQ(r.err, "none.s: No such file or directory\n");
    EXPECT_EQ(r.status, 1);

    // A defaults file that opens but cannot be read.
    std::filesystem::create_directory(dir / "defs");
    r = run({"-a", "-d", "defs", "task.s"});
    EXPECT_EQ(r.err, "defs: Is a directory\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(exists("out.ld"));
}

TEST_F(kelvash_defaults, posix_me_harder_stops_the_file_at_its_first_operand)
{
    put("task.def", "-p 4 other.s -a\n");
    th::options o;
    o.set_env = {"POSIX_ME_HARDER=yes"};
    auto r = run({"-d", "task.def", "task.s"}, o);
    EXPECT_EQ(r.err, msg("One of '-a' or '-r' '-i' options shall be specified") + usage());
    EXPECT_EQ(r.status, 1);
    r = run({"-r", "-d", "task.def", "task.s"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("out.ld"), small({.tag = "SRECR", .priority = 4}).text() + kt::small_srec);
}

// The vector alone: entry 0 names the scanner, then at most 39 tokens.
TEST(kelvash_defaults_vector, tokens_split_at_exactly_six_white_space_characters)
{
    struct split_case {
        const char* what;
        std::string text;
        std::vector<std::string_view> tokens;  // after "kelvash"; empty when refused
        bool ok = true;
    };
    const split_case cases[] = {
        {"nothing", "", {}},
        {"one token, no line end", "-a", {"-a"}},
        {"one white space after the last token", "-a\n", {"-a"}},
        {"two after it: an empty token", "-a\r\n", {"-a", ""}},
        {"white space only: one empty token", "  ", {""}},
        {"runs of white space between tokens", "-p \t\v\f 7", {"-p", "7"}},
        {"other control bytes belong to tokens", "a\x01" "b\x1c" "c", {"a\x01" "b\x1c" "c"}},
        {"quotes are bytes", "'a b'", {"'a", "b'"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string_view> vec;
        ASSERT_TRUE(kv::defaults_vector(c.text, vec));
        ASSERT_FALSE(vec.empty());
        EXPECT_EQ(vec[0], "kelvash");
        EXPECT_EQ(std::vector<std::string_view>(vec.begin() + 1, vec.end()), c.tokens);
    }
    std::vector<std::string_view> vec;
    std::string t39 = tokens(39), t40 = tokens(40);
    EXPECT_TRUE(kv::defaults_vector(t39, vec));
    EXPECT_EQ(vec.size(), 40u);
    EXPECT_FALSE(kv::defaults_vector(t40, vec));
}

// The demo's run on the bundled sample task and its defaults file.
TEST_F(kelvash_defaults, bundled_sample)
{
    auto r = run({"-a", "-p", "10", "-d", th::sample("task.def"), "-o", "task.ld", th::sample("task.srec")});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("task.ld"),
              "SRECADEMO0000000A0000040000000200000000020000200200008000000000010000006000008000" +
                  th::read_file(th::sample("task.srec")));
}

}  // namespace
