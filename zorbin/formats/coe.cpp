// Xilinx coefficient files, as Vivado and ISE initialise a block memory from them:
//   memory_initialization_radix=16;
//   memory_initialization_vector=
//   04030201,08070605,...,    the words in hex, 16 bytes' worth a line
//   ...,1C1B1A19;             the last word ended by ;
// The file has no addresses: the words run from the -range start, or the image's lowest
// word, to its end, and a gap among them needs -fill.
#include "formats/wide.h"
#include "formats/wordtext.h"

namespace zb {

namespace {

wide_error plan(std::span<const block> blocks, const wide_args& a, std::vector<span_of>& spans,
                std::uint64_t& start)
{
    if (wide_error e = word_check(blocks, a, spans); e.f != wide_fault::none)
        return e;
    if (spans.empty())
        return wide_err(wide_fault::empty);
    if (wide_error e = start_check(a, spans, spans.front().lo, start); e.f != wide_fault::none)
        return e;
    if (a.fill)
        return {};
    if (start < spans.front().lo)
        return wide_err(wide_fault::gap, start, spans.front().lo);
    if (spans.size() > 1)
        return wide_err(wide_fault::gap, spans[0].end, spans[1].lo);
    return {};
}

}  // namespace

wide_error check_coe(std::span<const block> blocks, const wide_args& a)
{
    std::vector<span_of> spans;
    std::uint64_t start = 0;
    return plan(blocks, a, spans, start);
}

wide_error write_coe(std::span<const block> blocks, const wide_args& a, const sink& out)
{
    std::vector<span_of> spans;
    std::uint64_t start = 0;
    if (wide_error e = plan(blocks, a, spans, start); e.f != wide_fault::none)
        return e;
    out_buffer w{out};
    byte_reader r{blocks, a.fill.value_or(0)};
    std::vector<unsigned char> buf(chunk);
    bool ok = w.put("memory_initialization_radix=16;\r\nmemory_initialization_vector=\r\n");
    char* p = ok ? w.room() : nullptr;
    ok = p && with_word(a, [&]<unsigned W, bool BE>() {
        auto line = [](char* q, const unsigned char* b, std::size_t n, bool last) {
            q = put_words<W, BE, ','>(q, b, n / W);
            if (last)
                q[-1] = ';';
            return put_eol(q);
        };
        return put_lines(w, p, r, buf.data(), start, spans.back().end, line);
    });
    if (ok)
        w.commit(p);
    return written(ok && w.flush());
}

}  // namespace zb
