// The kind decision: one table of the kinds an input may be, each with how it is recognised
// and its reader. A new kind of input is one row and its reader.
#include "read/input.h"

#include <array>

#include "read/elf.h"
#include "read/hexin.h"
#include "read/uf2.h"

namespace zb {

namespace {

constexpr std::string_view warn_not_aif = "warning: not an AIF image, plain binary assumed\n";

bool same_word(std::string_view s, std::string_view t)
{
    if (s.size() != t.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto low = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (low(s[i]) != low(t[i]))
            return false;
    }
    return true;
}

std::optional<input_kind> aif_marked(std::span<const unsigned char> file)
{
    return is_aif(file) ? std::optional(input_kind{kind::aif}) : std::nullopt;
}

std::optional<input_kind> elf_marked(std::span<const unsigned char> file)
{
    return is_elf(file) ? std::optional(input_kind{kind::elf}) : std::nullopt;
}

std::optional<input_kind> uf2_marked(std::span<const unsigned char> file)
{
    return is_uf2(file) ? std::optional(input_kind{kind::uf2}) : std::nullopt;
}

std::optional<input_kind> hex_shaped(std::span<const unsigned char> file)
{
    const fmt f = detect_hex(file);
    return f != none ? std::optional(input_kind{kind::hex, f}) : std::nullopt;
}

std::optional<input_kind> anything(std::span<const unsigned char>)
{
    return input_kind{kind::bin};
}

// The root of an AIF image without a chain.
void read_aif(loaded& in, const input_args& a, input_read& r)
{
    const auto file = in.bytes();
    root_result root =
        read_root(file, {.baseflag = a.baseflag, .base = a.base, .outfile = a.outfile});
    r.warnings = root.warnings;
    if (root.error != fault::none) {
        r.error = fault_message(root.error, a.name, 0, {});
        return;
    }
    if (root.next.fragment_offset != 0) {
        r.chain = std::move(root);
        return;
    }
    const segment& s = root.root;
    const auto offset = static_cast<std::uint64_t>(s.data.data() - file.data());
    r.img.kind = aif_kind(root.next);
    r.img.parts.push_back(
        {s.data, {"ROOT", s.base, s.base, offset, a.baseflag ? "-base" : "image base"}});
}

void read_elf_file(loaded& in, const input_args& a, input_read& r)
{
    // Only -input elf comes here without the magic: the rest of the header means nothing.
    if (!is_elf(in.bytes())) {
        r.error = "Bad ELF image " + std::string(a.name) +
                  ": no ELF magic (7F 45 4C 46) at its start\n";
        return;
    }
    const bool choose = a.sections && a.sections->any();
    elf_image e = read_elf({.file = in.bytes(),
                            .keep = choose ? keep_chosen : nullptr,
                            .with = a.sections});
    if (choose && e.error.f == elf_fault::nothing) {
        // Left with nothing: a pattern that matches no section says why better, if there is
        // one; the file read whole tells.
        const elf_image whole = read_elf({.file = in.bytes()});
        if (whole.error.f == elf_fault::none) {
            r.error = choice_refused(*a.sections, whole, a.name)
                          .value_or("Options -only and -remove leave no section of " +
                                    std::string(a.name) + " in the image\n");
            return;
        }
    }
    if (e.error.f != elf_fault::none) {
        r.error = elf_message(a.name, e.error);
        return;
    }
    if (choose) {
        if ((r.error = choice_refused(*a.sections, e, a.name)))
            return;
        for (std::string& line : choice_notes(*a.sections, e))
            e.img.notes.push_back(std::move(line));
    }
    r.img = std::move(e.img);
    r.elf = std::move(e);
}

// A fault in the first record of a file that only its shape made hex text may mean the file
// is bytes after all: the message says how to take it so.
void read_hex_text(loaded& in, const input_args& a, input_read& r)
{
    hex_image h = read_hex(in.bytes(), r.kind.format);
    if (h.error.f != hex_fault::none) {
        std::string msg = hex_message(a.name, h.line, h.error);
        if (!r.named && h.line == h.first) {
            msg.pop_back();
            msg += a.added ? "; give -addbin " + std::string(a.name) + " ADDR" : "; give -bin";
            msg += " to take the file as plain bytes\n";
        }
        r.error = std::move(msg);
        return;
    }
    r.img = std::move(h.img);
    r.img.kind = "hex text, " + std::string(formats[h.format].word) + " records";
    in.data.reset();
    in.size = 0;
}

// The blocks of one family at their target addresses.
void read_uf2_file(loaded& in, const input_args& a, input_read& r)
{
    uf2_image u = read_uf2(in.bytes(), a.family);
    if (u.error.f != uf2_fault::none) {
        r.error = uf2_message(a.name, u.error);
        return;
    }
    r.img = std::move(u.img);
    r.family = u.family;
    in.data.reset();
    in.size = 0;
}

void read_bin(loaded& in, const input_args& a, input_read& r)
{
    if (!r.named)
        r.warnings.push_back(warn_not_aif);
    r.img.kind = "plain binary";
    r.img.parts.push_back(
        {in.bytes(), {"file", a.base, a.base, 0, a.baseflag ? "-base" : "plain binary at 0"}});
}

// What an input is, as a message says it.
std::string_view kind_text(kind k)
{
    switch (k) {
    case kind::aif:
        return "an AIF image";
    case kind::elf:
        return "an ELF file";
    case kind::hex:
        return "hex text";
    case kind::bin:
        return "a plain binary";
    case kind::uf2:
        return "a UF2 file";
    case kind::detect:
        break;
    }
    return "";
}

struct kind_row {
    kind k;
    // The kind when the file's first bytes are of it, asked in the order of the rows.
    std::optional<input_kind> (*recognise)(std::span<const unsigned char> file);
    void (*read)(loaded& in, const input_args& a, input_read& r);
};

constexpr std::array<kind_row, 5> kinds{{
    {.k = kind::aif, .recognise = aif_marked, .read = read_aif},
    {.k = kind::elf, .recognise = elf_marked, .read = read_elf_file},
    {.k = kind::uf2, .recognise = uf2_marked, .read = read_uf2_file},
    {.k = kind::hex, .recognise = hex_shaped, .read = read_hex_text},
    {.k = kind::bin, .recognise = anything, .read = read_bin},
}};

}  // namespace

std::optional<input_kind> kind_of_word(std::string_view word)
{
    constexpr std::array<std::pair<std::string_view, kind>, 4> own{
        {{"elf", kind::elf}, {"aif", kind::aif}, {"bin", kind::bin}, {"uf2", kind::uf2}}};
    for (auto [w, k] : own)
        if (same_word(word, w))
            return input_kind{k, none};
    for (const fmt f : hex_formats)
        if (formats[f].read && same_word(word, formats[f].word))
            return input_kind{kind::hex, f};
    return std::nullopt;
}

input_kind kind_of(std::span<const unsigned char> file)
{
    for (const kind_row& row : kinds)
        if (auto k = row.recognise(file))
            return *k;
    return {kind::bin};
}

input_read read_input(loaded& in, const input_args& a)
{
    input_read r;
    r.named = a.named.k != kind::detect;
    r.kind = r.named ? a.named : kind_of(in.bytes());
    if (a.sections && a.sections->any() && r.kind.k != kind::elf) {
        r.error = "Options -only and -remove choose sections of an ELF file: " +
                  std::string(a.name) + " is " + std::string(kind_text(r.kind.k)) + "\n";
        return r;
    }
    for (const kind_row& row : kinds)
        if (row.k == r.kind.k)
            row.read(in, a, r);
    return r;
}

}  // namespace zb
