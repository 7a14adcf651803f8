// -only and -remove: which sections of an ELF file go into the image, chosen by shell
// wildcards on their names, before the load addresses are placed, so that a section left out
// can neither overlap another nor widen the image.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "read/elf.h"

namespace zb {

struct section_choice {
    std::vector<std::string_view> only, remove;  // the patterns, in the command line's order
    bool any() const { return !only.empty() || !remove.empty(); }
};

// Whether name matches pattern as a shell matches a file name: * any run of characters, ? any
// one, [...] one of a set (a-z ranges, [!...] or [^...] none of it); "\" takes the next
// character as it is. A bad set ("[" without "]") matches its characters as they are.
bool glob_match(std::string_view pattern, std::string_view name);

// Whether a section goes into the image: it matches an -only pattern (or there is none) and
// no -remove pattern.
bool chosen(const section_choice& c, std::string_view name);

// The keep hook of elf_args, with the choice as its state.
bool keep_chosen(const elf_section& s, const void* choice);

// What stops the run after the file is read with the choice: a file without section headers,
// or the first pattern that matches no section's name (kept in the image or not); none when
// every pattern matched one.
std::optional<std::string> choice_refused(const section_choice& c, const elf_image& e,
                                          std::string_view infile);

// For -info, one line for each pattern: the sections it kept or dropped, and those it matched
// that hold nothing for the image.
std::vector<std::string> choice_notes(const section_choice& c, const elf_image& e);

}  // namespace zb
