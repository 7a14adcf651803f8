// AIF image reader: marker and byte order, header stripping, root segment and segment chain.
// Every offset and size comes from the file, so each one is checked before it is used.
#include "read/aif.h"

#include <algorithm>
#include <cstdio>

#include "platform.h"

namespace zb {

namespace {

// AIF header words used here, as file offsets. The header is 128 bytes long.
constexpr std::size_t aif_header_size = 128;
constexpr std::size_t off_entry = 0x0C;
constexpr std::size_t off_marker = 0x10;
constexpr std::size_t off_ro_size = 0x14;
constexpr std::size_t off_rw_size = 0x18;
constexpr std::size_t off_image_base = 0x28;
constexpr std::size_t off_fragment = 0x38;

constexpr std::uint32_t aif_marker = 0xEF000011;  // SWI 0x11 at the fourth word

// fragment_header: next_fragment_offset, load_address, size in bytes, then a 32-byte name;
// the segment's data follows at offset 44.
constexpr std::size_t frag_next = 0;
constexpr std::size_t frag_load = 4;
constexpr std::size_t frag_size = 8;
constexpr std::size_t frag_name = 12;
constexpr std::size_t frag_name_size = 32;
constexpr std::size_t frag_header_size = 44;

constexpr std::string_view warn_not_stripped = "warning: non binary AIF file, header not stripped\n";
constexpr std::string_view warn_base = "warning: base will apply only to root segment\n";
constexpr std::string_view warn_outfile =
    "warning: output file name will only apply to root segment\n";

// The one way to reach untrusted bytes: n bytes at offset, or nothing unless all lie in file.
std::optional<std::span<const unsigned char>> region(std::span<const unsigned char> file,
                                                     std::uint64_t offset, std::uint64_t n)
{
    if (offset > file.size() || n > file.size() - offset)
        return std::nullopt;
    return file.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(n));
}

std::uint32_t le_word(std::span<const unsigned char> r, std::size_t off)
{
    return static_cast<std::uint32_t>(r[off]) | static_cast<std::uint32_t>(r[off + 1]) << 8 |
           static_cast<std::uint32_t>(r[off + 2]) << 16 |
           static_cast<std::uint32_t>(r[off + 3]) << 24;
}

// A header word of a region already obtained from region(), in the image's byte order.
std::uint32_t header_word(std::span<const unsigned char> r, std::size_t off, bool byte_reversing)
{
    std::uint32_t v = le_word(r, off);
    return byte_reversing ? byte_x(v) : v;
}

std::string hex32(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
    return buf;
}

// Records the segment at file range [at, at + n) in c, unless it shares bytes with one taken
// before; then c.other names that one. Ranges taken never overlap, so only the neighbours on
// either side need a look: a long chain is checked in n log n.
bool take(chain& c, std::uint64_t at, std::uint64_t n)
{
    auto next = c.taken.lower_bound(at);
    if (next != c.taken.end() && next->first < at + n) {
        c.other = next->first;
        return false;
    }
    if (next != c.taken.begin() && std::prev(next)->second > at) {
        c.other = std::prev(next)->first;
        return false;
    }
    c.taken.emplace(at, at + n);
    return true;
}

}  // namespace

std::uint32_t byte_x(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

bool is_aif(std::span<const unsigned char> file)
{
    // A file too short to hold the marker word has none.
    auto w = region(file, off_marker, 4);
    return w && (le_word(*w, 0) == aif_marker || le_word(*w, 0) == byte_x(aif_marker));
}

std::string_view aif_kind(const chain& c)
{
    return c.byte_reversing ? "AIF image, byte-reversed header words" : "AIF image";
}

root_result read_root(std::span<const unsigned char> file, const image_args& args)
{
    root_result r;
    r.root.data = file;
    r.root.base = args.base;
    if (args.outfile)
        r.root.outfile = args.outfile;
    if (!is_aif(file)) {
        r.error = fault::no_marker;
        return r;
    }
    r.next.byte_reversing = le_word(file, off_marker) == byte_x(aif_marker);

    auto hdr = region(file, 0, aif_header_size);
    if (!hdr) {
        r.error = fault::short_header;
        return r;
    }
    const bool rev = r.next.byte_reversing;
    // Summed in 64 bits: a sum past 32 bits cannot lie in the file and is refused below.
    std::uint64_t image_size = std::uint64_t{header_word(*hdr, off_ro_size, rev)} +
                               header_word(*hdr, off_rw_size, rev);
    std::uint32_t image_entry = header_word(*hdr, off_entry, rev);
    if (!args.baseflag)
        r.root.base = header_word(*hdr, off_image_base, rev);

    // An entry word BL<always> means the header is code that the image runs: keep it.
    std::uint64_t start = aif_header_size;
    if ((image_entry >> 24) == 0xEB) {
        r.warnings.push_back(warn_not_stripped);
        start = 0;
    }

    r.next.fragment_offset = header_word(*hdr, off_fragment, rev);
    if (r.next.fragment_offset != 0) {
        if (args.baseflag)
            r.warnings.push_back(warn_base);
        if (args.outfile)
            r.warnings.push_back(warn_outfile);
        else
            r.root.outfile = "ROOT.hex";
    }

    auto data = region(file, start, image_size);
    if (!data) {
        r.error = fault::root_past_end;
        return r;
    }
    r.root.data = *data;
    return r;
}

fault next_segment(std::span<const unsigned char> file, chain& c, segment& seg)
{
    const std::uint32_t at = c.fragment_offset;
    seg = segment{};
    if (c.taken.contains(at))
        return fault::chain_loop;
    auto hdr = region(file, at, frag_header_size);
    if (!hdr)
        return fault::header_outside;

    auto name = hdr->subspan(frag_name, frag_name_size);
    auto nul = std::find(name.begin(), name.end(), 0);
    if (nul == name.end())
        return fault::name_unterminated;
    seg.name.assign(name.begin(), nul);
    if (seg.name.find_first_of("/\\") != std::string::npos)
        return fault::name_has_slash;
    // NUL.hex or a name with a colon would write to a device or a stream, not to a file.
    if (fw::reserved_name(seg.name + ".hex"))
        return fault::name_reserved;

    const bool rev = c.byte_reversing;
    auto data = region(file, std::uint64_t{at} + frag_header_size, header_word(*hdr, frag_size, rev));
    if (!data)
        return fault::data_past_end;
    if (!take(c, at, frag_header_size + data->size()))
        return fault::overlap;
    seg.data = *data;
    seg.base = header_word(*hdr, frag_load, rev);
    seg.outfile = seg.name + ".hex";
    c.fragment_offset = header_word(*hdr, frag_next, rev);
    return fault::none;
}

std::string fault_message(fault f, std::string_view infile, std::uint32_t at, std::string_view name,
                          std::uint64_t other)
{
    std::string head = "Bad AIF image " + std::string(infile) + ": ";
    std::string seg = "segment " + std::string(name);
    switch (f) {
    case fault::none:
        break;
    case fault::no_marker:
        return head + "no AIF marker (0xEF000011) at offset 0x10\n";
    case fault::short_header:
        return head + "file ends inside the 128-byte header\n";
    case fault::root_past_end:
        return head + "root segment runs past the end of the file\n";
    case fault::header_outside:
        return head + "segment header at " + hex32(at) + " lies outside the file\n";
    case fault::chain_loop:
        return head + "segment chain comes back to the header at " + hex32(at) + "\n";
    case fault::name_unterminated:
        return head + "segment name at " + hex32(at) + " has no NUL in its 32 bytes\n";
    case fault::name_has_slash:
        return head + seg + " at " + hex32(at) + " has a / or \\ in its name\n";
    case fault::name_reserved:
        return head + seg + " at " + hex32(at) +
               " is a device name or has a character file names cannot hold\n";
    case fault::data_past_end:
        return head + seg + " at " + hex32(at) + " runs past the end of the file\n";
    case fault::overlap:
        return head + seg + " at " + hex32(at) + " overlaps the segment at " +
               hex32(static_cast<std::uint32_t>(other)) + "\n";
    }
    return {};
}

}  // namespace zb
