// Any CRC, as the public catalogue of CRCs states one: width, polynomial, initial register,
// whether input bytes and the result are reflected, and the final XOR. The image is fed in
// pieces, in address order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zb {

struct crc_model {
    unsigned width = 0;  // 1 to 64 bits
    std::uint64_t poly = 0;  // without its top bit, as the catalogue writes it
    std::uint64_t init = 0;  // the register before the first byte, not reflected
    bool refin = false;      // each byte fed least significant bit first
    bool refout = false;     // the register reflected before xorout
    std::uint64_t xorout = 0;
    bool operator==(const crc_model&) const = default;
};

// The model of "WIDTH:POLY:INIT:REFIN:REFOUT:XOROUT", the text after "crc:" (numbers as zorbin
// takes them, REFIN and REFOUT true or false); otherwise what is wrong with it.
std::optional<std::string> parse_model(std::string_view fields, crc_model& out);

// What is wrong with a model built by hand, as parse_model says it; none when it is sound.
std::optional<std::string> model_fault(const crc_model& m);

// The processor's own instructions where it has them for a model: the SSE4.2 crc32
// instruction computes CRC-32C, carry-less multiplication folds the reflected CRC-32.
enum class crc_accel { none, crc32c_sse42, crc32_clmul };

// The path crc_add takes: the fastest this processor has for the model, or the tables,
// which every model and processor has (the tests hold the two equal).
enum class crc_path { fastest, table };

struct crc_tables;  // built once per polynomial and reflection, kept for the run

// A CRC in progress. The register is held reflected in its low bits for a reflected model,
// and at the top of 64 bits for the others, so that one shift serves every width.
struct crc_state {
    crc_model model;
    bool words = false;  // fed 32-bit little-endian words, most significant byte first
    const crc_tables* tables = nullptr;
    crc_accel accel = crc_accel::none;
    std::uint64_t reg = 0;
    std::array<unsigned char, 4> word{};  // words: the bytes of a word not yet complete
    std::size_t held = 0;
};

// m must be sound (model_fault gives none).
crc_state crc_start(const crc_model& m, bool words = false);
void crc_add(crc_state& s, std::span<const unsigned char> bytes, crc_path path = crc_path::fastest);
// The CRC of the bytes fed so far; with words, of the whole words among them.
std::uint64_t crc_final(const crc_state& s);

// What crc_start chooses for m on this processor.
crc_accel accel_for(const crc_model& m, bool words);

// The low w bits of v in reverse order.
std::uint64_t reflect(std::uint64_t v, unsigned w);

}  // namespace zb
