// ELF executables of either class and byte order: the bytes a loader or flash programmer
// places, at the addresses it places them, read from an untrusted file image.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"

namespace zb {

// True when the file begins with the ELF magic 7F 45 4C 46.
bool is_elf(std::span<const unsigned char> file);

// What is wrong with a file, and the numbers its message names (see elf_what).
enum class elf_fault {
    none,
    short_ident,      // a: the identification's size
    unknown_class,    // a: EI_CLASS
    unknown_order,    // a: EI_DATA
    unknown_version,  // a: EI_VERSION
    short_header,     // a: the header's size for the class
    entry_small,      // what's table: a: its entry size, b: the class's smallest
    table_outside,    // what's table: a entries of b bytes at c
    data_outside,     // what a: b bytes at file offset c
    past_64_bits,     // what a: at load address b with c bytes
    overlap,          // whats a and b at load address c
    nothing,          // no loadable contents
};

struct elf_error {
    elf_fault f = elf_fault::none;
    const char* what = "";  // "section", "segment", "program"
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
};

struct elf_image {
    image img;          // its parts at their load addresses, e_entry unless it is 0
    elf_error error;    // what is wrong with the file, if anything
    // Header fields read and segment look-up steps: how the reader's work grows with the
    // file (linearly, times the logarithm of the segment count), whatever its headers claim.
    std::uint64_t work = 0;
};

// The loadable contents, placed where a loader of the PT_LOAD segments places them: every
// section that occupies memory at run time and has bytes in the file (SHF_ALLOC, not
// SHT_NOBITS, size > 0) at its load address, which is p_paddr + (sh_offset - p_offset) when
// the section's whole file range lies inside a PT_LOAD segment's [p_offset, p_offset +
// p_filesz) and its sh_addr otherwise. A file without section headers gives its PT_LOAD
// segments instead (p_filesz bytes from p_offset, at p_paddr). When every program header has
// p_paddr 0 and more than one PT_LOAD takes memory, run addresses (sh_addr, p_vaddr) are the
// load addresses. Pieces that touch form one block; pieces that overlap are an error. Time
// and memory grow with the file, whatever its headers claim.
elf_image read_elf(std::span<const unsigned char> file);

// What is wrong, as the message says it: "section 3 data (0x8 bytes at 0x2000) lies outside
// the file".
std::string elf_what(const elf_error& e);

// "Bad ELF image <infile>: <what>\n"
std::string elf_message(std::string_view infile, const elf_error& e);

}  // namespace zb
