// -uf2: one 512-byte block for every 256-byte page that holds a byte of the image, in address
// order, numbered over the whole file. The blocks are built in a buffer of 2048 whose words
// that never change (magic numbers, payload size, count, flags, family, the padding) are laid
// once, so a page costs its address, its number and one copy of its bytes.
#include "formats/uf2.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "formats/formats.h"

namespace zb {

namespace {

constexpr std::size_t held_max = 2048;  // blocks a write takes: 1 MiB

void put32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

struct uf2_out {
    const sink& out;
    unsigned char fill;
    std::size_t room;           // blocks buf holds: held_max, fewer for a small image
    std::unique_ptr<unsigned char[]> buf;
    std::size_t held = 0;       // blocks in buf, the last of them the page being filled
    std::uint32_t number = 0;   // of the next block
    std::uint64_t open = ~std::uint64_t{0};  // the address of the page being filled; none

    uf2_out(const sink& s, unsigned char f, std::uint32_t count, std::optional<std::uint32_t> fam)
        : out(s), fill(f), room(std::clamp<std::size_t>(count, 1, held_max)),
          buf(new unsigned char[room * uf2_layout::block_size]())
    {
        for (std::size_t k = 0; k < room; ++k) {
            unsigned char* b = buf.get() + k * uf2_layout::block_size;
            put32(b + uf2_layout::at_magic0, uf2_layout::magic0);
            put32(b + uf2_layout::at_magic1, uf2_layout::magic1);
            put32(b + uf2_layout::at_flags, fam ? uf2_layout::family_present : 0);
            put32(b + uf2_layout::at_size, uf2_layout::page);
            put32(b + uf2_layout::at_count, count);
            put32(b + uf2_layout::at_family, fam.value_or(0));
            put32(b + uf2_layout::at_magic_end, uf2_layout::magic_end);
        }
    }

    bool flush()
    {
        const bool ok = held == 0 || out.write(out.ctx, reinterpret_cast<const char*>(buf.get()),
                                               held * uf2_layout::block_size);
        held = 0;
        return ok;
    }

    // The payload of a new block for the page at addr; nullptr when a write failed.
    unsigned char* start(std::uint64_t addr)
    {
        if (held == room && !flush())
            return nullptr;
        unsigned char* b = buf.get() + held++ * uf2_layout::block_size;
        put32(b + uf2_layout::at_addr, static_cast<std::uint32_t>(addr));
        put32(b + uf2_layout::at_number, number++);
        open = addr;
        return b + uf2_layout::data_at;
    }

    // The payload of the page being filled.
    unsigned char* last() { return buf.get() + (held - 1) * uf2_layout::block_size + uf2_layout::data_at; }

    // The bytes of d at addr, into the page being filled and new ones after it.
    bool put(std::uint64_t addr, std::span<const unsigned char> d)
    {
        while (!d.empty()) {
            const std::uint64_t page = addr & ~std::uint64_t{uf2_layout::page - 1};
            const std::size_t at = static_cast<std::size_t>(addr - page);
            const std::size_t n = std::min(d.size(), uf2_layout::page - at);
            unsigned char* p;
            if (page == open) {
                p = last();
            } else {
                if (!(p = start(page)))
                    return false;
                if (n < uf2_layout::page)  // a page the image holds only a part of
                    std::memset(p, fill, uf2_layout::page);
            }
            std::memcpy(p + at, d.data(), n);
            addr += n;
            d = d.subspan(n);
        }
        return true;
    }
};

}  // namespace

std::optional<std::string_view> uf2_family_name(std::uint32_t id)
{
    for (const uf2_family& f : uf2_families)
        if (f.id == id)
            return f.name;
    return std::nullopt;
}

std::string uf2_family_text(std::uint32_t id)
{
    const std::string number = hex_text(id, 8);
    const auto name = uf2_family_name(id);
    return name ? std::string(*name) + " (" + number + ")" : number;
}

std::string uf2_family_names()
{
    std::string all;
    for (const uf2_family& f : uf2_families)
        all.append(all.empty() ? "" : ", ").append(f.name);
    return all;
}

std::uint64_t uf2_pages(std::span<const block> blocks)
{
    std::uint64_t n = 0, last = ~std::uint64_t{0};
    for (const block& b : blocks) {
        const std::uint64_t size = b.size();
        if (size == 0)
            continue;
        const std::uint64_t first = b.base / uf2_layout::page, end = (b.base + size - 1) / uf2_layout::page;
        n += end - first + (first == last ? 0 : 1);
        last = end;
    }
    return n;
}

bool write_uf2(const image_out& img, const sink& out)
{
    const container_args& c = img.container;
    uf2_out w{out, c.fill, static_cast<std::uint32_t>(uf2_pages(img.blocks)), c.family};
    for (const block& b : img.blocks) {
        std::uint64_t at = b.base;
        for (const piece& p : b.pieces) {
            if (!w.put(at, p))
                return false;
            at += p.size();
        }
    }
    return w.flush();
}

}  // namespace zb
