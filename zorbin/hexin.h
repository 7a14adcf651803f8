// Hex text as input: which of the formats a file is in, and the image its records give.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "image.h"

namespace zb {

// The format whose reader takes the file's first line as one of its records, trying the rows
// of the format table in number order (formats of one family are tried once, under the
// first of them): 0 when none does, and the file is no hex text.
int detect_hex(std::span<const unsigned char> file);

struct hex_image {
    image img;               // its parts in buffers the image holds, the entry point read
    int format = 0;          // the format the records say: intel32 for a type 04, ...
    std::size_t line = 0;    // where the fault is
    std::string what;        // what is wrong; empty when the file was read
};

// Reads the whole file with the reader of format's row, strictly: the first fault stops it.
// Time and memory grow with the file, whatever its counts and addresses claim.
hex_image read_hex(std::span<const unsigned char> file, int format);

// "Bad hex file <infile> line <line>: <what>\n"
std::string hex_message(std::string_view infile, std::size_t line, std::string_view what);

}  // namespace zb
