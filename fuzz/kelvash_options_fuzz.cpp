// kelvash's option scanner on arbitrary argument vectors, event for event against the C
// library's getopt (GNU short-option rules), and the option loop's validation on the same vector.
//
// Input layout: byte 0 bit 0 stops the options at the first operand (POSIX_ME_HARDER); the rest
// are the arguments after the program name, separated by NUL bytes. Vectors with a "/" in any
// argument are skipped, since -d opens the file it names (the fuzzer runs in a scratch directory).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "options.h"

namespace {

constexpr std::size_t max_words = 24;

struct event {
    kv::got what;
    char letter;
    std::string arg;
    bool operator==(const event&) const = default;
};

struct scan {
    std::vector<event> events;
    std::vector<std::string> operands;
};

scan ours(const std::vector<std::string>& words, bool in_order, std::string& err)
{
    kv::scanner s;
    for (const auto& w : words)
        s.argv.push_back(w);
    s.in_order = in_order;
    scan r;
    for (;;) {
        kv::scanned o = kv::next_option(s);
        if (o.what == kv::got::end)
            break;
        err += o.diagnostic;
        r.events.push_back({o.what, o.letter, std::string(o.arg)});
    }
    // Everything is examined once the scan has ended.
    CHECK(s.next == s.argv.size() && s.group.empty());
    for (auto op : s.operands)
        r.operands.emplace_back(op);
    return r;
}

scan libc(const std::vector<std::string>& words, bool in_order)
{
    std::vector<char*> argv;
    std::vector<std::string> copy = words;
    for (auto& w : copy)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    optind = 0;  // a full restart
    opterr = 0;
    const char* set = in_order ? "+:arvc:d:e:l:m:n:o:p:s:u:" : ":arvc:d:e:l:m:n:o:p:s:u:";
    scan r;
    int argc = static_cast<int>(words.size());
    for (int c; (c = getopt(argc, argv.data(), set)) != -1;) {
        if (c == '?')
            r.events.push_back({kv::got::bad_letter, static_cast<char>(optopt), {}});
        else if (c == ':')
            r.events.push_back({kv::got::no_argument, static_cast<char>(optopt), {}});
        else
            r.events.push_back({kv::got::option, static_cast<char>(c), optarg ? optarg : ""});
    }
    for (int k = optind; k < argc; k++)
        r.operands.emplace_back(argv[k]);
    return r;
}

// Fields after a successful command line hold their marker or a valid value.
void check_task(const kv::task& t)
{
    CHECK(t.code_type == 0 || t.code_type == 'A' || t.code_type == 'R');
    CHECK(t.priority >= 0 && t.priority <= 255);
    CHECK(t.supv_stack_size == -1 || t.supv_stack_size >= 128);
    CHECK(t.user_stack_size >= -1);
    CHECK((t.creation_flags & ~0x3u) == 0);
    CHECK((t.start_mode & ~0x2007u) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("POSIXLY_CORRECT");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool in_order = data[0] & 1;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (text.find('/') != std::string_view::npos)
        return 0;
    std::vector<std::string> words{"kelvash"};
    while (!text.empty() && words.size() <= max_words) {
        auto end = text.find('\0');
        words.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }

    std::string err;
    scan a = ours(words, in_order, err);
    scan b = libc(words, in_order);
    CHECK(a.events == b.events);
    CHECK(a.operands == b.operands);
    // One diagnostic line per bad letter or missing argument, each naming the vector.
    std::size_t bad = 0, lines = 0;
    for (const auto& e : a.events)
        bad += e.what != kv::got::option;
    for (std::size_t at = 0; at < err.size(); at = err.find('\n', at) + 1) {
        CHECK(err.compare(at, 9, "kelvash: ") == 0);
        CHECK(err.find('\n', at) != std::string::npos);
        lines++;
    }
    CHECK(lines == bad);

    // The option loop on the same vector: it stops at the first failure, with a message.
    kv::task t;
    kv::run_state run;
    kv::scanner s;
    s.argv.assign(words.begin(), words.end());
    s.in_order = in_order;
    kv::found f = kv::apply_options(s, kv::mode::command_line, t, run, "kelvash");
    if (run.defaults_fd >= 0)
        ::close(run.defaults_fd);
    if (f.v == kv::verdict::ok) {
        CHECK(f.messages.empty());
        check_task(t);
        CHECK(std::vector<std::string>(s.operands.begin(), s.operands.end()) == a.operands);
    } else {
        CHECK(!f.messages.empty() && f.messages.back() == '\n');
    }
    return 0;
}
