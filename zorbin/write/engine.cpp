// Hex record engine: blocks of image bytes at their addresses, written as one complete file in
// any format of the table: records in the layout of the format's own file, or the whole file
// by the format's own writer.
#include "write/engine.h"

#include <algorithm>
#include <optional>

#include "formats/records.h"

namespace zb {
namespace {

// The entry point as the format's field carries it, where it has one.
std::optional<std::uint32_t> carried(const format_row& f, std::optional<std::uint64_t> entry)
{
    if (entry && f.entry_max)
        return static_cast<std::uint32_t>(*entry);
    return std::nullopt;
}

// Start-of-output text, after the limit check has passed.
bool print_header(out_buffer& w, const format_row& f, std::size_t size, fmt format,
                  std::string_view filename, std::uint32_t base)
{
    return !f.start || f.start(w, format, size, filename, base);
}

bool print_trailer(out_buffer& w, const format_row& f, std::uint32_t records, fmt format,
                   std::optional<std::uint64_t> entry)
{
    if (!f.finish)
        return w.put(f.end);
    char* p = w.room();
    if (!p)
        return false;
    w.commit(f.finish(p, format, records, carried(f, entry)));
    return true;
}

// The records of a format of records: the start text, each block's records (a further block
// opening its page where the format has pages), the end text. size is the image's span.
bool put_records(const format_row& f, fmt format, std::span<const block> blocks,
                 std::size_t size, std::string_view filename, const sink& out,
                 std::optional<std::uint64_t> entry, const record_layout& layout)
{
    out_buffer w{out};
    w.reclen = layout.reclen;
    std::uint32_t records = 0;
    const auto first = static_cast<std::uint32_t>(blocks.empty() ? 0 : blocks.front().base);
    bool ok = !layout.header || f.head(w, *layout.header);
    ok = ok && print_header(w, f, size, format, filename, first);
    for (std::size_t k = 0; ok && k < blocks.size(); ++k) {
        const auto base = static_cast<std::uint32_t>(blocks[k].base);
        if (k > 0 && f.page != page_rule::none) {
            char* p = w.room();
            ok = p != nullptr;
            if (ok)
                w.commit(page_record(p, format, base));
        }
        ok = ok && f.write(w, blocks[k].pieces, base, records);
    }
    return ok && print_trailer(w, f, records, format, entry) && w.flush();
}

bool append(void* ctx, const char* data, std::size_t n)
{
    static_cast<std::string*>(ctx)->append(data, n);
    return true;
}

bool fits(const format_row& f, std::uint64_t base, std::uint64_t size)
{
    return base <= f.limit && size <= f.end_max - base;
}

// An image for a format whose records carry no address: one block from the lowest address to
// one past the highest, what lies between the blocks erased flash (FF). The limit check has
// passed, so it holds at most 64 KiB.
std::vector<unsigned char> fill_gaps(std::span<const block> blocks, std::uint64_t lo,
                                     std::uint64_t hi)
{
    std::vector<unsigned char> image(static_cast<std::size_t>(hi - lo), 0xFF);
    for (const block& b : blocks) {
        auto at = static_cast<std::size_t>(b.base - lo);
        for (const piece& p : b.pieces) {
            std::copy(p.begin(), p.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
            at += p.size();
        }
    }
    return image;
}

}  // namespace

std::uint32_t format_limit(fmt format)
{
    const format_row* f = row_of(format);
    return f ? f->limit : 0;
}

hex_result bin2hex(std::span<const unsigned char> buff, fmt format, std::string_view filename,
                   std::uint32_t file_base, const sink& out)
{
    const block whole{file_base, {buff}};
    return write_image({&whole, 1}, format, filename, out);
}

std::uint64_t entry_limit(fmt format)
{
    const format_row* f = row_of(format);
    return f ? f->entry_max : 0;
}

bool layout_fits(const format_row& f, const record_layout& layout)
{
    const std::size_t n = layout.reclen;
    const bool length = n == 0 || (n <= f.reclen_max && n % f.reclen_step == 0);
    return length && (!layout.header || (f.head && layout.header->size() <= f.head_max));
}

hex_result write_image(std::span<const block> blocks, fmt format, std::string_view filename,
                       const sink& out, std::optional<std::uint64_t> entry,
                       const wide_args& wide, const container_args& container,
                       const record_layout& layout)
{
    const format_row* row = row_of(format);
    if (!row)
        return hex_result::too_big;
    return write_as(*row, format, blocks, filename, out, entry, wide, container, layout);
}

hex_result write_as(const format_row& f, fmt format, std::span<const block> blocks,
                    std::string_view filename, const sink& out,
                    std::optional<std::uint64_t> entry, const wide_args& wide,
                    const container_args& container,
                    const record_layout& layout)
{
    if (!layout_fits(f, layout))
        return hex_result::bad_layout;
    const std::uint64_t first = blocks.empty() ? 0 : blocks.front().base;
    std::uint64_t lo = first, hi = first;
    for (const block& b : blocks) {
        const std::uint64_t size = b.size();
        if (!fits(f, b.base, size))
            return hex_result::too_big;
        lo = std::min(lo, b.base);
        hi = std::max(hi, b.base + size);
    }
    // After the data: an entry point moved out of its field with the data is told by the
    // data's message, as every input is whose data do not fit.
    if (entry && *entry > f.entry_max && f.entry_max != 0)
        return hex_result::entry_too_big;
    if (!f.addressed && blocks.size() > 1) {
        const std::vector<unsigned char> image = fill_gaps(blocks, lo, hi);
        const block whole{lo, {image}};
        return write_as(f, format, {&whole, 1}, filename, out, entry, wide, container, layout);
    }
    const image_out img{format, blocks, carried(f, entry), filename, wide, container};
    if (f.check && !f.check(img).empty())
        return hex_result::refused;
    bool ok;
    if (f.whole)
        ok = f.whole(img, out);
    else
        ok = put_records(f, format, blocks, static_cast<std::size_t>(hi - lo), filename, out,
                         entry, layout);
    return ok ? hex_result::ok : hex_result::write_error;
}

sink string_sink(std::string& s) { return {&s, append}; }

}  // namespace zb
