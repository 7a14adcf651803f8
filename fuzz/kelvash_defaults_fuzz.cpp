// kelvash's defaults file: the tokenizer on arbitrary text, and defaults mode applied after a
// command line, read from a memory file as the program reads the file named by -d. The command
// line always wins: a field it set is never changed by the file.
//
// Input layout: byte 0 bit 0 stops the options at the first operand (POSIX_ME_HARDER), bits
// 1-7 give the length n of the command line; n bytes of NUL-separated command-line arguments
// follow (skipped when they hold a "/": -d there opens files), then the defaults file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "defaults.h"
#include "options.h"

namespace {

bool white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Tokens are the runs of non-white characters, in order; at most the last one is empty.
void check_tokens(std::string_view text)
{
    std::vector<std::string_view> vec;
    bool ok = kv::defaults_vector(text, vec);
    std::size_t runs = 0;
    for (std::size_t k = 0; k < text.size(); k++)
        runs += !white(text[k]) && (k == 0 || white(text[k - 1]));
    if (!ok) {
        CHECK(runs >= kv::max_tokens);
        return;
    }
    CHECK(!vec.empty() && vec[0] == "kelvash");
    CHECK(vec.size() - 1 <= kv::max_tokens);
    std::size_t nonempty = 0;
    const char* at = text.data();
    for (std::size_t k = 1; k < vec.size(); k++) {
        std::string_view tok = vec[k];
        if (tok.empty()) {
            CHECK(k == vec.size() - 1);
            continue;
        }
        nonempty++;
        CHECK(tok.data() >= at && tok.data() + tok.size() <= text.data() + text.size());
        CHECK(tok.data() == text.data() || white(tok.data()[-1]));
        for (char c : tok)
            CHECK(!white(c));
        at = tok.data() + tok.size();
    }
    CHECK(nonempty == runs);
}

int memfile()
{
    static int fd = memfd_create("defaults", MFD_CLOEXEC);
    CHECK(fd >= 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool in_order = data[0] & 1;
    std::size_t n = std::min<std::size_t>(data[0] >> 1, size - 1);
    std::string_view cmd(reinterpret_cast<const char*>(data) + 1, n);
    // A copy of exactly its size, so that the tokenizer cannot read past the text unnoticed.
    const std::string file(reinterpret_cast<const char*>(data) + 1 + n, size - 1 - n);

    check_tokens(std::string_view(file).substr(0, file.find('\0')));
    if (cmd.find('/') != std::string_view::npos)
        return 0;

    kv::scanner s;
    s.argv.push_back("kelvash");
    while (!cmd.empty()) {
        auto end = cmd.find('\0');
        s.argv.push_back(cmd.substr(0, end));
        cmd = end == std::string_view::npos ? std::string_view() : cmd.substr(end + 1);
    }
    s.in_order = in_order;
    kv::task t;
    kv::run_state run;
    kv::verdict v = kv::apply_options(s, kv::mode::command_line, t, run, "kelvash").v;
    if (run.defaults_fd >= 0)
        ::close(run.defaults_fd);
    run.defaults_fd = -1;
    if (v != kv::verdict::ok)
        return 0;
    const kv::task before = t;
    const kv::run_state run_before = run;

    int fd = memfile();
    CHECK(::ftruncate(fd, 0) == 0);
    CHECK(::pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()));
    CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    kv::found f = kv::apply_defaults(fd, "task.def", in_order, t, run, "kelvash");
    const std::string& err = f.messages;
    CHECK(err.empty() || err.back() == '\n');
    if (f.v != kv::verdict::ok) {
        CHECK(!err.empty());
        return 0;
    }
    // What the command line set stays; what it left may be filled.
    if (before.code_type != 0)
        CHECK(t.code_type == before.code_type);
    if (before.creation_flags != 0)
        CHECK(t.creation_flags == before.creation_flags);
    if (before.start_mode != 0)
        CHECK(t.start_mode == before.start_mode);
    if (before.priority != 0)
        CHECK(t.priority == before.priority);
    for (auto f : {&kv::task::entry_point, &kv::task::load_address, &kv::task::supv_stack_size,
                   &kv::task::user_stack_size})
        if (before.*f != -1)
            CHECK(t.*f == before.*f);
    if (std::string_view(before.task_name.data(), 4) != "LDBL")
        CHECK(t.task_name == before.task_name);
    if (before.out_file != "out.ld")
        CHECK(t.out_file == before.out_file);
    CHECK(run.verbose >= run_before.verbose);
    CHECK(run.defaults_fd == -1 && run.defaults_name == run_before.defaults_name);
    CHECK(t.priority >= 0 && t.priority <= 255);
    CHECK(t.supv_stack_size == -1 || t.supv_stack_size >= 128);
    CHECK(t.user_stack_size >= -1);
    // Only warnings for -d are left in err.
    for (std::size_t at = 0; at < err.size(); at = err.find('\n', at) + 1)
        CHECK(err.compare(at, 53, "kelvash: WARNING: -d option ignored in defaults file\n") == 0);
    return 0;
}
