// What linux.cpp does, on a POSIX system without the Linux calls: the copy goes by read and
// write, room is not claimed ahead, and /proc holds no descriptor names.
#include "platform.h"
#include "posix.h"
#include "system.h"

namespace fw {

long long copy_range(int, int, std::size_t) { return 0; }

namespace sys {

int reserve(int, std::uint64_t) { return 0; }

}  // namespace sys

namespace posix {

bool proc_descriptor_name(std::string_view) { return false; }

void advise_huge_pages(void*, std::size_t) {}

}  // namespace posix

}  // namespace fw
