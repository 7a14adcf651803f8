// Hex text as input: which of the formats a file is in, and the image its records give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/formats.h"
#include "formats/hexread.h"
#include "image/image.h"

namespace zb {

// The format of the file's first line (after a byte-order mark and blank lines): of the rows
// of the format table whose record shape the line has, tried in number order (formats of one
// family once, under the first of them), the first whose reader takes the line, else the
// first of them, whose reader then finds the line's fault. none when the line has no row's
// shape, and the file is no hex text. A format without a reader is passed by. Tests hand in
// a table of their own.
fmt detect_hex(std::span<const unsigned char> file, const format_table& table = formats);

struct hex_image {
    image img;               // its parts in buffers the image holds, the entry point read
    fmt format = none;       // the format the records say: intel32 for a type 04, ...
    std::size_t line = 0;    // where the fault is; 0: the whole file
    std::size_t first = 0;   // the line of the first record, 0 for none
    hex_error error;         // what is wrong, if anything
};

// Reads the whole file with the reader of format's row, strictly: the first fault stops it.
// Time and memory grow with the file, whatever its counts and addresses claim.
hex_image read_hex(std::span<const unsigned char> file, fmt format);

// What is wrong, as the message says it: "checksum 0x12, should be 0x34".
std::string hex_what(const hex_error& e);

// "Bad hex file <infile> line <line>: <what>\n"; without " line <line>" for a fault of the
// whole file (line 0).
std::string hex_message(std::string_view infile, std::size_t line, const hex_error& e);

}  // namespace zb
