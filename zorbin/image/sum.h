// The checksums -crc stores: a CRC of any model, a sum of the covered bytes, or a SHA-256
// digest. Each is fed the image's bytes in pieces, in address order, and stored in a field of
// its own size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "image/crc.h"
#include "image/sha256.h"

namespace zb {

enum class family { crc, sum, sha256 };

// A sum's value: the sum itself, its two's complement (the region and the field then sum to
// 0) or its one's complement.
enum class sum_form { plain, neg, inv };

struct checksum_kind {
    family fam = family::crc;
    crc_model crc{};
    bool words = false;  // crc: fed 32-bit little-endian words, each from its most significant
                         // byte (the STM32 CRC unit); the range must be whole words
    unsigned bits = 0;   // sum: 8, 16 or 32
    sum_form form = sum_form::plain;
    bool big = false;    // the field stored big-endian (a digest is stored as it comes)
    bool operator==(const checksum_kind&) const = default;
};

constexpr checksum_kind crc_of(crc_model m, bool words = false, bool big = false)
{
    return {.fam = family::crc, .crc = m, .words = words, .big = big};
}

constexpr checksum_kind sum_of(unsigned bits, sum_form form)
{
    return {.fam = family::sum, .bits = bits, .form = form};
}

struct kind_row {
    std::string_view word;   // as -crc takes it, any case
    std::string_view title;  // its name in the public catalogue of CRCs, or what it is
    std::string_view check;  // over "123456789" (a kind fed words: over "12345678")
    checksum_kind kind;
};

// Each CRC as the catalogue gives it: width, poly, init, refin, refout, xorout. crc32-cksum
// is the catalogue's CRC-32/CKSUM, the CRC of the bytes alone: POSIX cksum feeds the length
// after them, which no firmware's own check does.
inline constexpr std::array<kind_row, 28> checksum_kinds{{
    {.word = "crc8", .title = "CRC-8/SMBUS", .check = "0xF4",
     .kind = crc_of({8, 0x07, 0, false, false, 0})},
    {.word = "crc8-maxim", .title = "CRC-8/MAXIM-DOW", .check = "0xA1",
     .kind = crc_of({8, 0x31, 0, true, true, 0})},
    {.word = "crc16", .title = "CRC-16/XMODEM", .check = "0x31C3",
     .kind = crc_of({16, 0x1021, 0, false, false, 0})},
    {.word = "crc16-xmodem", .title = "CRC-16/XMODEM", .check = "0x31C3",
     .kind = crc_of({16, 0x1021, 0, false, false, 0})},
    {.word = "crc16-ibm-3740", .title = "CRC-16/IBM-3740", .check = "0x29B1",
     .kind = crc_of({16, 0x1021, 0xFFFF, false, false, 0})},
    {.word = "crc16-ccitt-false", .title = "CRC-16/IBM-3740", .check = "0x29B1",
     .kind = crc_of({16, 0x1021, 0xFFFF, false, false, 0})},
    {.word = "crc16-arc", .title = "CRC-16/ARC", .check = "0xBB3D",
     .kind = crc_of({16, 0x8005, 0, true, true, 0})},
    {.word = "crc16-modbus", .title = "CRC-16/MODBUS", .check = "0x4B37",
     .kind = crc_of({16, 0x8005, 0xFFFF, true, true, 0})},
    {.word = "crc16-kermit", .title = "CRC-16/KERMIT", .check = "0x2189",
     .kind = crc_of({16, 0x1021, 0, true, true, 0})},
    {.word = "crc32", .title = "CRC-32/ISO-HDLC", .check = "0xCBF43926",
     .kind = crc_of({32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF})},
    {.word = "crc32be", .title = "CRC-32/ISO-HDLC, stored big-endian", .check = "0xCBF43926",
     .kind = crc_of({32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF}, false, true)},
    {.word = "crc32-mpeg2", .title = "CRC-32/MPEG-2", .check = "0x0376E6E7",
     .kind = crc_of({32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0})},
    {.word = "stm32", .title = "CRC-32/MPEG-2 fed 32-bit little-endian words",
     .check = "0xFEFC54F9",
     .kind = crc_of({32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0}, true)},
    {.word = "crc32-bzip2", .title = "CRC-32/BZIP2", .check = "0xFC891918",
     .kind = crc_of({32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0xFFFFFFFF})},
    {.word = "crc32c", .title = "CRC-32/ISCSI", .check = "0xE3069283",
     .kind = crc_of({32, 0x1EDC6F41, 0xFFFFFFFF, true, true, 0xFFFFFFFF})},
    {.word = "crc32-cksum", .title = "CRC-32/CKSUM", .check = "0x765E7680",
     .kind = crc_of({32, 0x04C11DB7, 0, false, false, 0xFFFFFFFF})},
    {.word = "crc64-xz", .title = "CRC-64/XZ", .check = "0x995DC9BBDF1939FA",
     .kind = crc_of({64, 0x42F0E1EBA9EA3693, ~0ull, true, true, ~0ull})},
    {.word = "crc64-ecma-182", .title = "CRC-64/ECMA-182", .check = "0x6C40DF5F0B497347",
     .kind = crc_of({64, 0x42F0E1EBA9EA3693, 0, false, false, 0})},
    {.word = "sum8", .title = "sum of the bytes modulo 2^8", .check = "0xDD",
     .kind = sum_of(8, sum_form::plain)},
    {.word = "sum16", .title = "sum of the bytes modulo 2^16", .check = "0x01DD",
     .kind = sum_of(16, sum_form::plain)},
    {.word = "sum32", .title = "sum of the bytes modulo 2^32", .check = "0x000001DD",
     .kind = sum_of(32, sum_form::plain)},
    {.word = "sum8-neg", .title = "two's complement of sum8", .check = "0x23",
     .kind = sum_of(8, sum_form::neg)},
    {.word = "sum16-neg", .title = "two's complement of sum16", .check = "0xFE23",
     .kind = sum_of(16, sum_form::neg)},
    {.word = "sum32-neg", .title = "two's complement of sum32", .check = "0xFFFFFE23",
     .kind = sum_of(32, sum_form::neg)},
    {.word = "sum8-not", .title = "one's complement of sum8", .check = "0x22",
     .kind = sum_of(8, sum_form::inv)},
    {.word = "sum16-not", .title = "one's complement of sum16", .check = "0xFE22",
     .kind = sum_of(16, sum_form::inv)},
    {.word = "sum32-not", .title = "one's complement of sum32", .check = "0xFFFFFE22",
     .kind = sum_of(32, sum_form::inv)},
    {.word = "sha256", .title = "SHA-256 digest",
     .check = "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225",
     .kind = {.fam = family::sha256}},
}};

enum class kind_fault {
    none,
    unknown,     // neither a word of the table nor crc:...
    model,       // crc:... with a fault, which why names
    be_refused,  // /be where it means nothing, which why names
};

struct parsed_kind {
    checksum_kind kind;
    std::string name;  // as -info shows it: the table's word, "/be" after it when given; a
                       // model as given
    kind_fault fault = kind_fault::none;
    std::string why;
};

// KIND, KIND/be or crc:WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT[/be], the words in any case.
parsed_kind parse_kind(std::string_view word);

// The table's words, separated by ", ", for messages and completion.
std::string kind_words();

// Bytes of the stored field: a CRC's width in whole bytes, a sum's, 32 for a digest.
std::size_t field_size(const checksum_kind& k);
// The covered range's start and length must be multiples of it.
std::size_t alignment(const checksum_kind& k);

// A checksum in progress.
struct checksum_state {
    checksum_kind kind;
    crc_state crc;
    std::uint64_t sum = 0;
    sha256_state sha;
};

struct checksum_value {
    std::uint64_t number = 0;               // a CRC's or a sum's value; 0 for a digest
    std::array<unsigned char, 32> field{};  // the bytes as stored
    std::size_t size = 0;
    std::span<const unsigned char> bytes() const { return std::span(field).first(size); }
};

checksum_state checksum_start(const checksum_kind& k);
void checksum_add(checksum_state& s, std::span<const unsigned char> bytes);
checksum_value checksum_final(const checksum_state& s);

// What a field already in an image holds, read as k stores it (field_size(k) bytes).
checksum_value stored_value(const checksum_kind& k, std::span<const unsigned char> field);

// The value as messages show it: "0x" and the field's width in hex digits for a number,
// the digest's bytes in lower-case hex, in order.
std::string value_text(const checksum_kind& k, const checksum_value& v);

// The sum of the bytes, added to s, modulo 2^64.
std::uint64_t add_bytes(std::uint64_t s, std::span<const unsigned char> bytes);

}  // namespace zb
