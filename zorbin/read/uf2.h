// UF2 files as input: every block checked, the blocks of one family placed at their target
// addresses, read from an untrusted file image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/image.h"

namespace zb {

// True when the file begins with UF2's two start magic numbers.
bool is_uf2(std::span<const unsigned char> file);

// What is wrong with a file, and the numbers its message names (see uf2_what).
enum class uf2_fault {
    none,
    cut_short,       // a: the bytes of the last block, fewer than 512
    magic,           // a, b, c: the block's three magic numbers
    payload,         // a: its payload size, past 476
    number,          // a: its block number, b: the one it should have
    no_blocks,       // its number of blocks is 0
    count,           // a: its number of blocks, b: its run's, c: the block that began the run
    family_changes,  // a, b: its family and its run's (2^32: none), c: the run's first block
    ends_early,      // a: the blocks of the last run there are, b: its number of blocks
    families,        // a: its family, b: the first block's, as family_changes
    not_there,       // -family a names none of the file's families
    clash,           // a: the address, b: the other block, c, d: the two bytes
    nothing,         // no block for main flash with a payload
    no_memory,       // a: the bytes asked for
};

inline constexpr std::uint64_t no_family = std::uint64_t{1} << 32;

struct uf2_error {
    uf2_fault f = uf2_fault::none;
    std::uint64_t block = 0;  // which block of the file, counted from 0
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
    std::string families;  // not_there: the file's families
};

struct uf2_image {
    image img;  // the payloads of the family taken, joined where they follow one another
    std::optional<std::uint32_t> family;  // the family taken; none: its blocks name none
    std::size_t families = 0;             // how many the file holds
    std::uint64_t blocks = 0;             // in the file
    std::uint64_t taken = 0;              // of them, whose payload is in the image
    std::uint64_t skipped = 0;            // not for main flash (or of a file container)
    uf2_error error;
};

// Checks every block (magic numbers, payload size, block numbers from 0 without a gap in each
// run of the file, one number of blocks for a run, one family for a run), then takes the
// blocks for main flash of one family: pick, where the file has it; else the file's only one.
// A file of blocks that name no family is taken whole, whatever pick says. Blocks whose
// payloads share an address must agree on its bytes. The image's bytes are copied out of
// file, which may go afterwards. Time and memory grow with the file, whatever its blocks claim.
uf2_image read_uf2(std::span<const unsigned char> file, std::optional<std::uint32_t> pick);

// What the image's kind says for -info: "UF2, family rp2040 (0xE48BFF56), 4 blocks".
std::string uf2_kind(const uf2_image& u);

// What is wrong, as the message says it.
std::string uf2_what(const uf2_error& e);

// "Bad UF2 file <infile> block <n> (offset <o>): <what>\n", or without the block where the
// fault is the file's.
std::string uf2_message(std::string_view infile, const uf2_error& e);

}  // namespace zb
