// SHA-256 over an image fed in pieces, by the processor's SHA instructions where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zb {

// The path sha256_add takes: the fastest this processor has, or the portable code, which
// every processor has (the tests hold the two equal).
enum class sha_path { fastest, portable };

struct sha256_state {
    std::array<std::uint32_t, 8> h{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> block{};  // the bytes of a block not yet complete
    std::size_t held = 0;
    std::uint64_t bytes = 0;  // fed so far
};

void sha256_add(sha256_state& s, std::span<const unsigned char> bytes,
                sha_path path = sha_path::fastest);
// The digest of the bytes fed so far, in digest order.
std::array<unsigned char, 32> sha256_final(sha256_state s);

// True when this processor has the SHA instructions sha_path::fastest takes.
bool sha_hardware();

}  // namespace zb
