// What goes here: what the kit does with files the same way on every system, written once in
// fileio.cpp over the primitives of system.h: whole-buffer writes, text-mode line ends, inputs
// that hold what their size says, which file a name stands for, and output files that are
// either complete or untouched. What a system offers as it is (opening, reading, seeking,
// sizes, buffers, error texts, reserved names) goes in platform.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// Writes all of s to fd, resuming after short writes and signals. Returns 0 or the errno.
int write_all(int fd, std::string_view s);

// Writes all of s at offset at, without moving the file position. Returns 0 or the errno.
int pwrite_all(int fd, std::string_view s, std::uint64_t at);

// s with every "\n" spelled "\r\n": the line ends that the kit's text outputs carry.
std::string crlf(std::string_view s);

// Writes text to fd with those line ends. Returns 0 or the errno.
int write_text(int fd, std::string_view text);

// Which file a name or descriptor stands for, whatever the name it was reached by.
struct file_id {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const file_id&) const = default;
    auto operator<=>(const file_id&) const = default;
};

// The file behind fd, or behind path with symbolic links followed. False when there is none.
bool id_of(int fd, file_id& id);
bool id_of(const std::string& path, file_id& id);

// An opened input as the programs may read it: a regular file of size bytes. A directory
// gives EISDIR; anything else with no size of its own (a pipe, a terminal, /dev/zero, a disk)
// gives ESPIPE, as seeking a pipe does, except a device that is empty at once (/dev/null),
// which reads as an empty file.
struct input {
    std::uint64_t size = 0;
    file_id id;
};

// Returns 0 or the errno that refuses fd as an input.
int in_check(int fd, input& in);

// A name that stands for a descriptor some process holds open (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N, /proc/PID/fd/N): replacing the file behind it would cut that descriptor's
// owner, often the shell's redirection, off from what is written. Windows has no such names.
bool descriptor_name(std::string_view path);

// An output file being written. A regular file (or a name not yet taken) is written to a
// temporary file beside it; out_commit puts the finished output in place, so a failed run never
// leaves a half-written file nor harms the old one. Names that stand for an open descriptor
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N) and outputs that are not regular files (devices,
// FIFOs) are written directly, since they cannot be replaced.
struct outfile {
    std::string path;  // the name the user gave
    std::string dest;  // what gets replaced: path, or the file a symbolic link leads to
    std::string tmp;   // temporary file; empty when writing directly. On POSIX systems its
                       // name in the directory open on dir, so that its path may be longer
                       // than the system takes for one name: any output a plain create
                       // accepts is accepted
    int dir = -1;
    int fd = -1;
    // The old file is rewritten in place from the finished temporary file rather than
    // replaced by it: it has other hard links, or the temporary file could not take its
    // owner, group or mode. A refused rename leads here too.
    bool in_place = false;
};

// Opens f for path. Returns 0 or the errno a plain create would have met.
int out_open(outfile& f, const std::string& path);

// Closes f and puts the output in place. Returns 0 or the errno; on failure the temporary
// file is removed and the old file is untouched, unless the failure came while rewriting it
// in place.
int out_commit(outfile& f);

// out_commit in its two steps, for a run whose outputs go in place together: out_close ends
// the writing (0 or the errno of a write the close has found failing; then the temporary file
// is removed), out_place puts the complete output in place (0 or the errno, as out_commit
// says). Until out_place the old file is untouched, and out_abort still removes the temporary
// file. A direct output has nothing to place: it was written as it went.
int out_close(outfile& f);
int out_place(outfile& f);

// Closes f and removes the temporary file; the old file (if any) keeps its content.
void out_abort(outfile& f);

}  // namespace fw
