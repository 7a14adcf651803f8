// The -info report: plain columns, the same bytes on every system.
#include "write/info.h"

#include <algorithm>
#include <vector>

namespace zb {

namespace {

using row = std::vector<std::string>;

// Columns two blanks apart; the ones named in right are aligned to the right (numbers).
std::string table(const std::vector<row>& rows, std::span<const bool> right)
{
    std::vector<std::size_t> width(right.size(), 0);
    for (const row& r : rows)
        for (std::size_t c = 0; c < r.size(); ++c)
            width[c] = std::max(width[c], r[c].size());
    std::string out;
    for (const row& r : rows) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c) {
            const std::string pad(width[c] - r[c].size(), ' ');
            if (c > 0)
                line += "  ";
            line += right[c] ? pad + r[c] : r[c] + (c + 1 < r.size() ? pad : "");
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace

std::string info_report(const info_input& in)
{
    std::uint64_t highest = in.entry.value_or(0);
    for (const block& b : in.blocks)
        highest = std::max(highest, b.base + b.size() - (b.size() > 0 ? 1 : 0));
    for (const part& p : in.parts)
        highest = std::max({highest, p.from.run, p.from.offset});
    for (const part& p : in.dropped)
        highest = std::max({highest, p.from.run, p.from.load, p.from.offset});
    const int digits = highest > 0xFFFFFFFF ? 16 : 8;

    std::string out = std::string(in.name) + ": " + std::string(in.kind) + ", entry point " +
                      (in.entry ? hex_text(*in.entry, digits) : std::string("none")) + "\n";
    for (const input_named& a : in.added)
        out += a.name + ": " + a.kind + ", added\n";
    const bool several = !in.added.empty();
    auto input_of = [&](const origin& o) -> std::string {
        if (o.made)
            return "-";
        return o.input == 0 ? std::string(in.name) : in.added[o.input - 1].name;
    };

    std::vector<row> blocks{{"block", "first", "last", "bytes"}};
    for (std::size_t k = 0; k < in.blocks.size(); ++k) {
        const block& b = in.blocks[k];
        const std::uint64_t n = b.size();
        blocks.push_back({std::to_string(k + 1), hex_text(b.base, digits),
                          hex_text(b.base + n - (n > 0 ? 1 : 0), digits), std::to_string(n)});
    }
    constexpr bool block_right[]{true, false, false, true};
    out += table(blocks, block_right);

    std::vector<row> pieces{{"piece", "run", "load", "offset", "bytes", "placed by"}};
    if (several)
        pieces.front().insert(pieces.front().begin() + 1, "input");
    auto add_row = [&](const origin& o, std::uint64_t n, const std::string& why) {
        pieces.push_back({o.name, hex_text(o.run, digits), hex_text(o.load, digits),
                          o.made ? std::string("-") : hex_text(o.offset, digits), std::to_string(n),
                          why});
        if (several)
            pieces.back().insert(pieces.back().begin() + 1, input_of(o));
    };
    std::size_t gone = 0;  // the dropped pieces listed so far
    for (std::size_t k = 0; k < in.parts.size(); ++k) {
        const origin& o = in.parts[k].from;
        for (; gone < in.dropped.size() && in.dropped[gone].from.load < o.load; ++gone)
            add_row(in.dropped[gone].from, in.dropped[gone].data.size(),
                    in.dropped[gone].from.why + ", dropped by -range");
        std::uint64_t n = in.parts[k].data.size();
        // A long gap is filled from one buffer in several parts: one row.
        while (o.made && k + 1 < in.parts.size() && in.parts[k + 1].from.made &&
               in.parts[k + 1].from.name == o.name && in.parts[k + 1].from.load == o.load + n)
            n += in.parts[++k].data.size();
        add_row(o, n, o.why);
    }
    for (; gone < in.dropped.size(); ++gone)
        add_row(in.dropped[gone].from, in.dropped[gone].data.size(),
                in.dropped[gone].from.why + ", dropped by -range");
    constexpr bool piece_right[]{false, false, false, false, true, false};
    constexpr bool piece_right_inputs[]{false, false, false, false, false, true, false};
    out += several ? table(pieces, piece_right_inputs) : table(pieces, piece_right);
    for (const std::string& note : in.notes)
        out += note + "\n";
    return out;
}

}  // namespace zb
