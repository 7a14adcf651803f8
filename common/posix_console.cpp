// Interruptions on POSIX systems: SIGINT, SIGTERM and SIGHUP remove the temporary files being
// written before the run ends, a file size limit is a write error rather than the end, and a
// mapped input cut short (SIGBUS) a read error.
#include <algorithm>
#include <climits>
#include <csignal>
#include <unistd.h>

#include "pending.h"
#include "system.h"

namespace fw::sys {

namespace {

// A file size limit (ulimit -f) is a write error like a full disk: the write fails with
// EFBIG, and the run ends with its message, its temporary file removed and the old file whole,
// instead of being killed halfway by SIGXFSZ.
[[gnu::constructor]] void size_limit_as_error() { ::signal(SIGXFSZ, SIG_IGN); }

// Temporary files to remove should SIGINT, SIGTERM or SIGHUP end the run: an interrupted
// conversion of a large image would otherwise leave gigabytes of hidden litter.
pending_files<char, NAME_MAX + 1> pending;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};
sigset_t before_hold;

extern "C" void remove_pending_and_die(int sig)
{
    pending.remove_all([](int dir, const char* name) { ::unlinkat(dir, name, 0); });
    // Ended by the same signal, so that the shell or make sees why the run stopped.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// What a mapped input cut short ends the run with.
char lost_text[4096];
std::size_t lost_size = 0;

extern "C" void lost_input(int)
{
    pending.remove_all([](int dir, const char* name) { ::unlinkat(dir, name, 0); });
    for (std::size_t at = 0; at < lost_size;) {
        const ssize_t n = ::write(1, lost_text + at, lost_size - at);
        if (n <= 0)
            break;
        at += static_cast<std::size_t>(n);
    }
    ::_exit(1);
}

}  // namespace

void on_lost_input(std::string_view text)
{
    lost_size = std::min(text.size(), sizeof lost_text);
    std::copy_n(text.data(), lost_size, lost_text);
    struct sigaction sa {};
    sa.sa_handler = lost_input;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, nullptr);
}

void install_cleanup()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    struct sigaction sa {};
    sa.sa_handler = remove_pending_and_die;
    sigemptyset(&sa.sa_mask);
    for (int sig : cleanup_signals)
        sigaddset(&sa.sa_mask, sig);
    for (int sig : cleanup_signals) {
        struct sigaction old {};
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(sig, &sa, nullptr);
    }
}

void watch(const outfile& f) { pending.watch(f.tmp, f.dir); }

void unwatch(const outfile& f) { pending.unwatch(f.tmp, f.dir); }

void hold_interrupts()
{
    sigset_t block;
    sigemptyset(&block);
    for (int sig : cleanup_signals)
        sigaddset(&block, sig);
    ::sigprocmask(SIG_BLOCK, &block, &before_hold);
}

void release_interrupts() { ::sigprocmask(SIG_SETMASK, &before_hold, nullptr); }

}  // namespace fw::sys
