// AIF images: the marker, the root segment and the segment chain, read from an untrusted file
// image.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zb {

// The 32-bit value with its four bytes in reverse order.
std::uint32_t byte_x(std::uint32_t v);

// One block of the file to be written as one hex output.
struct segment {
    std::span<const unsigned char> data;
    std::uint32_t base = 0;
    std::optional<std::string> outfile;  // none: standard output
    std::string name;                    // the chain's segment name; empty for the root
};

// Where the chain stands between segments.
struct chain {
    bool byte_reversing = false;
    std::uint32_t fragment_offset = 0;  // next segment header; 0 ends the chain
    // The file ranges (header and data) of the segments taken, by start: a chain that loops,
    // or whose segments share bytes, would write the same bytes again and again.
    std::map<std::uint64_t, std::uint64_t> taken;
    std::uint64_t other = 0;  // after an overlap fault: the header of the segment overlapped
};

// What stops the run: the image promises bytes it does not hold, or names a file it may not.
enum class fault {
    none,
    no_marker,          // no AIF marker at 0x10 in either byte order
    short_header,       // AIF marker, but the file ends inside the 128-byte header
    root_past_end,      // the root's start plus its size runs past the end of the file
    header_outside,     // a chain offset whose 44-byte segment header is not wholly in the file
    chain_loop,         // a chain offset that was visited before
    name_unterminated,  // no NUL within the 32 bytes of a segment name
    name_has_slash,     // a segment name with "/" or "\", which would leave the directory
    name_reserved,      // a segment name the system keeps for a device or cannot store
    data_past_end,      // a segment's data runs past the end of the file
    overlap,            // a segment's header or data shares bytes with another segment's
};

struct image_args {
    bool baseflag = false;
    std::uint32_t base = 0;
    const char* outfile = nullptr;  // the command line's output name, or none
};

struct root_result {
    segment root;
    chain next;
    std::vector<std::string_view> warnings;  // in the order they are to be printed
    fault error = fault::none;
};

// True when the word at 0x10 is the AIF marker, in either byte order.
bool is_aif(std::span<const unsigned char> file);

// The kind -info names: "AIF image", with the byte order when it is reversed.
std::string_view aif_kind(const chain& c);

// Reads the AIF header (its byte order from the marker) and yields the root segment.
root_result read_root(std::span<const unsigned char> file, const image_args& args);

// Reads the segment whose header lies at c.fragment_offset (which must not be 0) into seg and
// moves c on to the next link. On a fault c.fragment_offset still gives that header's offset.
fault next_segment(std::span<const unsigned char> file, chain& c, segment& seg);

// The message for a fault: infile names the input, at the segment header, name the segment,
// other the header of the segment it overlaps.
std::string fault_message(fault f, std::string_view infile, std::uint32_t at, std::string_view name,
                          std::uint64_t other = 0);

}  // namespace zb
