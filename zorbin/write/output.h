// Writing the outputs of a run, files or standard output, and the run's messages.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio.h"
#include "formats/formats.h"
#include "image/image.h"
#include "image/ops.h"
#include "read/load.h"
#include "write/engine.h"

namespace zb {

// What a writer needs of the command line.
struct out_args {
    fmt format = none;
    unsigned char fill = 0xFF;     // -raw's gaps
    std::string_view infile;       // the sdsmac start record names it
    wide_args wide{};              // the texts of whole memories: -width, -be, -fill, -range
    std::optional<std::string_view> name{};  // -name; none: a C array is named for its file
    container_args container{};    // uf2, dfu, dfuse
    record_layout layout{};        // -reclen and -header
};

// The message for e, as the run prints it: infile names the input, format the output's.
std::string io_message(const io_error& e, std::string_view infile, fmt format);

// What goes into one output file (none: standard output).
struct job {
    std::optional<std::string> outfile;
    std::string name;                    // the chain segment's name, for messages
    std::vector<block> blocks;           // the records of these, in opt.format
    std::optional<std::uint64_t> entry;  // into the end record, where the format has a field
    const image* img = nullptr;          // -raw: the bytes of this image over raw_span
    span_of raw_span;
};

// When the files of a run go in place.
enum class placing {
    // All or none: each output is written to its temporary file, and only when every one is
    // complete do they all replace their old files. Outputs that cannot wait (standard
    // output, a device, a FIFO) are written after the others are complete.
    together,
    // Each as soon as it is complete, so that the files before a failure stay: the chain of
    // an AIF image, which checks each segment just before it is written.
    in_turn,
};

// The outputs of a run, in the order they are written: one image, the chain of an AIF image
// (one file per segment), or one file per part of a split image.
struct outputs {
    std::vector<job> jobs;
    placing how = placing::together;
};

// Writes every output of o, each replacing its old file only when complete. The input file
// is never overwritten, nor is a file by two outputs of the run. Stops at the first fault;
// what the format's own check refuses (formats.h) stops it before that output is opened.
io_error write_outputs(const outputs& o, const out_args& opt, fw::file_id input);

// Writes text with CR LF line ends to fd; false when that failed.
bool say(int fd, std::string_view text);

// An error message on standard output; on standard error when standard output fails.
void report(std::string_view text);

}  // namespace zb
