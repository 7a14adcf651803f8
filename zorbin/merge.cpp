// The join of parts from several sources: one sort, then one sweep that compares and drops
// what a part shares with the one before it.
#include "merge.h"

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
        if (!out.empty()) {
            const part& last = out.back();
            const std::uint64_t last_end = last.from.load + last.data.size();
            // Sorted by start, so only the part before can reach over this one's start.
            if (p.from.load < last_end) {
                const std::uint64_t shared =
                    std::min<std::uint64_t>(last_end, p.from.load + p.data.size()) - p.from.load;
                const auto* x = last.data.data() + (p.from.load - last.from.load);
                const auto* y = p.data.data();
                const auto diff = std::mismatch(x, x + shared, y).first - x;
                if (static_cast<std::uint64_t>(diff) < shared) {
                    const bool kept_first = owner.back() <= s.source;
                    c.addr = p.from.load + static_cast<std::uint64_t>(diff);
                    c.first = kept_first ? owner.back() : s.source;
                    c.second = kept_first ? s.source : owner.back();
                    c.a = kept_first ? x[diff] : y[diff];
                    c.b = kept_first ? y[diff] : x[diff];
                    return false;
                }
                if (shared == p.data.size())
                    continue;
                const auto skip = static_cast<std::size_t>(shared);
                p.data = p.data.subspan(skip);
                p.from.load += skip;
                p.from.run += skip;
                p.from.offset += p.from.made ? 0 : skip;
                p.from.size = p.data.size();
            }
        }
        out.push_back(std::move(p));
        owner.push_back(s.source);
    }
    return true;
}

}  // namespace zb
