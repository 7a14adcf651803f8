// The messages of the whole-image writers' faults.
#include "formats/wide.h"

#include "image/image.h"

namespace zb {

std::string wide_message(const wide_error& e, std::string_view infile, std::string_view word)
{
    const std::string in(infile), fmt(word);
    switch (e.f) {
    case wide_fault::none:
    case wide_fault::write_error:
        break;
    case wide_fault::width:
        return "-width takes a word of 1, 2, 4 or 8 bytes, not " + std::to_string(e.a) + "\n";
    case wide_fault::misaligned:
        return "The block of " + in + " at " + hex_text(e.a) + " to " + hex_text(e.b - 1) +
               " is not in whole " + std::to_string(e.c) +
               "-byte words; give -fill to pad its ends\n";
    case wide_fault::too_high:
        return "The block of " + in + " at " + hex_text(e.a) +
               " reaches the top of the address space, where no whole word fits\n";
    case wide_fault::start_misaligned:
        return "The -range start " + hex_text(e.a) + " is not a multiple of the " +
               std::to_string(e.c) + "-byte word of " + fmt + "\n";
    case wide_fault::start_above:
        return "The start " + hex_text(e.a) + " of " + fmt + " lies above the lowest word of " +
               in + ", at " + hex_text(e.b) + "\n";
    case wide_fault::gap:
        return in + " has no data at " + hex_text(e.a) + " to " + hex_text(e.b - 1) + ", and " +
               fmt + " writes no addresses: give -fill to fill the gap\n";
    case wide_fault::empty:
        return in + " holds no byte to write as " + fmt + "\n";
    case wide_fault::name:
        return "-name " + e.name + " cannot name a C array: it is no C identifier, or a keyword\n";
    case wide_fault::too_far:
        return "The C array of " + in + " would hold " + std::to_string(e.b) + " bytes at " +
               hex_text(e.a) + ": " + fmt +
               " writes neither past 0xFFFFFFFF, the most an unsigned long holds everywhere\n";
    }
    return {};
}

}  // namespace zb
