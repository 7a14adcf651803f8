// Writing one output file, or standard output, and the run's messages.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio.h"
#include "formats/formats.h"
#include "image/image.h"
#include "image/ops.h"
#include "read/aif.h"
#include "read/load.h"

namespace zb {

// What a writer needs of the command line.
struct out_args {
    fmt format = none;
    unsigned char fill = 0xFF;     // -raw's gaps
    std::string_view infile;       // the sdsmac start record names it
};

// The message for e, as the run prints it: infile names the input, format the output's.
std::string io_message(const io_error& e, std::string_view infile, fmt format);

// Files this run has written, so that no segment overwrites one.
using written_files = std::set<fw::file_id>;

// Writes seg as records of opt.format, to its output file (replaced only when complete) or to
// standard output. The input file and the files written before are never overwritten.
// Returns "" or the message to print.
// What goes into one output file (none: standard output).
struct job {
    std::optional<std::string> outfile;
    std::string name;                    // the chain segment's name, for messages
    std::vector<block> blocks;           // the records of these, in opt.format
    std::optional<std::uint64_t> entry;  // into the end record, where the format has a field
    const image* img = nullptr;          // -raw: the bytes of this image over raw_span
    span_of raw_span;
};

// The job of an AIF segment or a plain binary.
job job_of(const segment& seg);

// Writes the job's output (replaced only when complete). The input file and the files written
// before are never overwritten.
io_error write_job(const job& j, const out_args& opt, fw::file_id input, written_files& done);

// Writes text with CR LF line ends to fd; false when that failed.
bool say(int fd, std::string_view text);

// An error message on standard output; on standard error when standard output fails.
void report(std::string_view text);

}  // namespace zb
