// Errors and names on POSIX systems: the C library's error texts, and the names that stand
// for a descriptor rather than a file.
#include <algorithm>
#include <cstring>

#include "fileio.h"
#include "platform.h"
#include "posix.h"

namespace fw {

std::string error_text(int e) { return std::strerror(e); }

bool reserved_name(std::string_view) { return false; }

bool descriptor_name(std::string_view p)
{
    if (p == "/dev/stdin" || p == "/dev/stdout" || p == "/dev/stderr")
        return true;
    if (p.starts_with("/dev/fd/")) {
        p.remove_prefix(8);
        return !p.empty() && std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return posix::proc_descriptor_name(p);
}

}  // namespace fw
