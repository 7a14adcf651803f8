// UF2 as its public description lays it out: 512-byte blocks, each carrying up to 476 bytes
// for one target address, and the family IDs that tell a bootloader whose file it is. The
// writer (formats/uf2.cpp), the reader (read/uf2.cpp) and the command line share these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/image.h"

namespace zb {

namespace uf2_layout {

inline constexpr std::size_t block_size = 512;
inline constexpr std::size_t page = 256;         // the payload of every block zorbin writes
inline constexpr std::size_t max_payload = 476;  // the most a block may carry
inline constexpr std::size_t data_at = 32;       // where the payload starts in a block

// The words of a block, little-endian, at these offsets.
inline constexpr std::size_t at_magic0 = 0, at_magic1 = 4, at_flags = 8, at_addr = 12,
                             at_size = 16, at_number = 20, at_count = 24, at_family = 28,
                             at_magic_end = 508;
inline constexpr std::uint32_t magic0 = 0x0A324655, magic1 = 0x9E5D5157,
                               magic_end = 0x0AB16F30;

// Flags: a block a bootloader does not write to flash, a block of a file container (its
// address an offset in a file), and a block whose word 28 is its family.
inline constexpr std::uint32_t not_main_flash = 0x00000001, file_container = 0x00001000,
                               family_present = 0x00002000;

}  // namespace uf2_layout

struct uf2_family {
    std::string_view name;  // as -family takes it, any case
    std::uint32_t id;
};

// Names of the UF2 family list, the boards that take UF2 today first.
inline constexpr std::array<uf2_family, 38> uf2_families{{
    {"rp2040", 0xE48BFF56},      {"rp2350-arm-s", 0xE48BFF59}, {"rp2350-arm-ns", 0xE48BFF5B},
    {"rp2350-riscv", 0xE48BFF5A}, {"rp2xxx-absolute", 0xE48BFF57},
    {"rp2xxx-data", 0xE48BFF58}, {"samd21", 0x68ED2B88},      {"samd51", 0x55114460},
    {"saml21", 0x1851780A},      {"nrf52840", 0xADA52840},    {"nrf52833", 0x621E937A},
    {"nrf52", 0x1B57745F},       {"stm32f0", 0x647824B6},     {"stm32f1", 0x5EE21072},
    {"stm32f2", 0x5D1A0A2E},     {"stm32f3", 0x6B846188},     {"stm32f4", 0x57755A57},
    {"stm32f407", 0x6D0922FA},   {"stm32f407vg", 0x8FB060FE}, {"stm32f7", 0x53B80F00},
    {"stm32g0", 0x300F5633},     {"stm32g4", 0x4C71240A},     {"stm32h7", 0x6DB66082},
    {"stm32l0", 0x202E3A91},     {"stm32l1", 0x1E1F432D},     {"stm32l4", 0x00FF6919},
    {"stm32l5", 0x04240BDF},     {"stm32wb", 0x70D16653},     {"stm32wl", 0x21460FF0},
    {"esp32", 0x1C5F21B0},       {"esp32s2", 0xBFDD4EEE},     {"esp32s3", 0xC47E5767},
    {"esp32c3", 0xD42BA06C},     {"esp8266", 0x7EAB61ED},     {"lpc55", 0x2ABC77EC},
    {"mimxrt10xx", 0x4FB2D5BD},  {"gd32f350", 0x31D228C6},    {"gd32vf103", 0x9AF03E33},
}};

// The family's name, none for an ID the list does not have.
std::optional<std::string_view> uf2_family_name(std::uint32_t id);

// "rp2040 (0xE48BFF56)", or "0x12345678" for an ID the list does not have.
std::string uf2_family_text(std::uint32_t id);

// Every name of the list, ", " between them.
std::string uf2_family_names();

// How many blocks -uf2 writes for these blocks (ascending and apart): one for every 256-byte
// page that holds a byte of them.
std::uint64_t uf2_pages(std::span<const block> blocks);

}  // namespace zb
