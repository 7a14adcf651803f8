// The writers of whole memories as text: a Verilog memory file for $readmemh (vmem.cpp), an
// Intel Memory Initialization File (mif.cpp), a Xilinx coefficient file (coe.cpp), TI-TXT
// (titxt.cpp) and C source (carray.cpp). Unlike the hex records, each sees the whole image at
// once: a MIF's header counts its words, a COE or a C array has no addresses, so gaps and
// ragged word ends must be settled before the first byte goes out. Each writer checks all of
// that first, and writes nothing when it refuses.
//
// Every line ends in CR LF, as in every other file zorbin writes: the same bytes on every
// system, and what iverilog, srec_cat, Quartus, Vivado, TI's tools and C compilers all read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/sink.h"
#include "image/image.h"

namespace zb {

enum class wide_fault {
    none,
    width,             // a word that is not 1, 2, 4 or 8 bytes (a: the width)
    misaligned,        // a block not in whole words, and no fill (a, b: its ends; c: width)
    too_high,          // a block reaching the top of the address space (a: its base)
    start_misaligned,  // the -range start not a multiple of the word (a: start; c: width)
    start_above,       // the start above the image's lowest address (a: start; b: lowest)
    gap,               // a gap in a format without addresses, no fill (a, b: its ends)
    empty,             // no byte to write, where the format cannot say so
    name,              // the C array's name is no C identifier (name)
    too_far,           // the C array's address or size past 32 bits (a: address, b: size)
    write_error,       // the sink failed (errno tells why); no message of its own
};

// A fault and what its message names, as wide_message says.
struct wide_error {
    wide_fault f = wide_fault::none;
    std::uint64_t a = 0, b = 0, c = 0;
    std::string name;
};

// The message for e: infile names the input, word the output format as its option says it
// ("-coe"). Empty for none and write_error.
std::string wide_message(const wide_error& e, std::string_view infile, std::string_view word);

// What the writers take of the command line.
struct wide_args {
    unsigned width = 1;                   // bytes of a word (-width): 1, 2, 4 or 8
    bool big_endian = false;              // -be: a word's first byte is its most significant
    std::optional<unsigned char> fill;    // -fill: pads words out, fills gaps
    std::optional<std::uint64_t> start;   // the -range start: where -mif and -coe begin
    std::string_view name = "image";      // -carray: the array's name, as c_name makes it
};

// The word alone, as -width gives it: a fault unless it is 1, 2, 4 or 8 bytes.
wide_error check_width(unsigned width);

// Each takes the image's blocks (ascending, apart), checks them (the check_ function alone
// does just that), and writes the whole file to out.
//
// -vmem: @ADDR (in words, 8 digits or more) where the data do not follow on, then the words,
// 16 bytes' worth a line, blank-separated, in hex. Words lie at multiples of the width.
wide_error check_vmem(std::span<const block> blocks, const wide_args& a);
wide_error write_vmem(std::span<const block> blocks, const wide_args& a, const sink& out);

// -mif: WIDTH (bits) and DEPTH (words from the start, the -range start or 0, to the image's
// end), radixes HEX, then "ADDR : WORD;" or "[A..B] : WORD;" for a run of equal words, with
// word addresses from the start in 4, 8 or 16 digits; gaps hold the fill byte, 0 without one.
wide_error check_mif(std::span<const block> blocks, const wide_args& a);
wide_error write_mif(std::span<const block> blocks, const wide_args& a, const sink& out);

// -coe: memory_initialization_radix=16; and the vector of the words from the -range start
// (else the lowest word) to the image's end, comma-separated, 16 bytes' worth a line, the
// last word ended by ";". A gap is refused without fill.
wide_error check_coe(std::span<const block> blocks, const wide_args& a);
wide_error write_coe(std::span<const block> blocks, const wide_args& a, const sink& out);

// -titxt: @ADDR (4 digits or more) for each block, its bytes 16 a line in blank-separated
// hex pairs, and q. The width is not looked at.
wide_error check_titxt(std::span<const block> blocks, const wide_args& a);
wide_error write_titxt(std::span<const block> blocks, const wide_args& a, const sink& out);

// -carray: const unsigned char NAME[] with const unsigned long NAME_size and NAME_address,
// declared extern "C" first so that C and C++ code alike links with it, 16 bytes a line. A
// sparse image is refused unless fill makes it one block. The width is not looked at.
wide_error check_carray(std::span<const block> blocks, const wide_args& a);
wide_error write_carray(std::span<const block> blocks, const wide_args& a, const sink& out);

// True when s can name the C array in C and in C++: a C identifier, no keyword of either
// language, and not main.
bool is_c_name(std::string_view s);

// The C array's name: given (-name) when it is one (none when it is not); else made of the
// output file's name without folders and extension, every other character made _, a leading
// digit prefixed by _ and a keyword followed by _; else "image".
std::optional<std::string> c_name(std::optional<std::string_view> given,
                                  std::optional<std::string_view> outfile);

}  // namespace zb
