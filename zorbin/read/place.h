// Where an address of an input's image lies, in the words of the file it came from: the -cmp
// report names each range so.
#pragma once

#include <cstdint>
#include <string>

#include "image/image.h"
#include "read/elf.h"

namespace zb {

// For an ELF file, the section holding addr and the symbol whose extent holds it ("in
// .rodata, in crc_table+0x34"), else the nearest symbol before it in that section ("in .text,
// at reset+0x1C"); for bytes an operation made, what made them ("in fill", "in crc32"); empty
// where nothing names it. shift is how far -base moved the image from the file's own load
// addresses (modulo 2^64).
std::string place_of(const image& img, const elf_image* elf, std::uint64_t shift,
                     std::uint64_t addr);

}  // namespace zb
