// The messages of the whole-image writers' faults, and the writers as the format table's rows
// call them.
#include "formats/wide.h"

#include "formats/formats.h"
#include "image/image.h"

namespace zb {

namespace {

// The check and the writer of each text format, by its number.
struct text_calls {
    wide_error (*check)(std::span<const block>, const wide_args&);
    wide_error (*write)(std::span<const block>, const wide_args&, const sink&);
};

template <fmt F>
constexpr text_calls calls_of()
{
    if constexpr (F == vmem)
        return {check_vmem, write_vmem};
    else if constexpr (F == mif)
        return {check_mif, write_mif};
    else if constexpr (F == coe)
        return {check_coe, write_coe};
    else if constexpr (F == titxt)
        return {check_titxt, write_titxt};
    else
        return {check_carray, write_carray};
}

}  // namespace

template <fmt F>
std::string check_text(const image_out& img)
{
    std::string word = "-";  // by appends: GCC 12 warns falsely about "-" + a string
    word += word_of(F);
    return wide_message(calls_of<F>().check(img.blocks, img.wide), img.filename, word);
}

// The check has passed before the output was opened, so a refusal here cannot happen; were it
// to, nothing has been written and the run fails all the same.
template <fmt F>
bool write_text(const image_out& img, const sink& out)
{
    return calls_of<F>().write(img.blocks, img.wide, out).f == wide_fault::none;
}

template std::string check_text<vmem>(const image_out&);
template std::string check_text<mif>(const image_out&);
template std::string check_text<coe>(const image_out&);
template std::string check_text<titxt>(const image_out&);
template std::string check_text<carray>(const image_out&);
template bool write_text<vmem>(const image_out&, const sink&);
template bool write_text<mif>(const image_out&, const sink&);
template bool write_text<coe>(const image_out&, const sink&);
template bool write_text<titxt>(const image_out&, const sink&);
template bool write_text<carray>(const image_out&, const sink&);

wide_error check_width(unsigned width)
{
    if (width == 1 || width == 2 || width == 4 || width == 8)
        return {};
    return {wide_fault::width, width, 0, 0, {}};
}

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
