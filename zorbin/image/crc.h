// The checksums -crc stores: each fed the image's bytes in pieces, in address order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zb {

enum class crc_kind { crc32, crc32be, stm32, crc16 };

struct crc_row {
    std::string_view word;  // as -crc takes it
    crc_kind kind;
    std::size_t width;      // bytes of the stored field
    std::size_t align;      // the covered range's start and length must be multiples of it
    bool big;               // stored big-endian
};

// "123456789" gives 0xCBF43926 (crc32, crc32be), 0x31C3 (crc16); "12345678" gives
// 0xFEFC54F9 (stm32).
inline constexpr std::array<crc_row, 4> crc_kinds{{
    {"crc32", crc_kind::crc32, 4, 1, false},   // CRC-32/ISO-HDLC, as zlib computes it
    {"crc32be", crc_kind::crc32be, 4, 1, true},
    {"stm32", crc_kind::stm32, 4, 4, false},   // the STM32 CRC unit fed 32-bit LE words
    {"crc16", crc_kind::crc16, 2, 1, false},   // CRC-16/XMODEM
}};

// A checksum in progress.
struct crc_state {
    crc_kind kind;
    std::uint32_t value;
    std::array<unsigned char, 4> word{};  // stm32: the bytes of a word not yet complete
    std::size_t held = 0;
};

crc_state crc_start(crc_kind kind);
void crc_add(crc_state& s, std::span<const unsigned char> bytes);
std::uint32_t crc_final(const crc_state& s);

}  // namespace zb
