// zorbin's image reader and record engine on arbitrary file bytes and options: the root and up to
// 64 chain segments, each written into memory in the chosen format. Every successful segment
// must lie inside the file, and its records must equal those of a plain per-byte writer made
// straight from the format descriptions.
//
// Input layout: byte 0 option bits (1 -bin, 2 -base, 4 output name, 8 and 16 pick the file
// name the sdsmac start record carries), byte 1 the format (the b-th row of the table, round
// and round), bytes 2..5 the -base value (little-endian), the rest the input file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "write/engine.h"
#include "fileio.h"
#include "read/aif.h"

namespace {

constexpr int max_segments = 64;

constexpr std::string_view names[] = {"in.bin", "", "a.bin",
                                      "a-name-of-forty-characters-for-sdsmac.bin"};

struct ref_writer {
    zb::fmt f;
    std::string out;

    // The formats spelled out here, the thirteen of records; a later one is held only to
    // its limits.
    bool knows() const { return f >= zb::cosmac && f <= zb::ihf; }

    template <typename... T>
    void pf(const char* fmt, T... v)
    {
        char b[128];
        std::snprintf(b, sizeof b, fmt, v...);
        out += b;
    }

    std::uint32_t add(std::uint32_t sum, std::uint32_t v) const
    {
        switch (f) {
        case zb::cosmac:
            return 0;
        case zb::fairbug:
        case zb::tektronix:
            return sum + ((v >> 4) & 0xF) + (v & 0xF);
        case zb::signetics: {
            std::uint32_t x = (sum ^ v) & 0xFF;
            return ((x << 1) | (x >> 7)) & 0xFF;
        }
        default:
            return sum + v;
        }
    }

    void page(std::uint32_t a)
    {
        if (f == zb::mcs86) {
            std::uint32_t seg = (a >> 4) & 0xF000;
            pf(":02000002%04X%02X\n", seg, (0 - (2 + 2 + (seg >> 8) + (seg & 0xFF))) & 0xFF);
        } else if (f == zb::intel32) {
            std::uint32_t seg = a >> 16;
            pf(":02000004%04X%02X\n", seg & 0xFFFF, (0 - (2 + 4 + (seg >> 8) + (seg & 0xFF))) & 0xFF);
        }
    }

    static std::uint32_t chars(std::string_view s)
    {
        std::uint32_t sum = 0;
        for (char c : s)
            sum += static_cast<unsigned char>(c);
        return sum;
    }

    void start(std::size_t size, std::string_view name, std::uint32_t base)
    {
        if (f == zb::cosmac) {
            pf("!M%04X ,\n", base);
        } else if (f == zb::fairbug) {
            pf("S%04X\n", base);
        } else if (f == zb::mcs86 || f == zb::intel32) {
            page(base);
        } else if (f == zb::sdsmac) {
            std::size_t at = out.size();
            pf("0%04X7", static_cast<unsigned>(size));
            for (char ch : name) {
                unsigned c = static_cast<unsigned char>(ch);
                pf("%02X", c >= 'a' && c <= 'z' ? c - 32 : c);
            }
            pf("8%04XF\n", (56 + chars(std::string_view(out).substr(at))) & 0xFFFF);
        }
    }

    // One record of len bytes from s, at address a; bytes past end read as 0xFF.
    void record(const unsigned char* s, std::size_t len, std::size_t avail, std::uint32_t a)
    {
        auto byte = [&](std::size_t k) -> std::uint32_t { return k < avail ? s[k] : 0xFF; };
        std::uint32_t sum = add(add(add(0, (a >> 8) & 0xFF), a & 0xFF), static_cast<std::uint32_t>(len));
        auto data = [&] {
            for (std::size_t k = 0; k < len; k++) {
                pf("%02X", byte(k));
                sum = add(sum, byte(k));
            }
        };
        auto count = static_cast<unsigned>(len);
        switch (f) {
        case zb::cosmac:
            data();
            break;
        case zb::fairbug:
            out += 'X';
            sum = 0;
            data();
            pf("%X\n", sum & 0xF);
            break;
        case zb::mostech:
            pf(";%02X%04X", count, a);
            data();
            pf("%04X\n", sum & 0xFFFF);
            break;
        case zb::exorciser:
            pf("S1%02X%04X", count + 3, a);
            sum += 3;
            data();
            pf("%02X\n", ~sum & 0xFF);
            break;
        case zb::exormacs:
            pf("S2%02X%06X", count + 4, a);
            sum += 4 + ((a >> 16) & 0xFF);
            data();
            pf("%02X\n", ~sum & 0xFF);
            break;
        case zb::motorola32:
            pf("S3%02X%08X", count + 5, a);
            sum += 5 + ((a >> 16) & 0xFF) + (a >> 24);
            data();
            pf("%02X\n", ~sum & 0xFF);
            break;
        case zb::mds:
        case zb::mcs86:
        case zb::intel32:
            pf(":%02X%04X00", count, a & 0xFFFF);
            data();
            pf("%02X\n", (0 - sum) & 0xFF);
            break;
        case zb::signetics:
        case zb::tektronix:
            pf(f == zb::signetics ? ":%04X%02X%02X" : "/%04X%02X%02X", a, count, sum & 0xFF);
            sum = 0;
            data();
            pf("%02X\n", sum & 0xFF);
            break;
        case zb::sdsmac: {
            std::size_t at = out.size();
            pf("9%04X", a);
            for (std::size_t k = 0; k < len; k += 2)
                pf("B%04X", byte(k) << 8 | byte(k + 1));
            out += '8';
            pf("%04XF\n", (0 - chars(std::string_view(out).substr(at))) & 0xFFFF);
            break;
        }
        case zb::ihf: {
            std::uint32_t units = a / 4;
            pf(":%02X %04X 00 ", count / 4, units);
            sum = count / 4 + ((units >> 8) & 0xFF) + (units & 0xFF);
            data();
            pf(" %02X\n", (0 - sum) & 0xFF);
            break;
        }
        default:
            break;
        }
    }

    void write(std::span<const unsigned char> d, std::string_view name, std::uint32_t base)
    {
        start(d.size(), name, base);
        const std::size_t rec = f == zb::ihf ? 32 : f == zb::fairbug ? 8 : 16;
        const bool paged = f == zb::mcs86 || f == zb::intel32;
        std::uint32_t records = 0;
        for (std::size_t i = 0; i < d.size();) {
            auto a = static_cast<std::uint32_t>(base + i);
            std::size_t len = f == zb::fairbug ? 8 : std::min(rec - i % rec, d.size() - i);
            if (paged)
                len = std::min<std::size_t>(len, 0x10000 - (a & 0xFFFF));
            record(d.data() + i, len, d.size() - i, a);
            records++;
            i += len;
            if (i < d.size()) {
                auto next = static_cast<std::uint32_t>(a + len);
                if (paged && (next & 0xFFFF) == 0)
                    page(next);
                if (f == zb::cosmac)
                    out += ",\n";
            }
        }
        static constexpr const char* ends[] = {
            "", "\n", "*\n", "", "S9030000FC\n", ":00000001FF\n", ":000000\n", "/00000000\n",
            "S9030000FC\n", ":00000001FF\n", ":\n", "S70500000000FA\n", ":00000001FF\n",
            ":00 0000 01 FF\n"};
        if (f == zb::mostech)
            pf(";00%04X%04X\n", records, records);
        else
            out += ends[static_cast<std::size_t>(f)];
    }
};

bool too_big(zb::fmt f, std::uint32_t base, std::size_t size)
{
    std::uint64_t limit = zb::format_limit(f);
    std::uint64_t end_max = limit == 0xFFFFFFFF ? limit + 1 : limit;
    return base > limit || base + std::uint64_t{size} > end_max;
}

void check_segment(const zb::segment& seg, std::span<const unsigned char> file, zb::fmt format,
                   std::string_view name)
{
    // A segment is a window on the loaded file, never beyond it.
    CHECK(seg.data.data() >= file.data() || seg.data.empty());
    CHECK(seg.data.empty() || seg.data.data() + seg.data.size() <= file.data() + file.size());

    std::string got;
    zb::hex_result r = zb::bin2hex(seg.data, format, name, seg.base, zb::string_sink(got));
    if (too_big(format, seg.base, seg.data.size())) {
        CHECK(r == zb::hex_result::too_big);
        CHECK(got.empty());
        return;
    }
    // A format with a check of its own refuses an empty segment before its first byte.
    const zb::block b{seg.base, {seg.data}};
    const zb::format_row& row = zb::formats[format];
    if (row.check && !row.check({format, {&b, 1}, {}, name}).empty()) {
        CHECK(r == zb::hex_result::refused && got.empty());
        return;
    }
    CHECK(r == zb::hex_result::ok);
    ref_writer ref{format, {}};
    if (!ref.knows())
        return;
    // Text lines only: printable characters, each line ended by CR LF.
    CHECK(got.size() >= 2 && got.ends_with("\r\n"));
    for (std::size_t k = 0; k < got.size(); k++) {
        unsigned char c = static_cast<unsigned char>(got[k]);
        if (c == '\r')
            CHECK(k + 1 < got.size() && got[k + 1] == '\n');
        else if (c == '\n')
            CHECK(k > 0 && got[k - 1] == '\r');
        else
            CHECK(c >= 0x20 && c < 0x7F);
    }
    ref.write(seg.data, name, seg.base);
    CHECK(got == fw::crlf(ref.out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    const unsigned flags = data[0];
    const zb::fmt format = zb::hex_formats[data[1] % zb::hex_formats.size()];
    std::uint32_t base;
    std::memcpy(&base, data + 2, 4);
    // A buffer of exactly the file's size, as the driver loads it, so any read past either
    // end is caught.
    std::vector<unsigned char> file(data + 6, data + size);
    std::span<const unsigned char> bytes(file);
    const std::string_view name = names[(flags >> 3) & 3];

    if (flags & 1) {
        // -bin: the whole file at the base, whatever its bytes.
        check_segment({bytes, base, {}, {}}, bytes, format, name);
        return 0;
    }
    zb::image_args args{.baseflag = (flags & 2) != 0,
                        .base = base,
                        .outfile = (flags & 4) ? "out.hex" : nullptr};
    zb::root_result r = zb::read_root(bytes, args);
    if (r.error != zb::fault::none) {
        CHECK(!zb::fault_message(r.error, "in.bin", 0, {}).empty());
        return 0;
    }
    check_segment(r.root, bytes, format, name);

    zb::segment seg;
    for (int n = 0; n < max_segments && r.next.fragment_offset != 0; n++) {
        const std::uint32_t at = r.next.fragment_offset;
        zb::fault f = zb::next_segment(bytes, r.next, seg);
        if (f != zb::fault::none) {
            CHECK(r.next.fragment_offset == at);
            CHECK(!zb::fault_message(f, "in.bin", at, seg.name).empty());
            return 0;
        }
        // The header and name lie wholly inside the file; the name is a plain file name.
        CHECK(std::uint64_t{at} + 44 <= bytes.size());
        CHECK(seg.name.size() < 32 && seg.name.find_first_of("/\\") == std::string::npos);
        CHECK(seg.outfile && *seg.outfile == seg.name + ".hex");
        check_segment(seg, bytes, format, name);
    }
    return 0;
}
