// Whole-buffer writes and safe replacement of output files on POSIX systems.
#include "fileio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

mode_t create_mode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
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

bool under_dev_or_proc(const std::string& p)
{
    return p.rfind("/dev/", 0) == 0 || p.rfind("/proc/", 0) == 0;
}

// The file that a write through path really changes: a symbolic link is followed, so that
// the rename replaces the file it leads to and not the link itself. Empty when the way leads
// through /dev or /proc (/dev/stdout, /proc/self/fd/1): such a name stands for an open
// descriptor, and replacing the file behind it would cut the descriptor's owner off.
std::string resolve(const std::string& path)
{
    std::string p = path;
    for (int hops = 0; hops < 40; hops++) {
        if (under_dev_or_proc(p))
            return "";
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        char buf[PATH_MAX];
        ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
        if (n < 0)
            return p;
        std::string target(buf, static_cast<size_t>(n));
        p = target[0] == '/' ? target : dir_of(p) + "/" + target;
    }
    return p;
}

}  // namespace

int out_open(outfile& f, const std::string& path)
{
    f = outfile{};
    f.path = path;
    f.dest = resolve(path);
    if (path.empty())
        return ENOENT;

    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (f.dest.empty() || (exists && !S_ISREG(st.st_mode))) {
        f.dest = path;
        f.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        return f.fd < 0 ? errno : 0;
    }
    // A plain create would fail on a file it may not write; so do we.
    if (exists && ::access(f.dest.c_str(), W_OK) != 0)
        return errno;

    std::string tmpl = dir_of(f.dest) + "/.fwkit-XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    // No temporary file, no run: overwriting in place could leave the old file half
    // rewritten, so a directory we may not add to is an open failure like any other.
    if (fd < 0)
        return errno;
    // A plain create keeps an existing file's permissions and gives a new one 0666 less umask.
    mode_t mode = exists ? (st.st_mode & 07777) : create_mode();
    if (::fchmod(fd, mode) != 0) {
        int e = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        return e;
    }
    f.fd = fd;
    f.tmp = tmpl;
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
    if (e == 0 && ::rename(f.tmp.c_str(), f.dest.c_str()) != 0)
        e = errno;
    if (e != 0)
        ::unlink(f.tmp.c_str());
    f.tmp.clear();
    return e;
}

void out_abort(outfile& f)
{
    if (f.fd >= 0)
        ::close(f.fd);
    f.fd = -1;
    if (!f.tmp.empty())
        ::unlink(f.tmp.c_str());
    f.tmp.clear();
}

}  // namespace fw
