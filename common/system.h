// The primitives that fileio.cpp builds the output-file protocol from, one set per system
// (posix_*.cpp with linux.cpp or posix_plain.cpp, or win32_*.cpp). Not for the programs: they
// call fileio.h and platform.h. Every primitive that can fail returns 0 or the errno, or tells
// failure by its result with errno set, as its comment says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fileio.h"

namespace fw::sys {

// What an output path leads to before anything is written.
struct target {
    bool exists = false;
    bool direct = false;  // a device, a FIFO or a descriptor name: written as it is, not replaced
    bool linked = false;  // the old file has other hard links, which a rename would split off
    std::string dest;     // the file a write through the path changes: symbolic links followed
    std::uint32_t owner = 0, group = 0, mode = 0;  // the old file's, where the system has them
};

// Looks at path as a plain create would: 0, or the errno that create would meet (a loop of
// links, a path through a file, a directory, a file we may not write).
int examine(const std::string& path, target& t);

// Opens a direct output for writing, as a plain create would. 0 or the errno.
int open_direct(const std::string& path, int& fd);

// Opens what the temporary file's name is relative to (f.dir), where the system has that.
int open_directory(outfile& f);

// Creates the new file name beside f.dest, for reading and writing by us alone, into f.fd and
// f.tmp. 0, EEXIST when the name is taken, or another errno.
int create_new(outfile& f, std::string_view name);

// A new output gets the mode a plain create gives it. 0 or the errno.
int new_file_mode(int fd);

// The temporary file takes over the old file's owner, group and mode; false when it cannot.
bool take_over(int fd, const target& old);

// Puts the finished temporary file in the place of f.dest; false when the system refuses.
bool replace(const outfile& f);

// The old file (made if it went meanwhile), open for writing without cutting it; the
// temporary file open for reading. 0 or the errno.
int open_in_place(const std::string& dest, int& fd);
int open_temporary(const outfile& f, int& fd);

// From now on a mapped input cut short ends the run: temporary files removed, text written
// to standard output, status 1.
void on_lost_input(std::string_view text);

// Waits for the exclusive lock on the file open on fd. 0 or the errno.
int lock(int fd);

// Claims room for size bytes of the file before a byte is written, where the file system can;
// 0 also where it cannot. Otherwise the errno.
int reserve(int fd, std::uint64_t size);

// Cuts the file at size. 0 or the errno.
int truncate(int fd, std::uint64_t size);

// Closes fd. 0 or the errno of a write that the close has found failing.
int close_file(int fd);

void remove_temporary(const outfile& f);

// Interruption: the handler that removes the temporary files being watched before the process
// ends, installed once; holding back, while a temporary file is made or copied from, the
// interruptions that would remove it, where the system can hold them.
void install_cleanup();
void watch(const outfile& f);
void unwatch(const outfile& f);
void hold_interrupts();
void release_interrupts();

// At most s.size() bytes of s written at offset *at, or at the file position with at null.
// The bytes written, or -1 with errno set.
long long write_some(int fd, std::string_view s, const std::uint64_t* at);

// A file with no size of its own that reads as empty at once (/dev/null, NUL). A pipe or a
// terminal is not read, since a read would wait.
bool empty_device(int fd);

unsigned process_id();

}  // namespace fw::sys
