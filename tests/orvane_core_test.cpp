// orvane core functions called directly: text-mode reading over any chunking, names, pieces,
// which paths get tested, and lists that outgrow the old 512-byte texts.
#include "harness.h"

#include "orvane.h"

namespace {

using namespace std::string_literals;

TEST(orvane_core, translate_is_the_same_for_any_chunking)
{
    struct {
        const char* what;
        std::string raw, text;
    } cases[] = {
        {"LF passes", "a\nb\n", "a\nb\n"},
        {"CR LF is one newline", "a\r\nb\r\n", "a\nb\n"},
        {"lone CR is text", "a\rb", "a\rb"},
        {"CR at the very end is text", "a\r", "a\r"},
        {"CR CR LF", "\r\r\n", "\r\n"},
        {"LF CR LF", "\n\r\n", "\n\n"},
        {"CR LF LF", "\r\n\n", "\n\n"},
        {"0x1A ends the data", "a\n\x1a" "b\n", "a\n"},
        {"0x1A after a CR keeps the CR", "a\r\x1a\n", "a\r"},
        {"0x1A first", "\x1a" "abc", ""},
        {"NUL is data", "a\0b\r\n"s, "a\0b\n"s},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Whole, cut in two at every place, and a byte at a time: a CR LF pair split over two
        // reads must still read as one newline.
        for (std::size_t cut = 0; cut <= c.raw.size() + 1; cut++) {
            SCOPED_TRACE(cut > c.raw.size() ? "byte at a time" : "cut at " + std::to_string(cut));
            orvane::textmode t;
            std::string out;
            if (cut > c.raw.size()) {
                for (char ch : c.raw)
                    orvane::translate(t, std::string_view(&ch, 1), out);
            } else {
                orvane::translate(t, std::string_view(c.raw).substr(0, cut), out);
                orvane::translate(t, std::string_view(c.raw).substr(cut), out);
            }
            orvane::translate_end(t, out);
            EXPECT_EQ(out, c.text);
        }
    }
}

TEST(orvane_core, piece_len_stops_after_newline_or_511)
{
    struct {
        const char* what;
        std::string text;
        bool at_end;
        std::size_t len;
    } cases[] = {
        {"empty", "", true, 0},
        {"short, more may follow", "abc", false, 0},
        {"short, at the end", "abc", true, 3},
        {"up to the newline", "ab\ncd\n", false, 3},
        {"newline alone", "\nx", false, 1},
        {"newline as character 511", std::string(510, 'x') + "\n", false, 511},
        {"newline as character 512 waits", std::string(511, 'x') + "\n", false, 511},
        {"511 without newline, more may follow", std::string(511, 'x'), false, 511},
        {"much more", std::string(2000, 'x'), false, 511},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(orvane::piece_len(c.text, c.at_end), c.len);
    }
}

TEST(orvane_core, getname_takes_the_first_word)
{
    struct {
        std::string line, name;
    } cases[] = {
        {"a\n", "a"},         {"  \t\n a b\n", "a"}, {"a\tb", "a"},       {"a//b\n", "a"},
        {"//a\n", ""},        {"   //a\n", ""},      {"a/b/c\n", "a/b/c"}, {"a/\n", "a/"},
        {"\n", ""},           {"", ""},              {"  \t ", ""},        {"a\rb\n", "a\rb"},
        {"a\r\n", "a\r"},     {"\f\n", "\f"},        {"a\0b\n"s, "a"},     {"\0a\n"s, ""},
        {"x.32l // y", "x.32l"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.line));
        EXPECT_EQ(orvane::getname(c.line), c.name);
    }
}

std::vector<std::string> asked;

bool note_and_accept(const std::string& path)
{
    asked.push_back(path);
    return path.find('x') == std::string::npos;
}

TEST(orvane_core, only_names_of_the_right_type_get_a_file_test)
{
    asked.clear();
    orvane::source s{"src/", "32l", note_and_accept};
    auto out = orvane::objtext(
        "// kernel\na\nb // c\nx\n\nh.32l\nh2.16l\nh.32L\nfoo.\nsub.d/y\n  d e\n", s);
    EXPECT_EQ(asked, (std::vector<std::string>{"src/a.s", "src/b.s", "src/x.s", "src/h.32l",
                                               "src/d.s"}));
    EXPECT_EQ(out, "OBJS1 = obj32l/a.o \n"
                   "OBJS2 = obj32l/b.o \n"
                   "OBJS3 = h.32l \n"
                   "OBJS4 = obj32l/d.o \n"
                   "OBJS5 = obj32l/a.o \n"
                   "OBJS6 = obj32l/a.o \n"
                   "OBJS = $(OBJS1) $(OBJS2) $(OBJS3) $(OBJS4) $(OBJS5) $(OBJS6) \n");
}

TEST(orvane_core, lists_grow_past_the_old_text_size)
{
    // 600 names of 100 characters: each list holds 100 entries, far beyond 511 characters.
    std::string raw;
    for (int i = 0; i < 600; i++) {
        std::string n = std::to_string(i);
        raw += std::string(100 - n.size(), 'n') + n + "\n";
    }
    orvane::source s{"", "t", [](const std::string&) { return true; }};
    auto out = orvane::objtext(raw, s);
    auto first = out.substr(0, out.find('\n'));
    EXPECT_EQ(first.size(), 7 + 100 * (1 + 5 + 100 + 2) + 1u);  // " objt/" name ".o" each, " "
    EXPECT_TRUE(first.starts_with("OBJS1 = objt/" + std::string(99, 'n') + "0.o objt/"));
    EXPECT_TRUE(first.ends_with(" objt/" + std::string(97, 'n') + "594.o "));
}

}  // namespace
