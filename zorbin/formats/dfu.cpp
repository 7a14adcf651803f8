// -dfu and -dfuse: a body, then the DFU suffix whose CRC covers every byte before it. The
// body goes out through one buffer of 256 KiB, the CRC taken over each buffer just before it
// is written (carry-less multiplication where the processor has it, image/crc.*): every byte
// is read once from where it lies, then twice from the cache. Reading a large mapped input
// twice instead, once for the CRC and once for the write, made -dfu half as slow again as
// -raw where the first touch of a mapped page is dear (a virtual machine's shadow pages).
#include "formats/dfu.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "formats/formats.h"
#include "image/crc.h"

namespace zb {

namespace {

constexpr std::size_t buf_size = 256u << 10;

// The CRC DFU tools check: CRC-32 reflected, initial FFFFFFFF, no final XOR.
constexpr crc_model dfu_crc{32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0};

unsigned char* put16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    return p + 2;
}

unsigned char* put32(unsigned char* p, std::uint32_t v)
{
    return put16(put16(p, v), v >> 16);
}

unsigned char* put_text(unsigned char* p, std::string_view s)
{
    if (!s.empty())  // an empty view may hold no pointer at all, which memcpy must not get
        std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

struct dfu_out {
    const sink& out;
    crc_state crc = crc_start(dfu_crc);
    std::unique_ptr<unsigned char[]> buf{new unsigned char[buf_size]};
    std::size_t len = 0;

    bool flush()
    {
        crc_add(crc, {buf.get(), len});
        const bool ok =
            len == 0 || out.write(out.ctx, reinterpret_cast<const char*>(buf.get()), len);
        len = 0;
        return ok;
    }
    bool put(std::span<const unsigned char> d)
    {
        while (!d.empty()) {
            if (len == buf_size && !flush())
                return false;
            const std::size_t n = std::min(d.size(), buf_size - len);
            std::memcpy(buf.get() + len, d.data(), n);
            len += n;
            d = d.subspan(n);
        }
        return true;
    }
    bool fill(std::uint64_t n, unsigned char v)
    {
        while (n > 0) {
            if (len == buf_size && !flush())
                return false;
            const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n, buf_size - len));
            std::memset(buf.get() + len, v, k);
            len += k;
            n -= k;
        }
        return true;
    }
    // The suffix, its CRC over everything before it, and the last write.
    bool finish(const usb_id& id, std::uint16_t bcd_dfu)
    {
        unsigned char s[dfu_layout::suffix_size - 4];
        unsigned char* p = put16(put16(put16(put16(s, id.bcd), id.pid), id.vid), bcd_dfu);
        put_text(p, "UFD\x10");
        if (!put(s) || !flush())
            return false;
        unsigned char c[4];
        put32(c, static_cast<std::uint32_t>(crc_final(crc)));
        return out.write(out.ctx, reinterpret_cast<const char*>(c), 4);
    }
};

// The bytes of the blocks that lie in [lo, end), fill in between and around them.
bool put_span(dfu_out& w, std::span<const block> blocks, std::uint64_t lo, std::uint64_t end,
              unsigned char fill)
{
    std::uint64_t next = lo;
    for (const block& b : blocks) {
        std::uint64_t at = b.base;
        for (const piece& p : b.pieces) {
            const std::uint64_t from = std::max(at, lo), to = std::min(at + p.size(), end);
            if (from < to) {
                if (!w.fill(from - next, fill) ||
                    !w.put(p.subspan(static_cast<std::size_t>(from - at),
                                     static_cast<std::size_t>(to - from))))
                    return false;
                next = to;
            }
            at += p.size();
        }
    }
    return w.fill(end > next ? end - next : 0, fill);
}

std::uint64_t elements_size(std::span<const block> blocks)
{
    std::uint64_t n = 0;
    for (const block& b : blocks)
        if (b.size() > 0)
            n += dfu_layout::element_head + b.size();
    return n;
}

}  // namespace

std::uint64_t dfuse_size(std::span<const block> blocks)
{
    return dfu_layout::prefix_size + dfu_layout::target_size + elements_size(blocks) +
           dfu_layout::suffix_size;
}

std::string check_dfuse(const image_out& img)
{
    const std::uint64_t n = dfuse_size(img.blocks);
    if (n <= 0xFFFFFFFF)
        return {};
    return "DfuSe file of " + std::string(img.filename) + " would be " + std::to_string(n) +
           " bytes, more than its image size field holds\n";
}

bool write_dfu(const image_out& img, const sink& out)
{
    const container_args& c = img.container;
    std::uint64_t lo = c.lo, end = c.end;
    if (lo == end && !img.blocks.empty()) {
        lo = img.blocks.front().base;
        end = img.blocks.back().base + img.blocks.back().size();
    }
    dfu_out w{out};
    return put_span(w, img.blocks, lo, end, c.fill) && w.finish(c.usb, 0x0100);
}

bool write_dfuse(const image_out& img, const sink& out)
{
    const container_args& c = img.container;
    std::uint32_t count = 0;
    for (const block& b : img.blocks)
        count += b.size() > 0;
    // Every size field was held to 32 bits before the run began to write.
    const auto targets = static_cast<std::uint32_t>(elements_size(img.blocks));
    unsigned char head[dfu_layout::prefix_size + dfu_layout::target_size]{};
    unsigned char* p = put_text(head, "DfuSe\x01");
    // The whole file but its suffix: what the prefix and its targets make up. dfu-util 0.11's
    // dfuse-pack counts the suffix as well; the docs say so.
    p = put32(p, static_cast<std::uint32_t>(dfuse_size(img.blocks) - dfu_layout::suffix_size));
    *p++ = 1;  // one target
    p = put_text(p, "Target");
    *p++ = 0;  // alternate setting 0
    const std::string_view name = c.target.substr(0, dfu_layout::name_max);
    p = put32(p, name.empty() ? 0 : 1);
    put_text(p, name);
    p += 255;
    put32(put32(p, targets), count);
    dfu_out w{out};
    if (!w.put(head))
        return false;
    for (const block& b : img.blocks) {
        if (b.size() == 0)
            continue;
        unsigned char e[dfu_layout::element_head];
        put32(put32(e, static_cast<std::uint32_t>(b.base)), static_cast<std::uint32_t>(b.size()));
        if (!w.put(e))
            return false;
        for (const piece& q : b.pieces)
            if (!w.put(q))
                return false;
    }
    return w.finish(c.usb, 0x011A);
}

}  // namespace zb
