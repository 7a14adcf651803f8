// What the POSIX files of the platform layer share: the one loop that resumes interrupted
// calls, and the calls that linux.cpp makes with the Linux API and posix_plain.cpp makes
// without it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace fw::posix {

// Runs call again for as long as a signal interrupts it.
template <class Call>
auto resumed(Call call)
{
    for (;;) {
        auto got = call();
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

// A name under /proc that stands for a descriptor some process holds open.
bool proc_descriptor_name(std::string_view path);

// Marks the aligned buffer at p, n bytes, for huge pages where the system has them.
void advise_huge_pages(void* p, std::size_t n);

}  // namespace fw::posix
