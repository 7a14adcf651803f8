// zorbin's image: the bytes an input places at addresses, where each piece came from, and the
// entry point. Readers make one, the operations (move, range, fill, CRC) change it, the
// writers (hex records, raw bytes) write it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>


namespace zb {

// Bytes at consecutive addresses from base on: its pieces' bytes follow one another.
struct block {
    std::uint64_t base = 0;
    std::vector<std::span<const unsigned char>> pieces;
    std::uint64_t size() const;
};


// Where one piece of an image came from, for the report of -info.
struct origin {
    std::string name;        // a section's name, "segment N", "ROOT", "fill", "crc32" ...
    std::uint64_t run = 0;   // the address it runs at
    std::uint64_t load = 0;  // the address it is written at
    std::uint64_t offset = 0;  // where its bytes lie in the input file
    std::string why;         // what decided the load address: "segment N", ...
    bool made = false;       // made by an operation, not read from the input
    std::size_t input = 0;   // 0 the main input, k the k-th of -add and -addbin
};

// A run of bytes at consecutive addresses from from.load on.
struct part {
    std::span<const unsigned char> data;
    origin from;
};

// A buffer from fw::big_alloc, whose pages the system gives only as they are written.
struct big_release {
    void operator()(unsigned char* p) const;
};
using big_buffer = std::unique_ptr<unsigned char, big_release>;

struct image {
    std::vector<part> parts;             // ascending addresses, none overlapping
    std::optional<std::uint64_t> entry;  // none: the end records carry none
    std::string kind;                    // "ELF32 little-endian", "AIF image", ...
    // Bytes the operations made (fill, CRC), each buffer fixed in place once made.
    std::vector<std::vector<unsigned char>> made;
    std::vector<big_buffer> held;        // bytes a reader decoded (hex text), parts point in
    std::vector<std::string> notes;      // what the operations did, for -info
    std::vector<part> dropped;           // pieces -range left out whole, for -info
};

// The lowest address, and one past the highest; both 0 for an image without bytes.
std::uint64_t lowest(const image& img);
std::uint64_t end_of(const image& img);

// The parts joined into blocks where one ends where the next begins, for the hex writers. An
// image of one empty part is one empty block at its address.
std::vector<block> blocks_of(const image& img);

// Moves the image so that its lowest address becomes base, every part and the entry point
// (unless it is 0, which is none) keeping its distance. An address that would pass 64 bits
// becomes the highest one, past every limit.
void rebase(image& img, std::uint32_t base);

// One past the last address of p.
inline std::uint64_t end_of(const part& p) { return p.from.load + p.data.size(); }

// The bytes of p that lie in [lo, end), which must meet it, with their origin moved along.
part slice(const part& p, std::uint64_t lo, std::uint64_t end);

// "0x" and v in upper-case hex digits, at least digits of them.
std::string hex_text(std::uint64_t v, int digits = 0);

// A buffer of n bytes of value v, owned by the image.
std::span<unsigned char> make_bytes(image& img, std::size_t n, unsigned char v);

}  // namespace zb
