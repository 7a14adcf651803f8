// orvane's output read by its real client, GNU make: the include, $(OBJS) and rules over it.
#include "harness.h"

#include <cstdlib>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Prints the variables in brackets, so that every blank of their values shows, and their word
// count. Nothing is handed to a shell. The second target compiles each object by the pattern
// rule (as a dry run, which prints the commands without running them).
const char* makefile = "include objs.mk\n"
                       "vpath %.32l src\n"
                       "print:\n"
                       "\t$(info [$(OBJS)])$(info [$(OBJS1)])$(info [$(OBJS6)])"
                       "$(info $(words $(OBJS)))\n"
                       "objs: $(OBJS)\n"
                       "obj32l/%.o: src/%.s\n"
                       "\tas -o $@ $<\n";

class orvane_make : public th::tmpdir {};

TEST_F(orvane_make, make_includes_the_lists_and_expands_objs)
{
    REQUIRE_TOOL("make");
    const std::string make = th::which("make");
    fs::create_directories(dir / "src");
    for (auto f : {"a", "b", "c", "d", "f", "g"})
        th::write_file(dir / "src" / (std::string(f) + ".s"), "");
    th::write_file(dir / "src/h.32l", "");
    th::write_file(dir / "Makefile", makefile);

    // GNU make drops the CR of each CR LF line end, but keeps the blank before it in the value:
    // every list ends in a blank, so $(OBJS) has two blanks between lists and two at its end.
    struct {
        const char* what;
        std::string list;
        std::string print;
        std::string objs;
    } cases[] = {
        {"seven names", "a\nb\nc\nh.32l\nd\nf\ng\n",
         "[obj32l/a.o obj32l/g.o  obj32l/b.o  obj32l/c.o  h.32l  obj32l/d.o  obj32l/f.o  ]\n"
         "[obj32l/a.o obj32l/g.o ]\n"
         "[obj32l/f.o ]\n"
         "7\n",
         "as -o obj32l/a.o src/a.s\n"
         "as -o obj32l/g.o src/g.s\n"
         "as -o obj32l/b.o src/b.s\n"
         "as -o obj32l/c.o src/c.s\n"
         "as -o obj32l/d.o src/d.s\n"
         "as -o obj32l/f.o src/f.s\n"},
        {"one name fills every list", "a\n",
         "[obj32l/a.o  obj32l/a.o  obj32l/a.o  obj32l/a.o  obj32l/a.o  obj32l/a.o  ]\n"
         "[obj32l/a.o ]\n"
         "[obj32l/a.o ]\n"
         "6\n",
         "as -o obj32l/a.o src/a.s\n"},
        {"no name: the lists are empty, OBJS only blanks", "// none\n",
         "[      ]\n"
         "[]\n"
         "[]\n"
         "0\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        th::write_file(dir / "objs.lst", c.list);
        th::options o = in_dir();
        o.stdout_path = path("objs.mk");
        auto gen = th::run("orvane", {"src/", "objs.lst", "32l"}, o);
        ASSERT_EQ(gen.status, 0);

        auto r = th::run_argv(make, {"make", "-f", "Makefile", "-s", "print"}, in_dir());
        EXPECT_EQ(r.out, c.print);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);

        r = th::run_argv(make, {"make", "-f", "Makefile", "-s", "-n", "objs"}, in_dir());
        EXPECT_EQ(r.out, c.objs);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

}  // namespace
