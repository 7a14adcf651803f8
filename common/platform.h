// What goes here: what each system offers the programs as it is, one thin call over the
// system's own: files opened for reading, their kind and size, reads, seeks, the copy in the
// kernel, big buffers, error texts and reserved names. Implemented per system, split by
// concern: posix_names.cpp, posix_files.cpp, posix_console.cpp with linux.cpp (or
// posix_plain.cpp without Linux), or win32_names.cpp, win32_files.cpp, win32_console.cpp.
// What the kit builds from such calls the same way everywhere goes in fileio.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// Standard handles as descriptors. They carry bytes as they are on every system: no CR LF
// translation, and 0x1A is data (on Windows they are set to binary mode before main runs).
inline constexpr int std_in = 0;
inline constexpr int std_out = 1;
inline constexpr int std_err = 2;

enum class kind { regular, directory, other };

// What the programs need to know about an open file.
struct file_info {
    kind type = kind::other;
    std::uint64_t size = 0;
};

// Opens path for reading; no_wait opens a FIFO without waiting for a writer. A directory
// opens as on POSIX, and its reads fail with EISDIR. Returns the descriptor, or -1 with
// errno set.
int open_read(const char* path, bool no_wait = false);

void close(int fd);

// At most n bytes into buf; 0 at the end, -1 with errno set. Interrupted reads are resumed.
long long read(int fd, void* buf, std::size_t n);

// As read, from offset at, without moving the file position.
long long pread(int fd, void* buf, std::size_t n, std::uint64_t at);

enum class from { start, here, end };

// Moves the file position to off bytes from where; the new position, or -1 with errno set
// (ESPIPE for a pipe or a terminal).
long long seek(int fd, long long off, from where);

// 0 or the errno.
int info(int fd, file_info& fi);

// Copies up to n bytes from in to out (both at their positions) without passing them
// through the process, where the system can. Returns the bytes copied; 0 at the input's
// end or when the system cannot, -1 with errno set: the caller then goes on by read and write.
long long copy_range(int in, int out, std::size_t n);

// A buffer for a whole input file, aligned for fast reading; nullptr when there is no memory.
unsigned char* big_alloc(std::size_t n);
void big_free(unsigned char* p);

// The n bytes (n > 0) of the regular file open on fd, mapped for reading: the system's own
// cached pages, with no copy into the process. nullptr where the file cannot be mapped; the
// caller then reads it into a big_alloc buffer. Should the file be cut short while mapped, a
// read past its new end cannot complete: the run then removes its temporary files, writes
// failed (already with its line end) to standard output and ends with status 1, as if the
// read had failed.
const unsigned char* map_input(int fd, std::size_t n, std::string_view failed);
void unmap_input(const unsigned char* p, std::size_t n);

// The text the C library of the kit's Linux build gives for e, so that messages read the
// same on every system.
std::string error_text(int e);

// True when the system will not give a file the name (no directory part): a device name,
// or a character that file names cannot hold. Slash and backslash are refused by the
// callers themselves, the same on every system.
bool reserved_name(std::string_view name);

}  // namespace fw
