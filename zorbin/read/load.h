// Loading an input file, and the faults of the file layer in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "fileio.h"

namespace zb {

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
    refused,          // text: the message of the format's own check (formats.h)
};

struct io_error {
    io_fault f = io_fault::none;
    std::string file;
    std::string segment;
    std::uint64_t n = 0;
    std::string text;
    io_error(io_fault f = io_fault::none, std::string file = {}, std::string segment = {},
             std::uint64_t n = 0)
        : f(f), file(std::move(file)), segment(std::move(segment)), n(n)
    {
    }
};

// Loads infile (none: fails as a file that cannot be opened) into in.
io_error load(const char* infile, loaded& in);

}  // namespace zb
