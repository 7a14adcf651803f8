// Bash completion: the file the package installs, run by a real bash on command lines typed so
// far, and the words it offers held against what the programs themselves accept.
#include "harness.h"

#include "cli.h"
#include "formats/formats.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// pkg/completion.bash with zorbin's tables written in by the build.
const std::string script = FWKIT_COMPLETION;

// What bash does on TAB at the end of the last word: COMP_WORDS and COMP_CWORD set, the function
// registered for the command called with the command, the word and the word before it.
constexpr const char* driver = R"sh(source "$1" || exit 2
shift
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
read -r -a registered <<< "$(complete -p "$1")" || exit 3
"${registered[2]}" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
)sh";

// The words offered, sorted and joined by blanks.
std::string complete(const std::vector<std::string>& words, const th::options& o = {})
{
    std::vector<std::string> argv{"bash", "--norc", "--noprofile", "-c", driver, "bash", script};
    argv.insert(argv.end(), words.begin(), words.end());
    auto r = th::run_argv("/bin/bash", argv, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> got;
    std::istringstream lines(r.out);
    for (std::string w; std::getline(lines, w);)
        if (!w.empty())
            got.push_back(w);
    std::sort(got.begin(), got.end());
    std::string joined;
    for (const auto& w : got)
        joined += (joined.empty() ? "" : " ") + w;
    return joined;
}

std::string spaced(const std::vector<std::string>& words)
{
    std::string s;
    for (const auto& w : words)
        s.append(s.empty() ? "" : " ").append(w);
    return s;
}

// The option word w as typed.
std::string dash(std::string_view w)
{
    std::string s(1, '-');
    return s.append(w);
}

struct completion_case {
    const char* what;
    std::vector<std::string> words;  // the command line; the last word is being completed
    std::string want;                // the words offered, sorted
};

// The scratch directory holds task.def, task.srec, -x.srec and the directory tools.
const std::string all_files = "-x.srec task.def task.srec tools";
const std::string t_files = "task.def task.srec tools";

const completion_case cases[] = {
    // zorbin: option words in the case style typed, files elsewhere, nothing for -base's number.
    {"small letters give small letters", {"zorbin", "-mo"}, "-mostech -motorola32"},
    {"capitals give capitals", {"zorbin", "-MO"}, "-MOSTECH -MOTOROLA32"},
    {"the second name; typed part kept", {"Zorbin", "-Exor"}, "-Exorciser -Exormacs"},
    {"digits count as neither case", {"zorbin", "-MCS"}, "-MCS86"},
    {"-bin and -binary", {"zorbin", "-BI"}, "-BIN -BINARY"},
    {"a complete word", {"zorbin", "-intel32"}, "-intel32"},
    {"no such word", {"zorbin", "-x"}, ""},
    {"file names", {"zorbin", "-intel32", "t"}, t_files},
    {"every file without a prefix", {"zorbin", "-mds", ""}, all_files},
    {"-base takes a number", {"zorbin", "-base", ""}, ""},
    {"-entry takes a number", {"zorbin", "-ENTRY", "-"}, ""},
    {"-range takes two numbers", {"zorbin", "-range", "0", ""}, ""},
    {"options again after -range's two", {"zorbin", "-range", "0", "4", "-ra"}, "-range -raw"},
    {"-crc takes a kind, then a number", {"zorbin", "-crc", "crc3"},
     "crc32 crc32-bzip2 crc32-cksum crc32-mpeg2 crc32be crc32c"},
    {"-crc's address", {"zorbin", "-crc", "stm32", "t"}, ""},
    {"-add takes a file", {"zorbin", "-add", "t"}, t_files},
    {"-addbin takes a file, then a number", {"zorbin", "-addbin", "task.def", "t"}, ""},
    {"-base takes the next word whatever it is", {"zorbin", "-Base", "-"}, ""},
    {"options again after the number", {"zorbin", "-BASE", "-", "-i"}, "-ihf -info -input -intel32"},
    {"-a", {"zorbin", "-a"}, "-add -addbin"},
    {"a number spelt -base is no option", {"zorbin", "-base", "-base", "t"}, t_files},
    {"-split's width may be left out", {"zorbin", "-split", "2", "0", "-crc", "crc32-"},
     "crc32-bzip2 crc32-cksum crc32-mpeg2"},
    {"-split's width given", {"zorbin", "-split", "2", "0", "4", "-crc", "crc32-"},
     "crc32-bzip2 crc32-cksum crc32-mpeg2"},
    {"files where -split's width may stand", {"zorbin", "-split", "2", "0", "t"}, t_files},
    {"-name takes a word", {"zorbin", "-name", "t"}, ""},
    // kelvash: getopt's view of which word is an option's argument.
    {"options", {"kelvash", "-"}, "-a -c -d -e -l -m -n -o -p -r -s -u -v"},
    {"-d takes a file", {"kelvash", "-d", "t"}, t_files},
    {"-o takes a file", {"kelvash", "-r", "-o", "t"}, t_files},
    {"-d grouped after flags", {"kelvash", "-avd", "t"}, t_files},
    {"-p takes a number", {"kelvash", "-p", ""}, ""},
    {"-c takes letters, even one like an option", {"kelvash", "-c", "-"}, ""},
    {"-p ate -o, so options again", {"kelvash", "-p", "-o", "-r"}, "-r"},
    {"-d ate -p, so the input file", {"kelvash", "-d", "-p", "t"}, t_files},
    {"an argument in the same word", {"kelvash", "-dtask.def", "-v"}, "-v"},
    {"after -- only files", {"kelvash", "--", "-"}, "-x.srec"},
    {"the input file", {"kelvash", "-a", ""}, all_files},
    // orvane: a directory, the list file, the type word, then nothing.
    {"directories only first", {"orvane", ""}, "tools"},
    {"then the list file", {"orvane", "tools/", "t"}, t_files},
    {"then the type", {"orvane", "tools/", "task.def", "3"}, "32b 32l"},
    {"every type", {"orvane", "tools/", "task.def", ""}, "16b 16l 32b 32l"},
    {"nothing after the type", {"orvane", "tools/", "task.def", "32l", ""}, ""},
};

class completion : public th::tmpdir {
protected:
    void SetUp() override
    {
        th::tmpdir::SetUp();
        for (const char* f : {"task.def", "task.srec", "-x.srec"})
            th::write_file(dir / f, "");
        fs::create_directory(dir / "tools");
    }
};

TEST_F(completion, table)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(complete(c.words, in_dir()), c.want);
    }
}

// The words zorbin's manual page gives, without their "-": each option that heads an entry of
// OPTIONS (-\fIformat\fP stands for the formats), and each word of the FORMATS table.
struct manual_words {
    std::vector<std::string> options, formats;
};

manual_words zorbin_manual()
{
    manual_words m;
    std::istringstream page(th::read_file(FWKIT_SOURCE_DIR "/man/zorbin.1"));
    std::string section, line;
    bool head = false, table = false;
    while (std::getline(page, line)) {
        if (line.starts_with(".SH "))
            section = line.substr(4);
        else if (section == "OPTIONS" && head)
            for (const auto& w : th::words(line))
                if (w.starts_with("\\-") && w.size() > 2)
                    m.options.push_back(w.substr(2));
        if (section == "FORMATS" && line == ".TE")
            table = false;
        else if (table)
            m.formats.push_back(line.substr(0, line.find('\t')));
        else if (section == "FORMATS" && line == "_")
            table = true;
        head = line == ".TP";
    }
    return m;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), ::tolower);
    return s;
}

// The words offered for zorbin are exactly those of its tables, every option with its alias
// and every format; each one zorbin knows, in capitals too; and every option and format of its
// help text is among them; the manual page gives each.
TEST(completion_words, zorbin_offers_its_own_words)
{
    std::vector<std::string> want{dash(zb::word_of(zb::raw))};
    for (const zb::option_row& o : zb::option_table())
        for (std::string_view w : {o.word, o.alias})
            if (!w.empty())
                want.push_back(dash(w));
    for (const zb::fmt f : zb::hex_formats)
        want.push_back(dash(zb::formats[f].word));
    std::sort(want.begin(), want.end());
    auto offered = th::words(complete({"zorbin", "-"}));
    ASSERT_EQ(offered, want);
    // ... and each of them has its place in the manual page.
    const manual_words manual = zorbin_manual();
    std::vector<std::string> documented;
    for (const auto* list : {&manual.options, &manual.formats})
        for (const auto& w : *list)
            documented.push_back("-" + w);
    std::sort(documented.begin(), documented.end());
    EXPECT_EQ(documented, want) << "the manual page's OPTIONS and FORMATS";
    for (const auto& w : offered) {
        SCOPED_TRACE(w);
        std::string upper = w;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        for (const std::string& word : {w, upper}) {
            auto r = th::run("zorbin", {word});
            EXPECT_EQ(r.out.find("Unrecognised"), std::string::npos) << r.out;
        }
    }
    std::istringstream help(th::run("zorbin", {"-help"}).err);
    std::vector<std::string> listed;
    for (std::string line; std::getline(help, line);) {
        if (line.empty() || line[0] != '-')
            continue;
        std::string word = lower(line.substr(0, line.find(' ')));
        SCOPED_TRACE(line);
        EXPECT_NE(std::find(offered.begin(), offered.end(), word), offered.end());
        listed.push_back(word.substr(1));
    }
    // The formats the help lists are those whose rows have a help line.
    for (const auto& f : manual.formats) {
        const auto row = std::find_if(zb::hex_formats.begin(), zb::hex_formats.end(),
                                      [&](zb::fmt g) { return zb::formats[g].word == f; });
        ASSERT_NE(row, zb::hex_formats.end()) << f;
        EXPECT_EQ(std::find(listed.begin(), listed.end(), f) != listed.end(),
                  !zb::formats[*row].help.empty())
            << f;
    }
}

// What the completion offers after each option comes from the kinds of its row's arguments:
// files for a file, the CRC kinds for a kind, nothing for a number or another word; then the
// options again.
TEST_F(completion, each_option_takes_the_arguments_of_its_row)
{
    struct typed {
        zb::arg_kind kind;
        const char* word;     // typed for each word of the argument
        std::string offered;  // what is offered for it
    };
    const typed kinds[] = {
        {zb::arg_kind::number, "t", ""},     {zb::arg_kind::address, "t", ""},
        {zb::arg_kind::byte, "t", ""},       {zb::arg_kind::range, "t", ""},
        {zb::arg_kind::file, "t", t_files},  {zb::arg_kind::crc_kind, "crc16-", "crc16-arc crc16-ccitt-false crc16-ibm-3740 crc16-kermit crc16-modbus crc16-xmodem"},
        {zb::arg_kind::input_kind, "t", ""}, {zb::arg_kind::name, "t", ""},
        {zb::arg_kind::text, "t", ""},
        // Where a number may be left out, what may stand there instead.
        {zb::arg_kind::maybe, "t", t_files},
        {zb::arg_kind::family, "t", ""},     {zb::arg_kind::usb_id, "t", ""},
    };
    for (const zb::option_row& o : zb::option_table()) {
        std::vector<std::string> line{"zorbin", dash(o.word)};
        for (const zb::arg_kind k : o.args) {
            if (k == zb::arg_kind::none)
                break;
            const auto t = std::find_if(std::begin(kinds), std::end(kinds),
                                        [&](const typed& t) { return t.kind == k; });
            ASSERT_NE(t, std::end(kinds)) << "a kind without its row here";
            for (int n = 0; n < (k == zb::arg_kind::range ? 2 : 1); ++n) {
                line.push_back(t->word);
                SCOPED_TRACE(spaced(line));
                EXPECT_EQ(complete(line, in_dir()), t->offered);
            }
        }
        line.push_back("-intel3");
        SCOPED_TRACE(spaced(line));
        EXPECT_EQ(complete(line, in_dir()), "-intel32");
    }
}

// The options offered for kelvash are exactly the letters its scanner takes.
TEST(completion_words, kelvash_offers_its_own_options)
{
    std::string taken;
    for (char c = 'a'; c <= 'z'; c++) {
        auto r = th::run("kelvash", {std::string("-") + c});
        if (r.err.find("unrecognized option") == std::string::npos)
            taken += std::string(taken.empty() ? "-" : " -") + c;
    }
    EXPECT_EQ(complete({"kelvash", "-"}), taken);
}

// The type words offered for orvane are those of its usage line.
TEST(completion_words, orvane_offers_its_usage_types)
{
    std::string usage = th::run("orvane", {}).out;
    auto open = usage.find('['), close = usage.find(']');
    ASSERT_NE(close, std::string::npos) << usage;
    std::string types = usage.substr(open + 1, close - open - 1);
    std::erase(types, '|');
    auto want = th::words(types);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(th::words(complete({"orvane", "d/", "list", ""})), want);
}

}  // namespace
