// zorbin's hex readers on arbitrary text. Byte 0 picks the format (the b-th row of the
// table, round and round; a format that is only written is passed by); the rest is the file.
// A read either fails with a line inside the file and a message, or gives an image
// whose parts are sorted, apart, inside the image's own buffer and no more than the text could
// hold. Whatever the readers give, written again in the reader's own format and read back,
// must be the same bytes (the format's fill and ihf's 4-byte units aside, which only a
// format's own writer makes).
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "check.h"
#include "write/engine.h"
#include "read/hexin.h"

namespace {

void check_image(const zb::hex_image& h, std::span<const unsigned char> file)
{
    if (h.error.f != zb::hex_fault::none) {
        // The line of a fault is a line of the file, or the one after its last; a file
        // without data has none. A file whose first line ends in a lone CR is read with CR
        // line ends, so either byte may end a line.
        std::size_t lines = 1;
        for (unsigned char c : file)
            lines += c == '\n' || c == '\r';
        CHECK(h.line <= lines + 1);
        CHECK((h.line == 0) == (h.error.f == zb::hex_fault::no_data));
        CHECK(!zb::hex_message("in.hex", h.line, h.error).empty());
        return;
    }
    std::uint64_t total = 0, end = 0;
    for (std::size_t k = 0; k < h.img.parts.size(); ++k) {
        const zb::part& p = h.img.parts[k];
        CHECK(!p.data.empty());
        CHECK(k == 0 || p.from.load >= end);
        end = p.from.load + p.data.size();
        CHECK(end <= 0x100000000);
        total += p.data.size();
        CHECK(!h.img.held.empty());
        const unsigned char* buf = h.img.held.front().get();
        CHECK(p.data.data() >= buf && p.data.data() + p.data.size() <= buf + file.size() / 2 + 16);
    }
    CHECK(total <= file.size() / 2);
    CHECK(!h.img.entry || *h.img.entry <= 0xFFFFFFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const zb::fmt format = zb::hex_formats[data[0] % zb::hex_formats.size()];
    if (!zb::readable(format))
        return 0;
    // A buffer of exactly the file's size, as the driver loads it.
    std::vector<unsigned char> file(data + 1, data + size);
    const std::span<const unsigned char> bytes(file);

    const zb::fmt detected = zb::detect_hex(bytes);
    CHECK(detected == zb::none || zb::readable(detected));
    const zb::hex_image h = zb::read_hex(bytes, format);
    check_image(h, bytes);
    if (h.error.f != zb::hex_fault::none || h.img.parts.empty())
        return 0;

    // Written by the writer of the format the records said, read back by its reader: the same
    // memory, where the format can carry the image at all.
    std::vector<zb::block> blocks = zb::blocks_of(h.img);
    std::string text;
    const zb::fmt again = h.format;
    if (zb::write_image(blocks, again, "in.bin", zb::string_sink(text), h.img.entry) !=
        zb::hex_result::ok)
        return 0;
    const std::span<const unsigned char> t(reinterpret_cast<const unsigned char*>(text.data()),
                                           text.size());
    CHECK(zb::formats[zb::detect_hex(t)].read == zb::formats[again].read);
    const zb::hex_image back = zb::read_hex(t, again);
    CHECK(back.error.f == zb::hex_fault::none);
    if (again == zb::fairbug || again == zb::sdsmac || again == zb::ihf || again == zb::cosmac)
        return 0;
    CHECK(back.img.parts.size() >= 1);
    std::vector<unsigned char> a, b;
    for (const zb::part& p : h.img.parts)
        a.insert(a.end(), p.data.begin(), p.data.end());
    for (const zb::part& p : back.img.parts)
        b.insert(b.end(), p.data.begin(), p.data.end());
    CHECK(a == b);
    CHECK(zb::lowest(back.img) == zb::lowest(h.img));
    return 0;
}
