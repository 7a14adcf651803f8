// Whole-buffer writes, text-mode line ends, and output files that are either complete or untouched.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// Writes all of s to fd, resuming after short writes and signals. Returns 0 or the errno.
int write_all(int fd, std::string_view s);

// s with every "\n" spelled "\r\n": the line ends that the kit's text outputs carry.
std::string crlf(std::string_view s);

// An output file being written. A regular file (or a name not yet taken) is written to a
// temporary file beside it that out_commit renames into place, so a failed run never leaves a
// half-written file nor harms the old one. Anything else (/dev/null, /dev/stdout, a pipe) is
// written directly, since it cannot be replaced.
struct outfile {
    std::string path;  // the name the user gave
    std::string dest;  // what gets replaced: path, or the file a symbolic link leads to
    std::string tmp;   // temporary file; empty when writing directly
    int fd = -1;
};

// Opens f for path. Returns 0 or the errno a plain create would have met.
int out_open(outfile& f, const std::string& path);

// Closes f and moves the temporary file into place. Returns 0 or the errno; on failure the
// temporary file is removed and the old file is untouched.
int out_commit(outfile& f);

// Closes f and removes the temporary file; the old file (if any) keeps its content.
void out_abort(outfile& f);

}  // namespace fw
