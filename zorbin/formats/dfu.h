// The DFU files of USB bootloaders: the raw image with the DFU 1.1 suffix (-dfu), and ST's
// DfuSe file of addressed elements (-dfuse), whose size fields the run checks before writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/image.h"

namespace zb {

namespace dfu_layout {

inline constexpr std::size_t suffix_size = 16;
inline constexpr std::size_t prefix_size = 11;    // "DfuSe", version, image size, targets
inline constexpr std::size_t target_size = 274;   // "Target", alternate setting, name ...
inline constexpr std::size_t element_head = 8;    // address, size
inline constexpr std::size_t name_max = 254;      // the target's name, a NUL after it

}  // namespace dfu_layout

// The bytes of a DfuSe file of these blocks, its suffix among them: what its image size field
// holds, as dfu-util's DfuSe packer and ST's own tools count it, which must fit in 32 bits.
std::uint64_t dfuse_size(std::span<const block> blocks);

}  // namespace zb
