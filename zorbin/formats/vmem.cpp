// Verilog memory files, as $readmemh reads them into a memory of words:
//   @00000400                 the word address where the words that follow begin
//   04030201 08070605 ...     the words in hex, 16 bytes' worth a line
// A new @ line opens each run of words that does not follow on from the one before.
#include "formats/wide.h"
#include "formats/wordtext.h"

namespace zb {

wide_error check_vmem(std::span<const block> blocks, const wide_args& a)
{
    std::vector<span_of> spans;
    return word_check(blocks, a, spans);
}

wide_error write_vmem(std::span<const block> blocks, const wide_args& a, const sink& out)
{
    std::vector<span_of> spans;
    if (wide_error e = word_check(blocks, a, spans); e.f != wide_fault::none)
        return e;
    out_buffer w{out};
    byte_reader r{blocks, a.fill.value_or(0)};
    std::vector<unsigned char> buf(chunk);
    char* p = w.room();
    const bool ok = p && with_word(a, [&]<unsigned W, bool BE>() {
        for (const span_of& s : spans) {
            if (!line_room(w, p))
                return false;
            const std::uint64_t at = s.lo / W;
            *p++ = '@';
            p = put_eol(put_hex(p, at, std::max(8, hex_width(at))));
            auto line = [](char* q, const unsigned char* b, std::size_t n, bool) {
                return put_eol(put_words<W, BE, ' '>(q, b, n / W) - 1);
            };
            if (!put_lines(w, p, r, buf.data(), s.lo, s.end, line))
                return false;
        }
        return true;
    });
    if (ok)
        w.commit(p);
    return written(ok && w.flush());
}

}  // namespace zb
