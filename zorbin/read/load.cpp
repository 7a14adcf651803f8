// Loading an input file: mapped where the system can, else read into one buffer.
#include "read/load.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <vector>

#include "platform.h"

namespace zb {

namespace {

constexpr std::uint64_t max_input = 0xFFFFFFFF;  // the 32-bit address space, less one byte
constexpr std::size_t read_chunk = std::size_t{1} << 30;

// A file that says it is empty may not be: /proc and /sys files give their bytes only as
// they are read. Read to its end; one that is empty indeed fails as before.
io_error read_unsized(int fd, loaded& in)
{
    std::vector<unsigned char> got;
    unsigned char chunk[65536];
    for (long long n; (n = fw::read(fd, chunk, sizeof chunk)) != 0;) {
        if (n < 0)
            return {io_fault::read};
        if (got.size() + static_cast<std::size_t>(n) > max_input)
            return {io_fault::input_too_big, {}, {}, got.size() + static_cast<std::uint64_t>(n)};
        got.insert(got.end(), chunk, chunk + n);
    }
    unsigned char* buf = got.empty() ? nullptr : fw::big_alloc(got.size());
    in.size = got.size();
    in.data = {buf, {in.size, false}};
    if (!buf)
        return {io_fault::no_memory, {}, {}, got.size()};
    std::copy(got.begin(), got.end(), buf);
    return {};
}

io_error read_all(int fd, loaded& in, std::string_view name)
{
    // A directory holds no bytes to convert; a pipe or a device has no size of its own to
    // hold the image in: refused as a pipe's failed seek is.
    fw::input info;
    switch (fw::in_check(fd, info)) {
    case 0:
        break;
    case EISDIR:
        return {io_fault::read};
    default:
        return {io_fault::seek};
    }
    in.id = info.id;
    auto size = info.size;
    if (size == 0)
        return read_unsized(fd, in);
    if (size > max_input)
        return {io_fault::input_too_big, {}, {}, size};
    in.size = static_cast<std::size_t>(size);
    // Mapped, the bytes come straight from the system's cache: a 64 MiB input converts in
    // two thirds of the time it takes read into a buffer first.
    const std::string lost = fw::crlf("Error reading " + std::string(name) + "\n");
    if (const unsigned char* m = fw::map_input(fd, in.size, lost)) {
        in.data = {m, {in.size, true}};
        return {};
    }
    unsigned char* buf = fw::big_alloc(in.size);
    in.data = {buf, {in.size, false}};
    if (!buf)
        return {io_fault::no_memory, {}, {}, size};
    std::size_t got = 0;
    while (got < in.size) {
        std::size_t want = std::min(in.size - got, read_chunk);
        long long n = fw::pread(fd, buf + got, want, got);
        if (n <= 0)
            return {io_fault::read};
        got += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace

void input_release::operator()(const unsigned char* p) const
{
    if (mapped)
        fw::unmap_input(p, size);
    else
        fw::big_free(const_cast<unsigned char*>(p));
}

io_error load(const char* infile, loaded& in)
{
    int fd = infile ? fw::open_read(infile) : -1;
    if (fd < 0)
        return {io_fault::open_input};
    io_error e = read_all(fd, in, infile ? infile : "(null)");
    fw::close(fd);
    return e;
}

}  // namespace zb
