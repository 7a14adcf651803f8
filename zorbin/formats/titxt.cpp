// TI-TXT, as TI's MSP430 tools read it:
//   @F000                     the address where the bytes that follow begin
//   31 40 00 03 B2 40 ...     the bytes in hex, 16 a line
//   q                         the end
#include "formats/wide.h"
#include "formats/wordtext.h"

namespace zb {

namespace {

wide_error plan(std::span<const block> blocks, std::vector<span_of>& spans)
{
    const lane_error e = word_spans(blocks, 1, false, spans);
    return e.f == lane_fault::none ? wide_error{} : wide_err(wide_fault::too_high, e.a);
}

}  // namespace

wide_error check_titxt(std::span<const block> blocks, const wide_args&)
{
    std::vector<span_of> spans;
    return plan(blocks, spans);
}

wide_error write_titxt(std::span<const block> blocks, const wide_args&, const sink& out)
{
    std::vector<span_of> spans;
    if (wide_error e = plan(blocks, spans); e.f != wide_fault::none)
        return e;
    out_buffer w{out};
    byte_reader r{blocks, 0};
    std::vector<unsigned char> buf(chunk);
    char* p = w.room();
    auto line = [](char* q, const unsigned char* b, std::size_t n, bool) {
        return put_eol(put_words<1, true, ' '>(q, b, n) - 1);
    };
    bool ok = p != nullptr;
    for (std::size_t k = 0; ok && k < spans.size(); ++k) {
        ok = line_room(w, p);
        if (ok) {
            *p++ = '@';
            p = put_eol(put_hex(p, spans[k].lo, std::max(4, hex_width(spans[k].lo))));
            ok = put_lines(w, p, r, buf.data(), spans[k].lo, spans[k].end, line);
        }
    }
    ok = ok && line_room(w, p);
    if (ok)
        w.commit(put_eol(put_text(p, "q")));
    return written(ok && w.flush());
}

}  // namespace zb
