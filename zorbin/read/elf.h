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
    symbol_size,      // symbol table section a: entry size b, smaller than c
    bad_link,         // symbol table section a links to section b of c
};

struct elf_error {
    elf_fault f = elf_fault::none;
    const char* what = "";  // "section", "segment", "program"
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
};

// One section header as the file has it.
struct elf_section {
    std::string_view name{};  // its bytes up to the NUL, raw; empty where the table has none
    std::uint64_t index = 0;
    std::uint32_t type = 0;  // sh_type
    std::uint64_t flags = 0, addr = 0, offset = 0, size = 0;  // sh_flags, sh_addr, ...
    // Where its bytes are placed (the rule of read_elf); sh_addr for a section that has none
    // in the file or does not take memory.
    std::uint64_t load = 0;
    bool placed = false;  // its bytes are in the image
};

inline constexpr std::uint32_t shn_undef = 0, shn_loreserve = 0xFF00, shn_abs = 0xFFF1,
                               shn_common = 0xFFF2;

// One symbol as the file has it.
struct elf_symbol {
    std::string_view name{};  // raw; empty where the string table has none
    std::uint64_t value = 0;  // st_value
    std::uint64_t addr = 0;   // the address it names: st_value, less an ARM function's Thumb bit
    std::uint64_t size = 0;   // st_size
    // st_shndx: a section's index, or shn_undef, shn_abs, shn_common ... (0xFFFF, an index
    // held in SHT_SYMTAB_SHNDX, is left as it is: only a file of 65,280 sections needs it)
    std::uint32_t section = 0;
    unsigned char type = 0, bind = 0;  // STT_* and STB_*: st_info's low and high 4 bits
};

// What read_elf takes: the file, and what to keep of it.
struct elf_args {
    std::span<const unsigned char> file{};
    // Which loadable sections go into the image, asked once for each in header order (with
    // `with`, its own state); nullptr keeps every one. Selecting sections by name plugs in
    // here.
    bool (*keep)(const elf_section& s, const void* with) = nullptr;
    const void* with = nullptr;
};

struct elf_image {
    image img;          // its parts at their load addresses, e_entry unless it is 0
    elf_error error;    // what is wrong with the file, if anything; then the rest is empty
    std::vector<elf_section> sections;  // every section header in header order, 0 included
    // The symbols of .symtab, or of .dynsym where there is none, in table order without the
    // null symbol, and the section of the table that gave them (0: none).
    std::vector<elf_symbol> symbols;
    std::uint64_t symtab = 0;
    // What is wrong with the symbol table, if anything: the image is read all the same, and
    // only what needs the symbols fails.
    elf_error symbol_error;
    std::vector<std::size_t> by_load;  // the placed sections, by load address
    std::vector<std::size_t> by_addr;  // the symbols, by section and address
    // Header fields read, name bytes scanned and sorting and look-up steps: how the reader's
    // work grows with the file (linearly, times the logarithm of a table's size), whatever its
    // headers claim.
    std::uint64_t work = 0;
};

// The loadable contents, placed where a loader of the PT_LOAD segments places them: every
// section that occupies memory at run time and has bytes in the file (SHF_ALLOC, not
// SHT_NOBITS, size > 0) at its load address, which is p_paddr + (sh_offset - p_offset) when
// the section's whole file range lies inside a PT_LOAD segment's [p_offset, p_offset +
// p_filesz) and its sh_addr otherwise. A file without section headers gives its PT_LOAD
// segments instead (p_filesz bytes from p_offset, at p_paddr). When every program header has
// p_paddr 0 and more than one PT_LOAD takes memory, run addresses (sh_addr, p_vaddr) are the
// load addresses. Pieces that touch form one block; pieces that overlap are an error. The
// section headers and symbols come along, their names pointing into the file. Time and
// memory grow with the file, whatever its headers claim.
elf_image read_elf(const elf_args& args);

// Every symbol of that name, in table order: a name found twice with different addresses is
// for the caller to refuse.
std::vector<const elf_symbol*> symbols_named(const elf_image& e, std::string_view name);

// The section whose bytes the image holds at load address addr (as the file places them,
// before -base); nullptr where none does.
const elf_section* section_holding(const elf_image& e, std::uint64_t addr);

// The symbol that names the byte at load address addr: in the section holding it, at that
// byte's run address, the nearest symbol at or below it whose size is 0 or reaches it (one
// that reaches it before a label at the same address; not a section, file or ARM mapping
// symbol: $a, $t, $d); nullptr where none does.
const elf_symbol* symbol_holding(const elf_image& e, std::uint64_t addr);

// The section a symbol is defined in; nullptr for an undefined, absolute or common symbol,
// or an index the file has no section for.
const elf_section* section_of(const elf_image& e, const elf_symbol& s);

// A section's name as -info shows it: anything but printable ASCII as "?", at most 64
// characters; "section K" for none.
std::string shown_name(std::string_view raw, std::uint64_t k);

// Whether a section's bytes go into the image, unless a selection drops it: it takes memory
// (SHF_ALLOC), has bytes in the file (not SHT_NOBITS) and is not empty.
bool loadable(const elf_section& s);

// Not a section's, a file's or an ARM mapping symbol ($a, $t, $d, maybe with a suffix after
// a "."), which mark where code and data begin but name nothing.
bool names_a_place(const elf_symbol& s);

// What is wrong, as the message says it: "section 3 data (0x8 bytes at 0x2000) lies outside
// the file".
std::string elf_what(const elf_error& e);

// "Bad ELF image <infile>: <what>\n"
std::string elf_message(std::string_view infile, const elf_error& e);

}  // namespace zb
