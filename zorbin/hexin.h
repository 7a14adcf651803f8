// Hex text as input: which of the formats a file is in, and the image its records give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats.h"
#include "image.h"

namespace zb {

// The format whose reader takes the file's first line as one of its records, trying the rows
// of the format table in number order (formats of one family are tried once, under the
// first of them): none when none does, and the file is no hex text.
fmt detect_hex(std::span<const unsigned char> file);

// What is wrong with a line, and the numbers its message names (see hex_what); a column
// counts from 1.
enum class hex_fault {
    none,
    line_ends,          // a: the column where the line ends
    bad_char,           // a: the character, b: its column
    past_limit,         // a: the highest address of the format
    wrong_count,        // a: the count, b: the characters it needs, c: the record's
    wrong_sum,          // a: the checksum, b: the right one, c: its digits
    address_sum,        // the same for the checksum of a record's address field
    data_sum,           // the same for the checksum of a record's data
    text_after_end,     // a line after the end record
    text_after_blank,   // a line after a blank line
    inside_record,      // the file ends where a record goes on
    no_end,             // the file ends without its end record
    no_memory,          // a: the bytes asked for
    given_twice,        // address a given byte b by an earlier record, c by this one
    short_record,       // intel: a: the record's characters
    unknown_type,       // a: the record type
    type_count,         // intel: record type a with count b, not c
    unknown_s4,         // srec: the record type that does not exist
    no_room,            // srec: count a leaves no room in an S b record
    data_in_control,    // srec: an S a record with b data bytes
    late_header,        // srec: S0 after data records
    wrong_records,      // srec: an S a record counting b, after c data records
    end_counts,         // mostech: the end record counts a and b, c came before it
    no_address,         // cosmac: !M without an address
    long_address,       // cosmac: a: the column of an address of more than 4 digits
    address_size,       // fairbug: a: the address record's characters
    data_first,         // fairbug: a data record before the S address record
    data_size,          // fairbug: a: the data record's characters
    end_size,           // signetics: a: the end record's characters
    early_f,            // sdsmac: a: the column of an F tag before the line's end
    no_checksum,        // sdsmac: a record without a checksum
    after_checksum,     // sdsmac: a: the column of the checksum the F tag does not follow
    short_field,        // sdsmac: a: the column of the tag whose field the line cuts
    short_header,       // sdsmac: a: the column of the file header the line cuts
    header_after_data,  // sdsmac: a file header after data
    long_name,          // sdsmac: a: the program name's characters
    no_f,               // sdsmac: a line that does not end with the F tag
    ihf_size,           // ihf: a: the record's characters
    ihf_count,          // ihf: count a for b data bytes, not c
    end_with_data,      // ihf: an end record with data
};

struct hex_error {
    hex_fault f = hex_fault::none;
    std::uint64_t a = 0, b = 0, c = 0;
};

struct hex_image {
    image img;               // its parts in buffers the image holds, the entry point read
    fmt format = none;       // the format the records say: intel32 for a type 04, ...
    std::size_t line = 0;    // where the fault is
    hex_error error;         // what is wrong, if anything
};

// Reads the whole file with the reader of format's row, strictly: the first fault stops it.
// Time and memory grow with the file, whatever its counts and addresses claim.
hex_image read_hex(std::span<const unsigned char> file, fmt format);

// What is wrong, as the message says it: "checksum 0x12, should be 0x34".
std::string hex_what(const hex_error& e);

// "Bad hex file <infile> line <line>: <what>\n"
std::string hex_message(std::string_view infile, std::size_t line, const hex_error& e);

}  // namespace zb
