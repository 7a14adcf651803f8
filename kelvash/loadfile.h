// kelvash load-file writer: the S-record scan, the 81-character header, the copy of the image
// and the report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fault.h"
#include "options.h"

namespace kv {

// Load-file header, 81 characters, no separators; numbers as 8 upper-case hex digits:
//   0  5  type tag: SRECA, SRECR, _AIFA or _AIFR
//   5  4  task name bytes
//   9  8  priority        17 8 supervisor stack   25 8 user stack
//  33  8  creation flags  41 8 start mode         49 8 entry point
//  57  8  number of sections (1)   65 8 section size   73 8 section start
//  81     the input file, byte for byte
inline constexpr std::size_t header_size = 81;

// One S-record line is read in pieces of at most this many bytes, newline included.
inline constexpr std::size_t piece_max = 82;

struct section {
    std::uint32_t size = 0;
    std::uint32_t start = 0;
};

enum class input_kind { srec, aif };

// The input's first bytes that tell an ELF file or Intel hex text: as many as the longest
// Intel record takes, 255 data bytes, with its CR LF.
inline constexpr std::size_t head_max = 1 + 2 * (1 + 2 + 1 + 255 + 1) + 2;

// in_elf or in_intel when head, the start of an input (at most head_max bytes, all of it when
// shorter), begins with the ELF magic number or with a line that is an Intel record as zorbin
// reads it: the AIF writer would copy either as an image the kernel cannot run. Else ok.
fault foreign_input(std::string_view head);

// The header for t with entry point and stack sizes already resolved.
std::string load_header(input_kind k, const task& t, const section& sec);

// The writer's faults: syntax, in_error, in_eof, too_big, in_changed or out_error.
using wrote = fault;

struct write_result {
    wrote what = wrote::ok;
    int err = 0;  // errno for in_error and out_error
    section sec;
};

// Writes the load file for the input open on in (a regular file of in_size bytes; its first
// byte decided the kind) to out: the header, then exactly in_size bytes of the input. An
// input that turns out longer or shorter than that is in_changed. Resolves entry point and
// stack sizes into t, and the AIF section start into t.load_address, so that the report shows
// what was written.
write_result write_loadfile(input_kind k, task& t, int in, std::uint64_t in_size, int out);

// The report that -v prints after the load file.
std::string report(input_kind k, const task& t, const section& sec);

}  // namespace kv
