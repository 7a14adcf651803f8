// The join of parts from several sources: one sort, then one sweep that compares and drops
// what a part shares with the parts before it.
#include "image/merge.h"

#include <algorithm>

namespace zb {

bool join_parts(std::vector<sourced> in, std::vector<part>& out, clash& c)
{
    // Records come in address order nearly always: then the sort has nothing to do.
    auto before = [](const sourced& x, const sourced& y) { return x.p.from.load < y.p.from.load; };
    if (!std::is_sorted(in.begin(), in.end(), before))
        std::stable_sort(in.begin(), in.end(), before);
    out.clear();
    out.reserve(in.size());
    std::vector<std::size_t> owner;  // the source of each part of out
    owner.reserve(in.size());
    for (sourced& s : in) {
        part& p = s.p;
        const std::uint64_t last_end = out.empty() ? 0 : end_of(out.back());
        // Every part before lies wholly below this one's start, or the parts before cover
        // every address from it up to last_end: a part starts where the one before it was cut
        // off, or at its own start, which is no higher than this one's.
        if (!out.empty() && p.from.load < last_end) {
            const std::uint64_t end = std::min(last_end, end_of(p));
            auto k = std::partition_point(out.begin(), out.end(),
                                          [&](const part& q) { return end_of(q) <= p.from.load; });
            for (std::uint64_t at = p.from.load; at < end; ++k) {
                const std::uint64_t upto = std::min(end, end_of(*k));
                const auto* x = k->data.data() + (at - k->from.load);
                const auto* y = p.data.data() + (at - p.from.load);
                const auto diff = std::mismatch(x, x + (upto - at), y).first - x;
                if (static_cast<std::uint64_t>(diff) < upto - at) {
                    const std::size_t other = owner[static_cast<std::size_t>(k - out.begin())];
                    const bool kept_first = other <= s.source;
                    c.addr = at + static_cast<std::uint64_t>(diff);
                    c.first = kept_first ? other : s.source;
                    c.second = kept_first ? s.source : other;
                    c.a = kept_first ? x[diff] : y[diff];
                    c.b = kept_first ? y[diff] : x[diff];
                    return false;
                }
                at = upto;
            }
            if (end == end_of(p))
                continue;  // all of it given before
            p = slice(p, end, end_of(p));
        }
        out.push_back(std::move(p));
        owner.push_back(s.source);
    }
    return true;
}

}  // namespace zb
