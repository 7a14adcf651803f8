// The comparison of two images: one sweep over both lists of parts in address order.
#include "image/diff.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace zb {

namespace {

// Where a sweep stands in one image's parts; empty parts are passed by.
struct cursor {
    std::span<const part> parts;
    std::size_t k = 0, off = 0;

    void skip_empty()
    {
        while (k < parts.size() && off == parts[k].data.size()) {
            ++k;
            off = 0;
        }
    }
    bool done() const { return k == parts.size(); }
    std::uint64_t addr() const { return parts[k].from.load + off; }
    std::size_t left() const { return parts[k].data.size() - off; }
    const unsigned char* at() const { return parts[k].data.data() + off; }
    void advance(std::size_t n)
    {
        off += n;
        skip_empty();
    }
};

// The ranges as they are found: the one still open grows while the next run of its kind
// begins where it ends, which is how a range goes on from one part into the next.
struct collector {
    image_diff d;
    std::size_t max = 0;
    std::optional<diff_range> open;

    void close()
    {
        if (!open)
            return;
        if (d.ranges.size() < max)
            d.ranges.push_back(*open);
        else
            ++d.more;
        open.reset();
    }
    void add(diff_kind k, std::uint64_t addr, std::uint64_t n, const unsigned char* a = nullptr,
             const unsigned char* b = nullptr)
    {
        if (!open || open->kind != k || open->addr + open->size != addr) {
            close();
            open = diff_range{.kind = k, .addr = addr};
        }
        if (k == diff_kind::bytes)
            for (std::size_t i = 0; i < n && open->shown < diff_shown; ++i, ++open->shown) {
                open->a[open->shown] = a[i];
                open->b[open->shown] = b[i];
            }
        open->size += n;
        (k == diff_kind::bytes ? d.differ : k == diff_kind::only_a ? d.only_a : d.only_b) += n;
    }
};

// The offset of the first byte at which a and b differ within n, or n.
std::size_t first_difference(const unsigned char* a, const unsigned char* b, std::size_t n)
{
    constexpr std::size_t chunk = 4096;
    std::size_t i = 0;
    while (i + chunk <= n && std::memcmp(a + i, b + i, chunk) == 0)
        i += chunk;
    return static_cast<std::size_t>(std::mismatch(a + i, a + n, b + i).first - a);
}

// Both images hold n bytes from here on: their differing runs.
void compare_run(collector& c, std::uint64_t addr, const unsigned char* a, const unsigned char* b,
                 std::size_t n)
{
    for (std::size_t i = 0; i < n;) {
        i += first_difference(a + i, b + i, n - i);
        std::size_t j = i;
        while (j < n && a[j] != b[j])
            ++j;
        if (j > i)
            c.add(diff_kind::bytes, addr + i, j - i, a + i, b + i);
        i = j;
    }
}

// The rest of one image, which the other does not reach.
void rest(collector& c, cursor& x, diff_kind k)
{
    for (; !x.done(); x.advance(x.left()))
        c.add(k, x.addr(), x.left());
}

}  // namespace

image_diff diff_images(const image& a, const image& b, std::size_t max_ranges)
{
    collector c;
    c.max = max_ranges;
    cursor x{a.parts}, y{b.parts};
    x.skip_empty();
    y.skip_empty();
    while (!x.done() && !y.done()) {
        const std::uint64_t xa = x.addr(), ya = y.addr();
        if (xa < ya) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(x.left(), ya - xa));
            c.add(diff_kind::only_a, xa, n);
            x.advance(n);
        } else if (ya < xa) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(y.left(), xa - ya));
            c.add(diff_kind::only_b, ya, n);
            y.advance(n);
        } else {
            const std::size_t n = std::min(x.left(), y.left());
            compare_run(c, xa, x.at(), y.at(), n);
            x.advance(n);
            y.advance(n);
        }
    }
    rest(c, x, diff_kind::only_a);
    rest(c, y, diff_kind::only_b);
    c.close();
    c.d.entry_differs = a.entry != b.entry;
    return c.d;
}

}  // namespace zb
