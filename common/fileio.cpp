// Whole-buffer writes, input checks, and safe replacement of output files on POSIX systems.
#include "fileio.h"
#include "pending.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fw {

int write_all(int fd, std::string_view s)
{
    const char* p = s.data();
    size_t left = s.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

namespace {

// A file size limit (ulimit -f) is a write error like a full disk: the write fails with
// EFBIG, and the run ends with its message, its temporary file removed and the old file whole,
// instead of being killed halfway by SIGXFSZ.
[[gnu::constructor]] void size_limit_as_error() { ::signal(SIGXFSZ, SIG_IGN); }

mode_t create_mode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool all_digits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string dir_of(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The file that a write through path really changes: a symbolic link is followed, so that
// the output replaces the file it leads to and not the link itself. Empty when the way passes
// a descriptor name.
std::string resolve(const std::string& path)
{
    std::string p = path;
    // The system refuses longer chains; the caller's stat has already met that refusal.
    for (int hops = 0; hops <= 40; hops++) {
        if (descriptor_name(p))
            return "";
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        char buf[PATH_MAX];
        ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
        if (n <= 0)
            return p;
        std::string target(buf, static_cast<std::size_t>(n));
        p = target[0] == '/' ? target : dir_of(p) + "/" + target;
    }
    return p;
}

// Temporary files to remove should SIGINT, SIGTERM or SIGHUP end the run: an interrupted
// conversion of a large image would otherwise leave gigabytes of hidden litter.
pending_files<char, NAME_MAX + 1> pending;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_pending_and_die(int sig)
{
    pending.remove_all([](int dir, const char* name) { ::unlinkat(dir, name, 0); });
    // Ended by the same signal, so that the shell or make sees why the run stopped.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
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

// Holds back the signals that remove temporary files while one is made or moved, so that
// none is ever made without being known to the handler.
sigset_t hold_signals()
{
    sigset_t block, old;
    sigemptyset(&block);
    for (int sig : cleanup_signals)
        sigaddset(&block, sig);
    ::sigprocmask(SIG_BLOCK, &block, &old);
    return old;
}

// Forgets the temporary file, which is gone by now, and lets its directory go.
void forget_tmp(outfile& f)
{
    if (!f.tmp.empty())
        pending.unwatch(f.tmp, f.dir);
    f.tmp.clear();
    if (f.dir >= 0)
        ::close(f.dir);
    f.dir = -1;
}

void remove_tmp(outfile& f)
{
    if (!f.tmp.empty())
        ::unlinkat(f.dir, f.tmp.c_str(), 0);
    forget_tmp(f);
}

// The directory that will hold the temporary file, open for the calls relative to it. Linux
// opens it with O_PATH, which asks only for the right to search it.
int open_dir(const std::string& dir)
{
#ifdef O_PATH
    return ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

// A new file ".fwkit-" and six letters in dir, created for reading and writing by us alone
// (as mkostemp makes one, but relative to dir); its name in name. -1 with errno set.
int create_temporary(int dir, std::string& name)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u ^
                           static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&name));
    for (int attempt = 0; attempt < 100; attempt++) {
        name = ".fwkit-";
        for (int k = 0; k < 6; k++) {
            seed = seed * 1103515245u + 12345u;
            name += letters[(seed >> 16) % 62];
        }
        int fd = ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// The temporary file takes over the old file's owner, group and mode, as a plain write would
// leave them. False when it cannot (another user's file, a group we are not in).
bool take_over(int fd, const struct stat& old)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    if ((st.st_uid != old.st_uid || st.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Claims room for size bytes of the file before any old byte is overwritten, so that a disk
// that cannot hold the output fails the run while the old file is still whole. Where the file
// system cannot reserve room the copy goes ahead as a plain write would.
int reserve(int fd, off_t size)
{
#ifdef FALLOC_FL_KEEP_SIZE
    if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return errno;
#else
    (void)fd;
    (void)size;
#endif
    return 0;
}

int copy_fd(int from, int to, off_t& size)
{
    std::vector<char> buf(std::size_t{1} << 20);
    size = 0;
    for (;;) {
        long long n = fw::read(from, buf.data(), buf.size());
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (int e = write_all(to, {buf.data(), static_cast<std::size_t>(n)}); e != 0)
            return e;
        size += n;
    }
}

// Waits for the exclusive lock on fd: another run that rewrites the same file in place (make
// -j with two rules for one output) copies its bytes before or after ours, never among them.
int lock(int fd)
{
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return errno;
    return 0;
}

// Copies the finished temporary file into the old file, which keeps its inode, links, owner
// and mode. The old bytes are overwritten before the file is cut to its new length, so a
// disk that is nearly full needs room only for the growth, and that room is claimed first.
// The signals that would remove the temporary file wait until the old file is whole again;
// they do not wait while another writer holds the lock.
int rewrite_in_place(outfile& f)
{
    int e = 0;
    int to = ::open(f.dest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, create_mode());
    if (to < 0 || (e = lock(to)) != 0) {
        e = to < 0 ? errno : e;
        if (to >= 0)
            ::close(to);
        remove_tmp(f);
        return e;
    }
    sigset_t old = hold_signals();
    int from = ::openat(f.dir, f.tmp.c_str(), O_RDONLY | O_CLOEXEC);
    off_t size = 0;
    struct stat st;
    if (from < 0 || ::fstat(from, &st) != 0)
        e = errno;
    else if ((e = reserve(to, st.st_size)) == 0 && (e = copy_fd(from, to, size)) == 0 &&
             ::ftruncate(to, size) != 0)
        e = errno;
    if (::close(to) != 0 && e == 0)
        e = errno;
    if (from >= 0)
        ::close(from);
    remove_tmp(f);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    return e;
}

}  // namespace

bool descriptor_name(std::string_view p)
{
    if (p == "/dev/stdin" || p == "/dev/stdout" || p == "/dev/stderr")
        return true;
    for (std::string_view dir : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"})
        if (p.starts_with(dir))
            return all_digits(p.substr(dir.size()));
    if (!p.starts_with("/proc/"))
        return false;
    p.remove_prefix(6);
    auto slash = p.find('/');
    return slash != std::string_view::npos && all_digits(p.substr(0, slash)) &&
           p.substr(slash).starts_with("/fd/") && all_digits(p.substr(slash + 4));
}

bool id_of(int fd, file_id& id)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

bool id_of(const std::string& path, file_id& id)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

int in_check(int fd, input& in)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    in.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (S_ISREG(st.st_mode)) {
        in.size = static_cast<std::uint64_t>(st.st_size);
        return 0;
    }
    // Seeking fails on pipes and terminals, which must not be read here: a terminal would wait.
    if (::lseek(fd, 0, SEEK_CUR) < 0)
        return ESPIPE;
    char probe;
    if (fw::read(fd, &probe, 1) != 0)
        return ESPIPE;
    in.size = 0;
    return 0;
}

int out_open(outfile& f, const std::string& path)
{
    f = outfile{};
    f.path = path;
    if (path.empty())
        return ENOENT;

    // A loop of links, a chain too long, or a path through a file: refused as a create is.
    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    f.dest = resolve(path);
    if (f.dest.empty() || (exists && !S_ISREG(st.st_mode))) {
        f.dest = path;
        f.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        return f.fd < 0 ? errno : 0;
    }
    // A plain create would fail on a file it may not write; so do we.
    if (exists && ::access(f.dest.c_str(), W_OK) != 0)
        return errno;

    install_cleanup();
    f.dir = open_dir(dir_of(f.dest));
    if (f.dir < 0)
        return errno;
    std::string name;
    sigset_t old = hold_signals();
    int fd = create_temporary(f.dir, name);
    int e = errno;
    if (fd >= 0)
        pending.watch(name, f.dir);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    // No temporary file, no run: overwriting in place could leave the old file half
    // rewritten, so a directory we may not add to is an open failure like any other.
    if (fd < 0) {
        forget_tmp(f);
        return e;
    }
    f.fd = fd;
    f.tmp = name;
    // A new file gets 0666 less umask, as a plain create gives it.
    if (!exists && ::fchmod(fd, create_mode()) != 0) {
        e = errno;
        out_abort(f);
        return e;
    }
    f.in_place = exists && (st.st_nlink > 1 || !take_over(fd, st));
    return 0;
}

int out_commit(outfile& f)
{
    int e = 0;
    if (f.fd >= 0 && ::close(f.fd) != 0)
        e = errno;
    f.fd = -1;
    if (f.tmp.empty())
        return e;
    if (e != 0) {
        remove_tmp(f);
        return e;
    }
    // A refused rename (a sticky directory, a file mounted on its own) leaves the old file
    // where it is; it still receives the output, as a plain write would give it.
    if (!f.in_place && ::renameat(f.dir, f.tmp.c_str(), AT_FDCWD, f.dest.c_str()) == 0) {
        forget_tmp(f);
        return 0;
    }
    return rewrite_in_place(f);
}

void out_abort(outfile& f)
{
    if (f.fd >= 0)
        ::close(f.fd);
    f.fd = -1;
    remove_tmp(f);
}

}  // namespace fw
