// Raw bytes in large writes: big pieces go straight from the input's buffer, small ones and
// the gaps are gathered into one buffer first.
#include "write/raw.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zb {

namespace {

constexpr std::size_t buf_size = 1u << 20;
constexpr std::size_t direct = 64u << 10;  // a piece this large is written as it lies

struct raw_out {
    const sink& out;
    std::unique_ptr<unsigned char[]> buf{new unsigned char[buf_size]};
    std::size_t len = 0;

    bool flush()
    {
        const bool ok = len == 0 || out.write(out.ctx, reinterpret_cast<const char*>(buf.get()), len);
        len = 0;
        return ok;
    }
    bool put(std::span<const unsigned char> d)
    {
        if (d.size() >= direct)
            return flush() && out.write(out.ctx, reinterpret_cast<const char*>(d.data()), d.size());
        if (buf_size - len < d.size() && !flush())
            return false;
        std::memcpy(buf.get() + len, d.data(), d.size());
        len += d.size();
        return true;
    }
    bool fill(std::uint64_t n, unsigned char v)
    {
        while (n > 0) {
            if (len == buf_size && !flush())
                return false;
            const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, buf_size - len));
            std::memset(buf.get() + len, v, k);
            len += k;
            n -= k;
        }
        return true;
    }
};

}  // namespace

hex_result write_raw(const image& img, span_of s, unsigned char fill, const sink& out)
{
    raw_out w{out};
    std::uint64_t next = s.lo;
    bool ok = true;
    for (const part& p : img.parts) {
        const std::uint64_t lo = std::max(p.from.load, s.lo);
        const std::uint64_t end = std::min(p.from.load + p.data.size(), s.end);
        if (lo >= end)
            continue;
        ok = ok && w.fill(lo - next, fill) &&
             w.put(p.data.subspan(static_cast<std::size_t>(lo - p.from.load),
                                  static_cast<std::size_t>(end - lo)));
        next = end;
    }
    ok = ok && w.fill(s.end - next, fill) && w.flush();
    return ok ? hex_result::ok : hex_result::write_error;
}

}  // namespace zb
