// kelvash command line end to end: the scanner's grouping, arguments, permutation and
// diagnostics, every validation message with or without the usage text, the order of the
// checks, argv[0] in messages, and the number syntax.
#include "kelvash_fixture.h"
#include "options.h"

namespace {

using kt::msg;
using kt::prog;
using kt::usage;

class kelvash_cli : public kt::fixture {
protected:
    void SetUp() override
    {
        fixture::SetUp();
        put("task.s", kt::small_srec);
    }
};

struct failure_case {
    const char* what;
    std::vector<std::string> args;
    std::string err;
};

TEST_F(kelvash_cli, failures_print_their_message_and_exit_1_without_output)
{
    const failure_case cases[] = {
        {"no argument: usage alone", {}, usage()},
        {"no operand", {"-a"}, msg("No input file specified") + usage()},
        {"two operands", {"-a", "one.s", "two.s"},
         msg("More than one input files cannot be specified") + usage()},
        {"-a then -r", {"-a", "-r", "task.s"},
         msg("Only one of '-a' or '-r' '-i' options can be specified")},
        {"-r then -a, grouped", {"-ra", "task.s"},
         msg("Only one of '-a' or '-r' '-i' options can be specified")},
        {"-i is no option", {"-i", "task.s"}, prog + ": unrecognized option `-i'\n" + usage()},
        {"colon is no option", {"-:", "task.s"}, prog + ": unrecognized option `-:'\n" + usage()},
        {"-- joined to letters", {"--x", "task.s"}, prog + ": unrecognized option `--'\n" + usage()},
        {"bad letter inside a group", {"-avx", "task.s"},
         prog + ": unrecognized option `-x'\n" + usage()},
        {"control character in octal", {"-\x01", "task.s"},
         prog + ": unrecognized option, character code 01\n" + usage()},
        {"escape in octal", {"-\x1b", "task.s"},
         prog + ": unrecognized option, character code 033\n" + usage()},
        {"DEL in octal", {"-\x7f", "task.s"},
         prog + ": unrecognized option, character code 0177\n" + usage()},
        // Windows arguments are Unicode text, passed in UTF-8: there the byte is the first of é.
        {"byte above 127 in octal, unsigned", {th::windows() ? "-\xc3\xa9" : "-\xe9", "task.s"},
         prog + ": unrecognized option, character code " + (th::windows() ? "0303" : "0351") +
             "\n" + usage()},
        {"argument letter last", {"task.s", "-a", "-p"},
         prog + ": option `-p' requires an argument\n" + usage()},
        {"argument letter last in a group", {"task.s", "-vp"},
         prog + ": option `-p' requires an argument\n" + usage()},
        {"-p 0", {"-a", "-p", "0", "task.s"}, msg("Invalid priority, shall be between 1 and 255")},
        {"-p 256", {"-a", "-p", "256", "task.s"}, msg("Invalid priority, shall be between 1 and 255")},
        {"-p -1", {"-a", "-p", "-1", "task.s"}, msg("Invalid priority, shall be between 1 and 255")},
        {"-p 0x80000000 is negative", {"-a", "-p", "0x80000000", "task.s"},
         msg("Invalid priority, shall be between 1 and 255")},
        {"-p x", {"-a", "-p", "x", "task.s"}, msg("Wrong or missing priority") + usage()},
        {"-p empty", {"-a", "-p", "", "task.s"}, msg("Wrong or missing priority") + usage()},
        {"-p sign alone", {"-a", "-p", "-", "task.s"}, msg("Wrong or missing priority") + usage()},
        {"-p beyond 32 bits", {"-a", "-p", "4294967296", "task.s"},
         msg("Wrong or missing priority") + usage()},
        {"-s 127", {"-a", "-s", "127", "task.s"},
         msg("Invalid supervisor stack size, shall be greater than 128")},
        {"-s x", {"-a", "-s", "x", "task.s"}, msg("Wrong or missing supervisor satck size") + usage()},
        {"-u -1", {"-a", "-u", "-1", "task.s"}, msg("Invalid user satck size")},
        {"-u 0xFFFFFFFF is -1", {"-a", "-u", "0xFFFFFFFF", "task.s"}, msg("Invalid user satck size")},
        {"-u x", {"-a", "-u", "x", "task.s"}, msg("Wrong or missing user stack size") + usage()},
        {"-e x", {"-a", "-e", "x", "task.s"}, msg("Wrong or missing start address") + usage()},
        {"-e below -2^31", {"-a", "-e", "-2147483649", "task.s"},
         msg("Wrong or missing start address") + usage()},
        {"-l takes -v as its argument", {"-a", "-l", "-v", "task.s"},
         msg("Wrong or missing load address") + usage()},
        {"-l 0x100000000", {"-a", "-l", "0x100000000", "task.s"},
         msg("Wrong or missing load address") + usage()},
        {"-c lower case", {"-a", "-c", "g", "task.s"},
         msg("Unkown flag \"g\" specified with -c option") + usage()},
        {"-c with an -m letter", {"-a", "-cGT", "task.s"},
         msg("Unkown flag \"T\" specified with -c option") + usage()},
        {"-m unknown letter", {"-a", "-m", "SX", "task.s"},
         msg("Unkown flag \"X\" specified with -m option") + usage()},
        {"first error wins: priority", {"-a", "-p", "0", "-s", "1", "task.s"},
         msg("Invalid priority, shall be between 1 and 255")},
        {"first error wins: stack", {"-a", "-s", "1", "-p", "0", "task.s"},
         msg("Invalid supervisor stack size, shall be greater than 128")},
        {"option errors before operand count", {"-p", "0"},
         msg("Invalid priority, shall be between 1 and 255")},
        {"-d of a missing file", {"-a", "-d", "none.def", "task.s"},
         "none.def: No such file or directory\n"},
        {"every -d must open", {"-a", "-d", "none.def", "-d", "task.s", "task.s"},
         "none.def: No such file or directory\n"},
        {"missing input", {"-a", "none.s"}, "none.s: No such file or directory\n"},
        {"empty operand names no file", {"-a", ""}, "No such file or directory\n"},
        {"- alone is an operand", {"-a", "-"}, "-: No such file or directory\n"},
        {"no -a or -r", {"task.s"}, msg("One of '-a' or '-r' '-i' options shall be specified") + usage()},
        {"unopenable output reported before missing -a",
         {"-o", "nodir/x.ld", "task.s"}, "nodir/x.ld: No such file or directory\n"},
        {"input is a directory", {"-a", "."}, ".: Is a directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = run(c.args);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(others({"task.s"}), std::vector<std::string>{});
    }
}

struct accepted_case {
    const char* what;
    std::vector<std::string> args;
    kt::header h;
};

kt::header small(kt::header h)
{
    h.entry = h.entry ? h.entry : 0x1000;
    h.size = 0x20;
    h.start = 0x1000;
    return h;
}

TEST_F(kelvash_cli, accepted_values_land_in_the_header)
{
    const accepted_case cases[] = {
        {"-p 255", {"-a", "-p", "255", "task.s"}, small({.priority = 255})},
        {"-p 0xFF", {"-a", "-p", "0xFF", "task.s"}, small({.priority = 255})},
        {"-p 1", {"-a", "-p", "1", "task.s"}, small({.priority = 1})},
        {"octal", {"-a", "-p", "010", "task.s"}, small({.priority = 8})},
        {"octal stops at 8", {"-a", "-p", "018", "task.s"}, small({.priority = 1})},
        {"blanks before, text after", {"-a", "-p", " \t10abc", "task.s"}, small({.priority = 10})},
        {"plus sign", {"-a", "-p", "+7", "task.s"}, small({.priority = 7})},
        {"0x without digits is 0 then text", {"-a", "-u", "0x", "task.s"}, small({})},
        {"attached argument", {"-a", "-p12", "task.s"}, small({.priority = 12})},
        {"-s 128", {"-a", "-s", "128", "task.s"}, small({.supv = 128})},
        {"-u 0", {"-a", "-u", "0", "task.s"}, small({})},
        {"-u 0X10", {"-a", "-u", "0X10", "task.s"}, small({.user = 16})},
        {"-c GF", {"-a", "-c", "GF", "task.s"}, small({.cflags = 3})},
        {"-c repeated accumulates", {"-a", "-c", "G", "-cF", "task.s"}, small({.cflags = 3})},
        {"-c empty", {"-a", "-c", "", "task.s"}, small({})},
        {"-m SA", {"-a", "-m", "SA", "task.s"}, small({.smode = 0x2004})},
        {"-m all, repeated letters", {"-a", "-m", "NTASN", "task.s"}, small({.smode = 0x2007})},
        {"-e 0x2000 beats S9", {"-a", "-e", "0x2000", "task.s"}, small({.entry = 0x2000})},
        {"-e -5", {"-a", "-e", "-5", "task.s"}, small({.entry = 0xFFFFFFFB})},
        {"-e -1 is not given", {"-a", "-e", "-1", "task.s"}, small({})},
        {"-e 0x80000000 kept", {"-a", "-e", "0x80000000", "task.s"}, small({.entry = 0x80000000})},
        {"-e -2147483648", {"-a", "-e", "-2147483648", "task.s"}, small({.entry = 0x80000000})},
        {"-e 4294967294", {"-a", "-e", "4294967294", "task.s"}, small({.entry = 0xFFFFFFFE})},
        {"-n AB", {"-a", "-n", "AB", "task.s"}, small({.name = std::string("AB\0\0", 4)})},
        {"-n TASKNAME", {"-a", "-n", "TASKNAME", "task.s"}, small({.name = "TASK"})},
        {"-n empty", {"-a", "-n", "", "task.s"}, small({.name = std::string(4, '\0')})},
        {"-a -a", {"-a", "-a", "task.s"}, small({})},
        {"-r", {"-r", "task.s"}, small({.tag = "SRECR"})},
        {"-av grouped first", {"-av", "task.s"}, small({})},
        {"operand first, options after", {"task.s", "-r"}, small({.tag = "SRECR"})},
        {"operands between options", {"-p", "3", "task.s", "-a"}, small({.priority = 3})},
        {"-- ends the options", {"-a", "--", "task.s"}, small({})},
        {"-- as an argument", {"-a", "-n", "--", "task.s"}, small({.name = std::string("--\0\0", 4)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = run(c.args);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(get("out.ld"), c.h.text() + kt::small_srec);
    }
}

TEST_F(kelvash_cli, names_in_utf8)
{
    const std::string in = "donn\xC3\xA9" "es.s", out = "\xE6\x97\xA5\xE6\x9C\xAC.ld";
    put(in, kt::small_srec);
    auto r = run({"-a", "-o", out, in});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get(out), small({}).text() + kt::small_srec);
    r = run({"-a", "-o", out, "\xE6\x97\xA5.s"});
    EXPECT_EQ(r.err, "\xE6\x97\xA5.s: No such file or directory\n");
}

TEST_F(kelvash_cli, posix_me_harder_stops_options_at_the_first_operand)
{
    th::options o;
    o.set_env = {"POSIX_ME_HARDER="};
    auto r = run({"task.s", "-r"}, o);
    EXPECT_EQ(r.err, msg("More than one input files cannot be specified") + usage());
    EXPECT_EQ(r.status, 1);

    r = run({"-r", "task.s"}, o);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // A file named like an option, after the first operand, is no option.
    put("-v", "X");
    o.set_env = {"POSIX_ME_HARDER=1"};
    r = run({"-a", "-o", "x.ld", "--", "-v"}, o);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("x.ld").size(), 82u);
}

// Under Wine the C runtime gives argv[0] as the program's DOS path, whatever the caller
// passes; every other kelvash test checks that name.
TEST_F(kelvash_cli, linux_only_messages_name_the_program_as_invoked)
{
    std::filesystem::create_symlink(prog, dir / "kv");
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_symlink(prog, dir / "sub" / "prep");
    const std::string names[] = {"./kv", "sub/prep", "kelvash"};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        th::options o = in_dir();
        o.unset_env = {"POSIX_ME_HARDER"};
        auto r = th::run_argv(prog, {name, "-p", "x", "task.s"}, o);
        EXPECT_EQ(r.err, msg("Wrong or missing priority", name) + usage(name));
        r = th::run_argv((dir / "kv").string(), {name, "-z"}, o);
        EXPECT_EQ(r.err, name + ": unrecognized option `-z'\n" + usage(name));
        r = th::run_argv((dir / "kv").string(), {name}, o);
        EXPECT_EQ(r.err, usage(name));
        EXPECT_EQ(r.status, 1);
    }
}

TEST_F(kelvash_cli, a_failed_run_leaves_an_existing_load_file_alone)
{
    put("out.ld", "previous");
    namespace fs = std::filesystem;
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir / "out.ld", mode);
    const std::vector<std::string> failing[] = {
        {"task.s"},                // no -a or -r
        {"-a", "-p", "0", "task.s"},
        {"-a", "none.s"},
    };
    for (const auto& args : failing) {
        auto r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(get("out.ld"), "previous");
        EXPECT_EQ(others({"task.s", "out.ld"}), std::vector<std::string>{});
    }
    // A complete run replaces it and keeps its permissions.
    EXPECT_EQ(run({"-a", "task.s"}).status, 0);
    EXPECT_EQ(get("out.ld"), small({}).text() + kt::small_srec);
    if (!th::not_on_windows("POSIX permissions")) {
        EXPECT_EQ(fs::status(dir / "out.ld").permissions(), mode);
    }
}

// The option scanner alone: what each call returns, the operands it sets aside, and its
// diagnostics, for argument vectors given as plain text.
TEST(kelvash_scanner, options_arguments_and_operands_in_order)
{
    struct scan_case {
        const char* what;
        std::vector<std::string_view> argv;  // after the scanner's name
        bool in_order;
        std::string calls;  // one word per call: the letter, its argument after '=', '?' or ':'
        std::vector<std::string_view> operands;
        std::string err;
    };
    const scan_case cases[] = {
        {"grouped letters", {"-av"}, false, "a v", {}, ""},
        {"argument attached and apart", {"-pX", "-o", "f"}, false, "p=X o=f", {}, ""},
        {"argument ends a group", {"-vnAB", "c"}, false, "v n=AB", {"c"}, ""},
        {"operands mixed with options", {"x", "-a", "y"}, false, "a", {"x", "y"}, ""},
        {"in order: the first operand ends the options", {"x", "-a"}, true, "", {"x", "-a"}, ""},
        {"-- ends the options", {"-a", "--", "-v"}, false, "a", {"-v"}, ""},
        {"- alone is an operand", {"-", "-a"}, false, "a", {"-"}, ""},
        {"unknown letter, then on", {"-xa"}, false, "? a", {},
         "k: unrecognized option `-x'\n"},
        {"missing argument", {"-a", "-p"}, false, "a :", {}, "k: option `-p' requires an argument\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kv::scanner s;
        s.argv = {"k"};
        s.argv.insert(s.argv.end(), c.argv.begin(), c.argv.end());
        s.in_order = c.in_order;
        std::string calls, err;
        for (kv::scanned o; (o = kv::next_option(s)).what != kv::got::end;) {
            err += o.diagnostic;
            if (!calls.empty())
                calls += ' ';
            if (o.what == kv::got::bad_letter)
                calls += '?';
            else if (o.what == kv::got::no_argument)
                calls += ':';
            else
                calls += o.letter;
            if (o.what == kv::got::option && o.arg.data()) {
                calls += '=';  // appended piece by piece to keep g++ 12 -O3 quiet
                calls += o.arg;
            }
        }
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(s.operands, c.operands);
        EXPECT_EQ(err, c.err);
    }
}

// The number syntax alone: strtol's base 0, then the 32-bit pattern of the value.
TEST(kelvash_numbers, tonum_keeps_32_bit_patterns_and_refuses_the_rest)
{
    struct num_case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const num_case cases[] = {
        {"0", 0},
        {"2147483647", 2147483647},
        {"0x7FFFFFFF", 0x7FFFFFFF},
        {"0x80000000", INT32_MIN},
        {"4294967295", -1},
        {"0xffffffff", -1},
        {"037777777777", -1},
        {"-2147483648", INT32_MIN},
        {"-0x80000000", INT32_MIN},
        {"4294967296", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"-99999999999999999999999", std::nullopt},
        {"\v\f\r\n 12", 12},
        {"0x1g", 1},
        {"0xg", 0},
        {"08", 0},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"x1", std::nullopt},
        {"- 1", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(kv::tonum(c.text), c.value);
    }
}

}  // namespace
