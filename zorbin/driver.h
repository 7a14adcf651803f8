// zorbin's command line, help texts, input loading and the writing of one output segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "aif.h"
#include "crc.h"
#include "fileio.h"
#include "image.h"
#include "ops.h"

namespace zb {

// -add FILE (an input that gives its own addresses), -addbin FILE ADDR (a plain binary there).
struct added {
    const char* file = nullptr;
    std::optional<std::uint32_t> at;  // -addbin's address
};

struct options {
    fmt format = none;              // a row's format, raw, none until a format word is seen
    const char* infile = nullptr;   // first positional argument
    const char* outfile = nullptr;  // second positional argument
    std::uint32_t base = 0;
    bool baseflag = false;
    bool binaryflag = false;
    std::uint32_t entry = 0;  // -entry: the end record's entry point, whatever the input says
    bool entryflag = false;
    bool info = false;        // -info: report what would be written, write nothing
    std::optional<span_of> range;       // -range lo size
    std::optional<unsigned char> fill;  // -fill b
    std::optional<crc_request> crc;     // -crc kind at, with -crcrange lo size
    std::vector<added> adds;            // merged into the main input's image, in this order
    // Any option that needs one image, not a chain of segments.
    bool whole_image() const { return range || fill || crc || format == raw || !adds.empty(); }
};

enum class scan_status {
    run,    // options complete: go on and load
    help,   // -help: print the help text, exit 0
    usage,  // message goes to standard error, then the usage line to standard output
    error,  // message goes to standard output
};

struct scan_result {
    scan_status status = scan_status::run;
    std::string message;
};

inline constexpr std::string_view usage_line =
    "usage: Zorbin -<format> <binary-file> [<output-file>]\n";

// 0 when s and t are equal ignoring the case of A..Z, else the first difference (s minus t).
int cistrcmp(std::string_view s, std::string_view t);

// A number in zorbin's syntax ("&" or "0x" for hex, K or M suffix); none when it is bad or
// does not fit in 32 bits.
std::optional<std::uint32_t> getnum(std::string_view arg);

// Scans argv (ended by a null entry) from left to right into opt.
scan_result scan_args(const char* const* argv, options& opt);

std::string give_help();

// The input name as messages show it: "(null)" when none was given.
std::string_view infile_name(const options& opt);

// The whole input file, mapped where the system can, else read into one buffer of exactly
// its size.
struct input_release {
    std::size_t size = 0;
    bool mapped = false;
    void operator()(const unsigned char* p) const;
};

struct loaded {
    std::unique_ptr<const unsigned char, input_release> data;
    std::size_t size = 0;
    fw::file_id id;  // the file it came from
    std::span<const unsigned char> bytes() const { return {data.get(), size}; }
};

// What stops a run while loading or writing, and what its message names beyond the input.
enum class io_fault {
    none,
    open_input,
    seek,             // not a regular file
    input_too_big,    // n: its size
    no_memory,        // n: the size asked for (0 for an empty file)
    read,
    output_is_input,  // file: the output's name
    written_before,   // file: the output's name, segment: the segment that would overwrite it
    open_output,      // file
    write,            // file, or "standard output"
    too_big,          // the format's limit
    entry_too_big,    // n: the entry point
};

struct io_error {
    io_fault f = io_fault::none;
    std::string file;
    std::string segment;
    std::uint64_t n = 0;
    io_error(io_fault f = io_fault::none, std::string file = {}, std::string segment = {},
             std::uint64_t n = 0)
        : f(f), file(std::move(file)), segment(std::move(segment)), n(n)
    {
    }
};

// The message for e, as the run prints it.
std::string io_message(const io_error& e, const options& opt);

// Loads opt.infile into in.
io_error load(const options& opt, loaded& in);

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
io_error write_job(const job& j, const options& opt, fw::file_id input, written_files& done);

// Writes text with CR LF line ends to fd; false when that failed.
bool say(int fd, std::string_view text);

// An error message on standard output; on standard error when standard output fails.
void report(std::string_view text);

}  // namespace zb
