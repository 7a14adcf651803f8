// Numbers as zorbin takes them on its command line: decimal, "0x" or "&" for hex, a K or M
// suffix; one parser for the 32-bit addresses and sizes and the 64-bit CRC parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zb {

// The value of s, none when it is bad or above max. An empty s, or a bare "0x" or "&", is 0,
// as it has always been for addresses; need_digit refuses those.
std::optional<std::uint64_t> parse_number(std::string_view s, std::uint64_t max,
                                          bool need_digit = false);

}  // namespace zb
