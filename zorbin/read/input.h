// What an input is: an AIF image, an ELF file, hex text of one family or a plain binary,
// decided from its first bytes or named on the command line with -input.
#pragma once

#include <optional>
#include <string_view>

#include "formats/formats.h"

namespace zb {

enum class kind { detect, aif, elf, hex, bin, uf2 };

struct input_kind {
    kind k = kind::detect;
    fmt format = none;  // hex: the format whose reader reads it
};

// The kind -input WORD names: a format word (hex text of that format), elf, aif, bin or uf2.
std::optional<input_kind> kind_of_word(std::string_view word);

}  // namespace zb
