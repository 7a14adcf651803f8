// The image's own few functions: its extent, its blocks, a move.
#include "image/image.h"

#include <algorithm>
#include <cstdio>

#include "platform.h"

namespace zb {

std::uint64_t block::size() const
{
    std::uint64_t n = 0;
    for (const auto& p : pieces)
        n += p.size();
    return n;
}


std::uint64_t lowest(const image& img)
{
    return img.parts.empty() ? 0 : img.parts.front().from.load;
}

std::uint64_t end_of(const image& img)
{
    return img.parts.empty() ? 0 : img.parts.back().from.load + img.parts.back().data.size();
}

part slice(const part& p, std::uint64_t lo, std::uint64_t end)
{
    const std::uint64_t from = std::max(lo, p.from.load) - p.from.load;
    const std::uint64_t to = std::min(end, end_of(p)) - p.from.load;
    part q = p;
    q.data = p.data.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    q.from.load += from;
    q.from.run += from;
    q.from.offset += p.from.made ? 0 : from;
    return q;
}

std::string hex_text(std::uint64_t v, int digits)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return b;
}

std::vector<block> blocks_of(const image& img)
{
    std::vector<block> blocks;
    std::uint64_t next = 0;  // one past the block being built
    for (const part& p : img.parts) {
        if (blocks.empty() || p.from.load != next)
            blocks.push_back({p.from.load, {}});
        blocks.back().pieces.push_back(p.data);
        next = p.from.load + p.data.size();
    }
    return blocks;
}

void rebase(image& img, std::uint32_t base)
{
    if (img.parts.empty())
        return;
    const std::uint64_t low = lowest(img);
    for (part& p : img.parts) {
        const std::uint64_t distance = p.from.load - low;
        p.from.load = distance > ~std::uint64_t{0} - base ? ~std::uint64_t{0} : distance + base;
    }
    // An entry point may lie below the image: it keeps its distance, modulo 2^64, and a
    // format's field check then refuses what does not fit.
    if (img.entry && *img.entry != 0)
        img.entry = *img.entry - low + base;
}

void big_release::operator()(unsigned char* p) const { fw::big_free(p); }

std::span<unsigned char> make_bytes(image& img, std::size_t n, unsigned char v)
{
    img.made.emplace_back(n, v);
    return img.made.back();
}

}  // namespace zb
