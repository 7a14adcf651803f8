// The -cmp report: plain lines, the same bytes on every system.
#include "write/compare.h"

namespace zb {

namespace {

std::string count(std::uint64_t n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string shown(const std::array<unsigned char, diff_shown>& bytes, const diff_range& r)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t k = 0; k < r.shown; ++k) {
        if (k > 0)
            s += ' ';
        s += digits[bytes[k] >> 4];
        s += digits[bytes[k] & 15];
    }
    return r.size > r.shown ? s + " ..." : s;
}

std::string range_line(const compare_input& in, std::size_t k)
{
    const diff_range& r = in.diff.ranges[k];
    std::string line = hex_text(r.addr, 8);
    if (k < in.where.size() && !in.where[k].empty())
        line += " " + in.where[k];
    line += ": ";
    switch (r.kind) {
    case diff_kind::bytes:
        line += count(r.size, "byte differs", "bytes differ") + ", " + shown(r.a, r) + " in " +
                std::string(in.a) + ", " + shown(r.b, r) + " in " + std::string(in.b);
        break;
    case diff_kind::only_a:
    case diff_kind::only_b:
        line += count(r.size, "byte", "bytes") + " only in " +
                std::string(r.kind == diff_kind::only_a ? in.a : in.b);
        break;
    }
    return line + "\n";
}

std::string entry_text(std::optional<std::uint64_t> e)
{
    return e ? hex_text(*e, 8) : std::string("none");
}

}  // namespace

std::string compare_report(const compare_input& in)
{
    std::string out = std::string(in.a) + " and " + std::string(in.b) + " differ\n";
    for (std::size_t k = 0; k < in.diff.ranges.size(); ++k)
        out += range_line(in, k);
    if (in.diff.more > 0)
        out += "and " + count(in.diff.more, "more range", "more ranges") + "\n";
    if (in.diff.entry_differs)
        out += "entry point " + entry_text(in.a_entry) + " in " + std::string(in.a) + ", " +
               entry_text(in.b_entry) + " in " + std::string(in.b) + "\n";
    return out;
}

}  // namespace zb
