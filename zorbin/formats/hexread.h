// What the hex readers share: the state of one read, hex digits from a table, and the decoded
// data, kept in one buffer in the order the records give it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "image/image.h"

namespace zb {

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
    entry_twice,        // entry point a given by an earlier record, b by this one
    no_data,            // the whole file: records without a data byte
};

struct hex_error {
    hex_fault f = hex_fault::none;
    std::uint64_t a = 0, b = 0, c = 0;
};


// Digit values of '0'..'9', 'A'..'F' and 'a'..'f'; bad for every other byte.
inline constexpr unsigned char bad_digit = 0xFF;
inline constexpr auto digit_of = [] {
    std::array<unsigned char, 256> t{};
    t.fill(bad_digit);
    for (int c = 0; c < 10; ++c)
        t['0' + c] = static_cast<unsigned char>(c);
    for (int c = 0; c < 6; ++c) {
        t['A' + c] = static_cast<unsigned char>(10 + c);
        t['a' + c] = static_cast<unsigned char>(10 + c);
    }
    return t;
}();

// A run of records at consecutive addresses whose bytes follow one another in the buffer.
struct hex_run {
    std::uint64_t addr = 0;
    std::size_t off = 0, n = 0;  // its bytes in the buffer
    std::size_t line = 0;        // where its first record is
    std::size_t at = 0;          // that line's offset in the file
};

// One read of one hex text. A reader's line function takes one line (without its line end)
// at a time and returns false with error set when the line is wrong.
struct hex_in {
    unsigned char* buf = nullptr;  // decoded bytes, room for every byte the text could hold
    std::size_t len = 0;
    std::vector<hex_run> runs;
    std::optional<std::uint64_t> entry;
    std::size_t line = 0, at = 0;  // the line being read and its offset in the file
    std::size_t first = 0;         // the line of the first record: blank lines may precede it
    std::size_t records = 0;       // data records so far
    bool ended = false;            // the end record was read: nothing but blank lines follow
    bool header = false;           // a reader's start line was read
    std::uint64_t next = 0;        // the reader's own address state (page base, next address)
    std::uint32_t sum = 0;         // the reader's own checksum state, for records that span lines
    int mode = 0;                  // the reader's own grammar state
    fmt word = none;               // the format the records seen so far say the file is
    hex_error error;               // what is wrong with the line
    // The buffer offset whose record's line is wanted (a conflict's second record), and it.
    std::optional<std::size_t> watch;
    std::size_t watched = 0;

    // Room for n bytes at addr, the next in the buffer; nullptr (with error set) when they
    // would pass limit, the highest address the format can carry.
    unsigned char* take(std::uint64_t addr, std::size_t n, std::uint64_t limit);
    // The entry point a record gives; false (with error set) when an earlier record gave
    // another, which is refused as two bytes for one address are.
    bool start_at(std::uint64_t addr);
    bool fail(const hex_error& e)
    {
        error = e;
        return false;
    }
    bool fail(hex_fault f, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0)
    {
        return fail({f, a, b, c});
    }
};

// The value of two digits at s, or a value above 0xFF when either is not a hex digit.
inline unsigned pair_at(const char* s)
{
    const unsigned hi = digit_of[static_cast<unsigned char>(s[0])];
    const unsigned lo = digit_of[static_cast<unsigned char>(s[1])];
    return hi == bad_digit || lo == bad_digit ? 0x100 : hi << 4 | lo;
}

// The value of n digits (n <= 8) at s; none when one is not a hex digit.
inline std::optional<std::uint32_t> digits_at(const char* s, std::size_t n)
{
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const unsigned d = digit_of[static_cast<unsigned char>(s[k])];
        if (d == bad_digit)
            return std::nullopt;
        v = v << 4 | d;
    }
    return v;
}

// True when every character of s is a hex digit.
inline bool all_hex(std::string_view s)
{
    for (const char c : s)
        if (digit_of[static_cast<unsigned char>(c)] == bad_digit)
            return false;
    return true;
}

// The length a record with a count of two digits at col must have: fixed characters and two
// per byte counted; 0 when the line is too short to hold the count or it is no count.
inline std::size_t counted_size(std::string_view line, std::size_t col, std::size_t fixed)
{
    if (line.size() < col + 2)
        return 0;
    const unsigned n = pair_at(line.data() + col);
    return n > 0xFF ? 0 : fixed + 2 * std::size_t{n};
}

// n bytes from 2n digits at s into to, their byte sum added to sum, nibble sum to nibbles;
// false when a character is not a hex digit.
bool decode(const char* s, std::size_t n, unsigned char* to, std::uint32_t& sum);

// "bad character 'x' in column N" for the first character of line from column from on that
// is not a hex digit; the offsets here count from 0, columns from 1.
hex_error bad_char(std::string_view line, std::size_t from);
hex_error bad_char_at(std::string_view line, std::size_t col);

// n data bytes at addr from the 2n digits at column col of line, into the buffer, their byte
// sum added to sum; nullptr, with error set, at a bad digit or past limit.
unsigned char* data_at(hex_in& in, std::string_view line, std::size_t col, std::uint64_t addr,
                       std::size_t n, std::uint64_t limit, std::uint32_t& sum);

// The count of the two digits at col, where the record must be fixed characters and two per
// byte the count gives; none, with error set, when it is no count or the line another length.
std::optional<unsigned> count_at(hex_in& in, std::string_view line, std::size_t col,
                                 std::size_t fixed);

// "count 0x03 needs 17 characters, the record has 15"
hex_error wrong_count(unsigned count, std::size_t want, std::size_t got);

// "checksum 0x12, should be 0x34", or its address or data variant.
hex_error wrong_sum(std::uint32_t got, std::uint32_t want, int digits = 2,
                    hex_fault f = hex_fault::wrong_sum);

}  // namespace zb
