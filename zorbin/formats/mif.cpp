// Memory Initialization Files, as Quartus initialises a memory from them:
//   WIDTH=32;                 bits of a word
//   DEPTH=1024;               words, from the start to the image's end
//   ADDRESS_RADIX=HEX;
//   DATA_RADIX=HEX;
//   CONTENT BEGIN
//   	0000 : 04030201;        one word at a word address from the start, in 4, 8 or 16
//   	[0001..00FF] : 00000000;  digits; a run of equal words in one line
//   END;
// Every word from the start on gets a line, gaps the fill byte (0 without one), so that the
// memory holds no word the file leaves to chance; runs keep a gap to one line.
#include <string>

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
    return start_check(a, spans, 0, start);
}

// A word address in D digits: 4, 8 or 16.
template <int D>
inline char* put_index(char* p, std::uint64_t i)
{
    if constexpr (D == 4)
        return put4(p, static_cast<std::uint32_t>(i));
    else if constexpr (D == 8)
        return put8(p, static_cast<std::uint32_t>(i));
    else
        return put8(put8(p, static_cast<std::uint32_t>(i >> 32)), static_cast<std::uint32_t>(i));
}

// The line of count words of value v from word first on: "\tADDR : WORD;" for one, most of
// a MIF, in stores of fixed sizes; "\t[A..B] : WORD;" for more.
template <unsigned W, int D>
inline char* put_line(char* p, std::uint64_t first, std::uint64_t count, std::uint64_t v)
{
    *p++ = '\t';
    if (count == 1) [[likely]] {
        p = put_index<D>(p, first);
    } else {
        *p++ = '[';
        p = put_index<D>(put_text(put_index<D>(p, first), ".."), first + count - 1);
        *p++ = ']';
    }
    std::memcpy(p, " : ", 4);
    p = put_word<W>(p + 3, v);
    std::memcpy(p, ";\r\n", 4);
    return p + 3;
}

// Every word from start to the end of the last span, gaps the fill, in lines at at; runs of
// equal words in one line. Kept in locals, which the stores of the text cannot alias.
template <unsigned W, bool BE, int D>
bool put_words(out_buffer& w, char*& at, byte_reader& r, unsigned char* buf,
               std::span<const span_of> spans, std::uint64_t start, unsigned char fill)
{
    char* p = at;
    const char* const full = w.full();
    // The run so far: count words of value from word first on; next, the word after it.
    std::uint64_t first = 0, count = 0, value = 0, next = 0;
    const std::uint64_t gap_word = std::uint64_t{0x0101010101010101} * fill >> (64 - 8 * W);
    for (const span_of& s : spans) {
        if (const std::uint64_t gap = (s.lo - start) / W - next; gap > 0) {
            if (count == 0 || value != gap_word) {
                if (count > 0) {
                    if (!line_room(w, p, full))
                        return false;
                    p = put_line<W, D>(p, first, count, value);
                }
                first = next;
                count = 0;
                value = gap_word;
            }
            count += gap;
            next += gap;
        }
        for (std::uint64_t a = s.lo; a < s.end;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, s.end - a));
            r.read(a, n, buf);
            for (std::size_t k = 0; k < n; k += W, ++next) {
                const std::uint64_t v = word_at<W, BE>(buf + k);
                if (v == value && count > 0) {
                    ++count;
                    continue;
                }
                if (count > 0) {
                    if (!line_room(w, p, full))
                        return false;
                    p = put_line<W, D>(p, first, count, value);
                }
                first = next;
                count = 1;
                value = v;
            }
            a += n;
        }
    }
    if (!line_room(w, p, full))
        return false;
    p = put_line<W, D>(p, first, count, value);
    if (!line_room(w, p, full))
        return false;
    at = p;
    return true;
}

}  // namespace

wide_error check_mif(std::span<const block> blocks, const wide_args& a)
{
    std::vector<span_of> spans;
    std::uint64_t start = 0;
    return plan(blocks, a, spans, start);
}

wide_error write_mif(std::span<const block> blocks, const wide_args& a, const sink& out)
{
    std::vector<span_of> spans;
    std::uint64_t start = 0;
    if (wide_error e = plan(blocks, a, spans, start); e.f != wide_fault::none)
        return e;
    const std::uint64_t depth = (spans.back().end - start) / a.width;
    // Addresses in 4, 8 or 16 digits, as many as the last one needs.
    const int digits = depth - 1 > 0xFFFFFFFF ? 16 : depth - 1 > 0xFFFF ? 8 : 4;
    const unsigned char fill = a.fill.value_or(0);
    out_buffer w{out};
    byte_reader r{blocks, fill};
    std::vector<unsigned char> buf(chunk);
    bool ok = w.put("WIDTH=" + std::to_string(8 * a.width) + ";\r\nDEPTH=" +
                    std::to_string(depth) +
                    ";\r\n\r\nADDRESS_RADIX=HEX;\r\nDATA_RADIX=HEX;\r\n\r\nCONTENT BEGIN\r\n");
    char* p = ok ? w.room() : nullptr;
    ok = p && with_word(a, [&]<unsigned W, bool BE>() {
        if (digits == 4)
            return put_words<W, BE, 4>(w, p, r, buf.data(), spans, start, fill);
        if (digits == 8)
            return put_words<W, BE, 8>(w, p, r, buf.data(), spans, start, fill);
        return put_words<W, BE, 16>(w, p, r, buf.data(), spans, start, fill);
    });
    if (ok)
        w.commit(put_text(p, "END;\r\n"));
    return written(ok && w.flush());
}

}  // namespace zb
