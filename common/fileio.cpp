// The output-file protocol, written once for every system over the primitives of system.h:
// a temporary file beside the output, put in its place by a rename, or copied into the old file
// in place under a lock; interruptions remove it. Also whole writes, input checks and the
// kit's line ends.
#include "fileio.h"

#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform.h"
#include "system.h"

namespace fw {

namespace {

// Writes all of s, at offset *at or at the file position, going on after short writes.
int put_all(int fd, std::string_view s, const std::uint64_t* at)
{
    std::uint64_t pos = at ? *at : 0;
    while (!s.empty()) {
        long long n = sys::write_some(fd, s, at ? &pos : nullptr);
        if (n < 0)
            return errno;
        // A write that takes nothing would be tried for ever: the device is as good as full.
        if (n == 0)
            return ENOSPC;
        s.remove_prefix(static_cast<std::size_t>(n));
        pos += static_cast<std::uint64_t>(n);
    }
    return 0;
}

// A new file ".fwkit-" and six letters beside f.dest, created for reading and writing by us
// alone, as mkstemp makes one. The letters are those that a file system blind to case still
// tells apart.
int create_temporary(outfile& f)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned seed = sys::process_id() * 2654435761u ^
                           static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&f));
    for (int attempt = 0; attempt < 100; attempt++) {
        std::string name = ".fwkit-";
        for (int k = 0; k < 6; k++) {
            seed = seed * 1103515245u + 12345u;
            name += letters[(seed >> 16) % (sizeof letters - 1)];
        }
        if (int e = sys::create_new(f, name); e != EEXIST)
            return e;
    }
    return EEXIST;
}

// Forgets the temporary file, which is gone by now, and lets its directory go.
void forget_tmp(outfile& f)
{
    if (!f.tmp.empty())
        sys::unwatch(f);
    f.tmp.clear();
    if (f.dir >= 0)
        fw::close(f.dir);
    f.dir = -1;
}

void remove_tmp(outfile& f)
{
    if (!f.tmp.empty())
        sys::remove_temporary(f);
    forget_tmp(f);
}

// The one copy loop: from's bytes from its position on, behind to's position. size counts
// what was copied.
int copy_fd(int from, int to, std::uint64_t& size)
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
        size += static_cast<std::uint64_t>(n);
    }
}

// Copies the finished temporary file into the old file, which keeps its identity, links,
// owner and mode. The exclusive lock makes another run that rewrites the same file in place
// (make -j with two rules for one output) copy its bytes before or after ours, never among
// them. The old bytes are overwritten before the file is cut to its new length, so a disk
// that is nearly full needs room only for the growth, and that room is claimed first. The
// interruptions that would remove the temporary file wait until the old file is whole again;
// they do not wait while another writer holds the lock.
int rewrite_in_place(outfile& f)
{
    int to = -1;
    int e = sys::open_in_place(f.dest, to);
    if (e == 0 && (e = sys::lock(to)) != 0)
        fw::close(to);
    if (e != 0) {
        remove_tmp(f);
        return e;
    }
    sys::hold_interrupts();
    int from = -1;
    file_info fi;
    std::uint64_t size = 0;
    if ((e = sys::open_temporary(f, from)) == 0 && (e = info(from, fi)) == 0 &&
        (e = sys::reserve(to, fi.size)) == 0 && (e = copy_fd(from, to, size)) == 0)
        e = sys::truncate(to, size);
    if (int c = sys::close_file(to); c != 0 && e == 0)
        e = c;
    if (from >= 0)
        fw::close(from);
    remove_tmp(f);
    sys::release_interrupts();
    return e;
}

}  // namespace

int write_all(int fd, std::string_view s) { return put_all(fd, s, nullptr); }

int pwrite_all(int fd, std::string_view s, std::uint64_t at) { return put_all(fd, s, &at); }

std::string crlf(std::string_view s)
{
    std::string out;
    out.reserve(s.size() + s.size() / 8 + 2);
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

int write_text(int fd, std::string_view text)
{
    return write_all(fd, crlf(text));
}

int in_check(int fd, input& in)
{
    file_info fi;
    if (int e = info(fd, fi); e != 0)
        return e;
    id_of(fd, in.id);
    if (fi.type == kind::directory)
        return EISDIR;
    if (fi.type == kind::regular) {
        in.size = fi.size;
        return 0;
    }
    if (!sys::empty_device(fd))
        return ESPIPE;
    in.size = 0;
    return 0;
}

int out_open(outfile& f, const std::string& path)
{
    f = outfile{};
    f.path = path;
    f.dest = path;
    if (path.empty())
        return ENOENT;
    sys::target t;
    if (int e = sys::examine(path, t); e != 0)
        return e;
    if (t.direct)
        return sys::open_direct(path, f.fd);
    f.dest = t.dest;

    sys::install_cleanup();
    if (int e = sys::open_directory(f); e != 0)
        return e;
    // The interruptions that remove temporary files wait while one is made, so that none is
    // ever made without being known to the handler.
    sys::hold_interrupts();
    int e = create_temporary(f);
    if (e == 0)
        sys::watch(f);
    sys::release_interrupts();
    // No temporary file, no run: overwriting in place could leave the old file half
    // rewritten, so a directory we may not add to is an open failure like any other.
    if (e != 0) {
        forget_tmp(f);
        return e;
    }
    if (!t.exists && (e = sys::new_file_mode(f.fd)) != 0) {
        out_abort(f);
        return e;
    }
    f.in_place = t.exists && (t.linked || !sys::take_over(f.fd, t));
    return 0;
}

int out_commit(outfile& f)
{
    if (int e = out_close(f); e != 0)
        return e;
    return out_place(f);
}

int out_close(outfile& f)
{
    int e = f.fd >= 0 ? sys::close_file(f.fd) : 0;
    f.fd = -1;
    if (e != 0)
        remove_tmp(f);
    return e;
}

int out_place(outfile& f)
{
    if (f.tmp.empty())
        return 0;
    // A refused replacement (a sticky directory, a file mounted on its own, another program
    // that holds the old file open without sharing its deletion) leaves the old file where it
    // is; it still receives the output, as a plain write would give it.
    if (!f.in_place && sys::replace(f)) {
        forget_tmp(f);
        return 0;
    }
    return rewrite_in_place(f);
}

void out_abort(outfile& f)
{
    if (f.fd >= 0)
        fw::close(f.fd);
    f.fd = -1;
    remove_tmp(f);
}

}  // namespace fw
