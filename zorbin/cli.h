// zorbin's command line: what it asks for, the scan of its words, the help text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "image/ops.h"
#include "read/input.h"

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
    input_kind input;         // -input WORD: what the main input is, when detection cannot tell
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

}  // namespace zb
