// What an input is: an AIF image, an ELF file, hex text of one family or a plain binary,
// decided from its first bytes or named on the command line with -input; and the one call
// that reads every input, the main one and each of -add and -addbin, as its kind says.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "image/image.h"
#include "read/aif.h"
#include "read/elf.h"
#include "read/load.h"
#include "read/select.h"

namespace zb {

enum class kind { detect, aif, elf, hex, bin, uf2 };

struct input_kind {
    kind k = kind::detect;
    fmt format = none;  // hex: the format whose reader reads it
};

// The kind -input WORD names: a format word (hex text of that format), elf, aif, bin or uf2.
std::optional<input_kind> kind_of_word(std::string_view word);

// What the run asks of one input.
struct input_args {
    std::string_view name;          // the file as messages name it
    input_kind named;               // -input or -bin; detect: its bytes decide
    bool baseflag = false;          // -base of the main input, or the address of -addbin
    std::uint32_t base = 0;
    const char* outfile = nullptr;  // the command line's output name (the main input only)
    bool added = false;             // an input of -add: a hint names -addbin, not -bin
    std::optional<std::uint32_t> family;  // -family: the family a UF2 file of several is
                                          // read for
    // -only and -remove (the main input only): the ELF sections that go into the image; an
    // input of another kind is refused
    const section_choice* sections = nullptr;
};

// One input, read.
struct input_read {
    input_kind kind;                   // what it was taken for
    bool named = false;                // by the command line, not by its bytes
    image img;                         // its bytes at their addresses
    std::optional<root_result> chain;  // an AIF image with a chain of segments, each written
                                       // to a file of its own; img stays empty
    std::optional<elf_image> elf;      // an ELF file: its sections and symbols (img moved out)
    std::vector<std::string_view> warnings;  // to print first, in this order
    std::optional<std::string> error;        // the message that stops the run
    std::optional<std::uint32_t> family;     // UF2: the family its blocks name
};

// What the file's first bytes say it is: the first kind that recognises them (AIF marker,
// ELF magic, UF2 magic numbers, a hex record's shape), else a plain binary.
input_kind kind_of(std::span<const unsigned char> file);

// Reads in as the kind a names, or as its bytes say. Hex text and UF2 are decoded into a
// buffer of the image's own, and in's buffer is released.
input_read read_input(loaded& in, const input_args& a);

}  // namespace zb
