// Parts from several sources (records of one hex file, several inputs) into the sorted,
// separate parts of one image: a byte given twice alike is kept once, given twice
// differently it stops the join.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.h"

namespace zb {

// A part and its source: a run of records, an input.
struct sourced {
    part p;
    std::size_t source = 0;
};

// The first address given twice with different bytes: by the source that comes first in
// source order (first, a) and by the other (second, b).
struct clash {
    std::uint64_t addr = 0;
    std::size_t first = 0, second = 0;
    unsigned char a = 0, b = 0;
};

// The parts in ascending address order, none overlapping, into out; false with c set at a
// clash. Time n log n in the parts plus the bytes given twice.
bool join_parts(std::vector<sourced> in, std::vector<part>& out, clash& c);

}  // namespace zb
