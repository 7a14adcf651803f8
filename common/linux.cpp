// The calls only Linux has: copy_file_range, fallocate, huge pages, the /proc names of open
// descriptors. posix_plain.cpp stands in for this file on other POSIX systems.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform.h"
#include "posix.h"
#include "system.h"

namespace fw {

namespace {

bool all_digits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

long long copy_range(int in, int out, std::size_t n)
{
    return posix::resumed([&] { return ::copy_file_range(in, nullptr, out, nullptr, n, 0); });
}

namespace sys {

int reserve(int fd, std::uint64_t size)
{
    if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    return 0;
}

}  // namespace sys

namespace posix {

bool proc_descriptor_name(std::string_view p)
{
    for (std::string_view dir : {"/proc/self/fd/", "/proc/thread-self/fd/"})
        if (p.starts_with(dir))
            return all_digits(p.substr(dir.size()));
    if (!p.starts_with("/proc/"))
        return false;
    p.remove_prefix(6);
    auto slash = p.find('/');
    return slash != std::string_view::npos && all_digits(p.substr(0, slash)) &&
           p.substr(slash).starts_with("/fd/") && all_digits(p.substr(slash + 4));
}

void advise_huge_pages(void* p, std::size_t n) { ::madvise(p, n, MADV_HUGEPAGE); }

}  // namespace posix

}  // namespace fw
