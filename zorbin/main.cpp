// zorbin: converts an ELF executable, an AIF image, hex text or a plain binary into
// hexadecimal object records or raw bytes. The input becomes one image, which -base moves,
// -add and -addbin join other inputs to, -range, -fill and -crc finish in that order and -swap
// and -split rearrange; then it is written, or -info reports what would be. An AIF image with
// a chain of segments is the exception: one file per segment, as it always was. -cmp compares
// the image with another file's instead of writing it.
// Exit status 0 after a complete run or -help, 1 on any error; with -cmp 0 when the images
// are the same, 1 when they differ, 2 on any error.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "formats/dfu.h"
#include "formats/uf2.h"
#include "image/diff.h"
#include "image/image.h"
#include "image/lanes.h"
#include "image/merge.h"
#include "image/ops.h"
#include "platform.h"
#include "read/aif.h"
#include "read/elf.h"
#include "read/input.h"
#include "read/load.h"
#include "read/place.h"
#include "write/compare.h"
#include "write/info.h"
#include "write/output.h"

namespace {

// The exit status of an error: 2 in a comparison, where 1 says that the images differ.
int trouble = 1;

int fail(const std::string& message)
{
    zb::report(message);
    return trouble;
}

// What stops the run: its message, on standard output unless that is an input file, where
// the message would land in the bytes being read.
struct stop {
    std::string message;
    bool to_err = false;
    stop(std::string m, bool e = false) : message(std::move(m)), to_err(e) {}
};

int fail(const stop& s)
{
    if (!s.to_err)
        return fail(s.message);
    zb::say(fw::std_err, s.message);
    return trouble;
}

int print(const std::string& text) { return zb::say(fw::std_out, text) ? 0 : trouble; }

// The input's name without its folders and its extension: a DfuSe target's name by default.
std::string_view stem(std::string_view file)
{
    if (const std::size_t slash = file.find_last_of("/\\"); slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    if (const std::size_t dot = file.rfind('.'); dot != std::string_view::npos && dot > 0)
        file = file.substr(0, dot);
    return file;
}

// The UF2 inputs of a run: whether there is one, and the family the first one names.
struct uf2_inputs {
    bool any = false;
    std::optional<std::uint32_t> family;
    void saw(const zb::input_read& r)
    {
        if (r.kind.k != zb::kind::uf2)
            return;
        if (!any)
            family = r.family;
        any = true;
    }
};

// What the containers take: -family, else the family of a UF2 input; -usbid; -target, else
// the input's stem; -fill, else 00 for the rest of a UF2 page and FF for a DFU file's gaps.
zb::container_args container_of(const zb::options& opt, const uf2_inputs& u)
{
    return {.family = opt.uf2_family ? opt.uf2_family : u.family,
            .usb = opt.usbid.value_or(zb::usb_id{}),
            .target = opt.target ? std::string_view(opt.target) : stem(zb::infile_name(opt)),
            .fill = opt.fill.value_or(opt.format == zb::uf2 ? 0x00 : 0xFF)};
}


// What -info tells of a container beside the image: its blocks or elements, family, IDs.
std::string container_note(zb::fmt f, const zb::container_args& c,
                           std::span<const zb::block> blocks, const zb::span_of& raw)
{
    char id[64];
    std::snprintf(id, sizeof id, "for device %04X:%04X, bcdDevice %04X", c.usb.vid, c.usb.pid,
                  c.usb.bcd);
    std::size_t elements = 0;
    for (const zb::block& b : blocks)
        elements += b.size() > 0;
    switch (f) {
    case zb::uf2:
    {
        const std::uint64_t n = zb::uf2_pages(blocks);
        return "uf2    " + std::to_string(n) + (n == 1 ? " block" : " blocks") +
               " of 256 bytes, " +
               (c.family ? "family " + zb::uf2_family_text(*c.family) : "no family");
    }
    case zb::dfu:
        return "dfu    from " + zb::hex_text(raw.lo, 8) + ", " + std::to_string(raw.end - raw.lo) +
               " bytes, then the DFU suffix " + id;
    case zb::dfuse:
        return "dfuse  " + std::to_string(elements) + (elements == 1 ? " element" : " elements") +
               ", target \"" +
               std::string(c.target.substr(0, zb::dfu_layout::name_max)) +
               "\", then the DFU suffix " + id;
    default:
        return {};
    }
}

// -range in the addresses of the image as the writer gets it: those of the lane after -split.
std::optional<zb::span_of> range_of(const zb::options& opt)
{
    if (!opt.range || !opt.split)
        return opt.range;
    const zb::lane_pick& s = *opt.split;
    return zb::span_of{zb::lane_below(opt.range->lo, s.n, s.k, s.w),
                       zb::lane_below(opt.range->end, s.n, s.k, s.w)};
}

zb::out_args out_of(const zb::options& opt, const uf2_inputs& u = {})
{
    zb::out_args a{opt.format, opt.fill.value_or(0xFF), zb::infile_name(opt)};
    a.wide = {.width = opt.width.value_or(1), .big_endian = opt.be, .fill = opt.fill,
              .start = range_of(opt) ? std::optional(range_of(opt)->lo) : std::nullopt};
    a.name = opt.name;
    a.container = container_of(opt, u);
    a.layout.reclen = opt.reclen.value_or(0);
    if (opt.header)
        a.layout.header = opt.header;
    return a;
}

std::string io_message(const zb::io_error& e, const zb::options& opt)
{
    return zb::io_message(e, zb::infile_name(opt), opt.format);
}

// Standard output may be none of the inputs: the records, the report or a message written
// there would overwrite the file while it is read. Refused as a named output is, on standard
// error.
std::optional<stop> stdout_is(const zb::loaded& in, const zb::options& opt)
{
    fw::file_id id;
    if (!fw::id_of(fw::std_out, id) || id != in.id)
        return {};
    return stop(io_message({zb::io_fault::output_is_input, "standard output"}, opt), true);
}

// The output of an AIF segment.
zb::job job_of(const zb::segment& seg)
{
    zb::job j{seg.outfile, seg.name, {}, {}, nullptr, {}};
    j.blocks.push_back({seg.base, {seg.data}});
    return j;
}

// An AIF image with a chain: each segment to a file of its own, put in place as soon as it is
// written, so a fault further down the chain stops the run there and the files of the
// segments before it stay complete. -entry goes to the root's file.
int write_chain(std::span<const unsigned char> file, const zb::options& opt, zb::root_result& r,
                const zb::loaded& in)
{
    const std::string name(zb::infile_name(opt));
    if (!opt.adds.empty())
        return fail("Options -add and -addbin need one image: " + name +
                    " has a chain of segments, each written to a file of its own\n");
    if (opt.cmp)
        return fail("Options -cmp and -cmpbin need one image: " + name +
                    " has a chain of segments, each written to a file of its own\n");
    if (opt.whole_image())
        return fail("Options -range, -fill, -crc and -raw need one image: " + name +
                    " has a chain of segments, each written to a file of its own\n");
    if (opt.swap || opt.split)
        return fail("Options -swap and -split need one image: " + name +
                    " has a chain of segments, each written to a file of its own\n");
    zb::outputs out{.jobs = {}, .how = zb::placing::in_turn};
    std::vector<zb::part> parts;
    std::optional<std::string> broken;  // told after the segments before it are written
    zb::segment seg = r.root;
    std::string why = opt.baseflag ? "-base" : "image base";
    for (bool root = true;; root = false) {
        out.jobs.push_back(job_of(seg));
        if (root && opt.entryflag)
            out.jobs.back().entry = opt.entry;
        const auto offset = static_cast<std::uint64_t>(seg.data.data() - file.data());
        parts.push_back({seg.data, {root ? "ROOT" : seg.name, seg.base, seg.base, offset,
                                    why + ", to " + *seg.outfile}});
        if (r.next.fragment_offset == 0)
            break;
        const std::uint32_t at = r.next.fragment_offset;
        if (zb::fault f = zb::next_segment(file, r.next, seg); f != zb::fault::none) {
            broken = zb::fault_message(f, name, at, seg.name, r.next.other);
            break;
        }
        why = "segment header at " + zb::hex_text(at);
    }
    if (opt.info) {
        if (broken)
            return fail(*broken);
        std::vector<zb::block> blocks;
        for (const zb::job& j : out.jobs)
            blocks.push_back(j.blocks.front());
        const std::optional<std::uint64_t> entry =
            opt.entryflag ? std::optional<std::uint64_t>(opt.entry) : std::nullopt;
        return print(zb::info_report(
            {name, std::string(zb::aif_kind(r.next)), blocks, parts, entry, {}, {}}));
    }
    if (zb::io_error e = zb::write_outputs(out, out_of(opt), in.id); e.f != zb::io_fault::none)
        return fail(io_message(e, opt));
    return broken ? fail(*broken) : 0;
}

// -add and -addbin: each input read as the main one is (but a plain binary only with its
// address, and an AIF image only without a chain), then every part of every input joined into
// the one image; a byte given twice must be the same byte.
std::optional<stop> add_inputs(zb::image& img, const zb::options& opt,
                               std::vector<zb::loaded>& files,
                               std::vector<zb::input_named>& inputs, uf2_inputs& seen)
{
    if (opt.adds.empty())
        return {};
    std::vector<zb::sourced> all;
    for (zb::part& p : img.parts)
        all.push_back({std::move(p), 0});
    for (std::size_t k = 0; k < opt.adds.size(); ++k) {
        const zb::added& a = opt.adds[k];
        zb::options o = opt;
        o.infile = a.file;
        if (zb::io_error e = zb::load(o.infile, files[k]); e.f != zb::io_fault::none)
            return io_message(e, o);
        if (auto s = stdout_is(files[k], o))
            return s;
        const std::string name(a.file);
        zb::input_read r = zb::read_input(
            files[k], {.name = name,
                       .named = {a.at ? zb::kind::bin : zb::kind::detect},
                       .baseflag = a.at.has_value(),
                       .base = a.at.value_or(0),
                       .added = true,
                       .family = opt.uf2_family});
        if (r.error)
            return *r.error;
        seen.saw(r);
        if (r.chain)
            return "Input " + name + " of -add is an AIF image with a chain of segments, each "
                   "written to a file of its own\n";
        if (!a.at && r.kind.k == zb::kind::bin)
            return "Input " + name + " of -add gives no addresses: a plain binary goes in with "
                   "-addbin " + name + " ADDR\n";
        for (auto w : r.warnings)
            zb::say(fw::std_err, w);
        zb::image more = std::move(r.img);
        if (a.at)
            more.parts.front().from.why = "-addbin";
        inputs.push_back({name, more.kind});
        for (zb::part& p : more.parts) {
            p.from.input = k + 1;
            all.push_back({std::move(p), k + 1});
        }
        for (auto& b : more.made)
            img.made.push_back(std::move(b));
        for (auto& b : more.held)
            img.held.push_back(std::move(b));
    }
    zb::clash c;
    if (!zb::join_parts(std::move(all), img.parts, c)) {
        char b[64];
        std::snprintf(b, sizeof b, " differ at %s (0x%02X vs 0x%02X)\n",
                      zb::hex_text(c.addr, 8).c_str(), c.a, c.b);
        return inputs[c.first].name + " and " + inputs[c.second].name + b;
    }
    return {};
}

// No output may be one of the inputs -add and -addbin read (the main input the output loop
// checks itself).
std::optional<std::string> not_an_input(const zb::outputs& out, const zb::options& opt,
                                        const std::vector<zb::loaded>& added)
{
    for (const zb::job& j : out.jobs) {
        fw::file_id id;
        if (!j.outfile || !fw::id_of(*j.outfile, id))
            continue;
        for (std::size_t k = 0; k < added.size(); ++k)
            if (added[k].id == id) {
                zb::options o = opt;
                o.infile = opt.adds[k].file;
                return io_message({zb::io_fault::output_is_input, *j.outfile}, o);
            }
    }
    return {};
}

// The piece a message names, with the file it came from where its name alone does not say:
// a line of hex text, or any piece of an input of -add.
zb::op_error with_file(zb::op_error e, const std::vector<zb::input_named>& inputs)
{
    if (e.input > 0 || e.name.starts_with("line "))
        e.name += " of " + inputs[e.input].name;
    return e;
}

// The file of -cmp or -cmpbin, read as the inputs of -add and -addbin are (a plain binary
// only with its address, an AIF image only without a chain), into what: as the file gives
// it, no operation of the run applied.
std::optional<stop> read_compared(const zb::options& opt, zb::loaded& file, zb::input_read& what)
{
    const zb::added& c = *opt.cmp;
    zb::options o = opt;
    o.infile = c.file;
    if (zb::io_error e = zb::load(o.infile, file); e.f != zb::io_fault::none)
        return io_message(e, o);
    if (auto s = stdout_is(file, o))
        return s;
    const std::string name(c.file);
    what = zb::read_input(file, {.name = name,
                                 .named = {c.at ? zb::kind::bin : zb::kind::detect},
                                 .baseflag = c.at.has_value(),
                                 .base = c.at.value_or(0),
                                 .added = true,
                                 .family = opt.uf2_family});
    if (what.error)
        return *what.error;
    if (what.chain)
        return "Input " + name + " of -cmp is an AIF image with a chain of segments, each "
               "written to a file of its own\n";
    if (!c.at && what.kind.k == zb::kind::bin)
        return "Input " + name + " of -cmp gives no addresses: a plain binary is compared with "
               "-cmpbin " + name + " ADDR\n";
    for (auto w : what.warnings)
        zb::say(fw::std_err, w);
    if (c.at)
        what.img.parts.front().from.why = "-cmpbin";
    return {};
}

// One side of a comparison: its image, and where it came from for the names of its places.
struct side {
    const zb::image& img;
    const zb::elf_image* elf = nullptr;
    std::uint64_t shift = 0;  // how far -base moved it
};

// Where each range lies, named by the image that holds it: the run's, unless only the other
// holds it or the run's has no name for it.
std::vector<std::string> places(const zb::image_diff& d, const side& a, const side& b)
{
    std::vector<std::string> where;
    for (const zb::diff_range& r : d.ranges) {
        std::string s;
        if (r.kind != zb::diff_kind::only_b)
            s = zb::place_of(a.img, a.elf, a.shift, r.addr);
        if (s.empty() && r.kind != zb::diff_kind::only_a)
            s = zb::place_of(b.img, b.elf, b.shift, r.addr);
        where.push_back(std::move(s));
    }
    return where;
}

// -cmp: the run's image against the file's, the report on standard output (after the -info
// reports of both, with -info); 0 when they are the same, 1 when they differ.
int compare(const side& mine, const zb::options& opt, const std::vector<zb::input_named>& inputs)
{
    zb::loaded file;
    zb::input_read theirs;
    if (auto s = read_compared(opt, file, theirs))
        return fail(*s);
    const zb::image& img = mine.img;
    const zb::image& other = theirs.img;
    const std::string name(zb::infile_name(opt)), its_name(opt.cmp->file);
    std::string text;
    if (opt.info) {
        const std::vector<zb::block> ours = zb::blocks_of(img), its = zb::blocks_of(other);
        text += zb::info_report({name, img.kind, ours, img.parts, img.entry, img.notes,
                                 {inputs.begin() + 1, inputs.end()}, img.dropped});
        text += zb::info_report({its_name, other.kind, its, other.parts, other.entry, {}, {}, {}});
    }
    const zb::image_diff d = zb::diff_images(img, other, zb::cmp_ranges);
    if (!d.same())
        text += zb::compare_report(
            {name, its_name, d, img.entry, other.entry,
             places(d, mine, {other, theirs.elf ? &*theirs.elf : nullptr, 0})});
    if (!text.empty() && !zb::say(fw::std_out, text))
        return fail(io_message({zb::io_fault::write, "standard output"}, opt));
    return d.same() ? 0 : 1;
}

// What a warning of -range says of a piece it drops whole. A writable section of the main
// input stored where it runs is most often RAM whose initial values the linker script forgot
// to store in flash (AT>).
std::string dropped_text(const zb::part& p, const std::vector<zb::input_named>& inputs,
                         const std::vector<std::string_view>& writable)
{
    const bool ram = p.from.input == 0 && p.from.run == p.from.load &&
                     std::find(writable.begin(), writable.end(), p.from.name) != writable.end();
    return "warning: -range drops " + p.from.name + " of " + inputs[p.from.input].name + " (" +
           std::to_string(p.data.size()) + " bytes at " + zb::hex_text(p.from.load, 8) +
           (ram ? ", loaded where it runs: AT> missing?" : "") + ")\n";
}

// -range, -fill, -crc in that order; the message that stops the run, if any. Each -crc's
// result goes to sums.
std::optional<std::string> finish(zb::image& img, const zb::options& opt,
                                  const std::vector<zb::input_named>& inputs,
                                  const std::vector<std::string_view>& writable,
                                  std::vector<zb::crc_result>& sums)
{
    const std::string name(zb::infile_name(opt));
    if (opt.range) {
        zb::dropped d;
        if (zb::op_error e = zb::apply_range(img, *opt.range, d); e.f != zb::op_fault::none)
            return zb::op_message(e, name);
        for (const zb::part& p : d.whole)
            zb::say(fw::std_err, dropped_text(p, inputs, writable));
        if (d.bytes > 0)
            zb::say(fw::std_err, "warning: -range drops " + std::to_string(d.bytes) +
                                     " bytes of " + name + " outside it, the first at " +
                                     zb::hex_text(d.first, 8) + "\n");
    }
    if (opt.fill)
        if (zb::op_error e = zb::apply_fill(img, *opt.fill, opt.range); e.f != zb::op_fault::none)
            return zb::op_message(with_file(e, inputs), name);
    if (!opt.crcs.empty()) {
        const zb::crc_setting how{opt.range, opt.fill, opt.verify};
        if (zb::op_error e = zb::apply_crcs(img, opt.crcs, how, sums); e.f != zb::op_fault::none)
            return zb::op_message(e, inputs[e.input].name);
    }
    return {};
}

// -verify: nothing printed when every field holds its value, else a line for each checksum.
int verified(const std::vector<zb::crc_result>& sums)
{
    std::string lines;
    bool equal = true;
    for (const zb::crc_result& r : sums) {
        equal = equal && r.equal();
        lines += zb::verify_line(r);
    }
    return equal ? 0 : fail(lines);
}

// The symbols of the main input that @NAME looks up: an ELF file's defined ones.
zb::symbol_table symbols_of(const zb::input_read& r, std::vector<zb::named_symbol>& keep)
{
    if (!r.elf)
        return {{}, "which is not read as an ELF file"};
    const zb::elf_image& e = *r.elf;
    if (e.symbol_error.f != zb::elf_fault::none)
        return {{}, "whose " + zb::elf_what(e.symbol_error)};
    if (e.symtab == 0)
        return {{}, "which has no symbol table"};
    for (const zb::elf_symbol& s : e.symbols)
        if (s.section != zb::shn_undef && !s.name.empty())
            keep.push_back({s.name, s.addr, s.value, s.size});
    return {keep, {}};
}

// The main input's sections that are written to at run time, by name.
std::vector<std::string_view> writable_of(const zb::input_read& r)
{
    constexpr std::uint64_t shf_write = 1;
    std::vector<std::string_view> names;
    if (r.elf)
        for (const zb::elf_section& s : r.elf->sections)
            if (s.placed && (s.flags & shf_write))
                names.push_back(s.name);
    return names;
}

// -swap, then -split, after the checksums so that a CRC covers the image the processor reads
// and each lane file goes to its own memory; the message that stops the run, if any.
std::optional<std::string> rearrange(zb::image& img, const zb::options& opt)
{
    const std::string name(zb::infile_name(opt));
    if (opt.swap) {
        zb::image out;
        const zb::lane_error e = zb::swap_words(img, *opt.swap, opt.fill, out);
        if (e.f != zb::lane_fault::none)
            return zb::lane_message(e, name);
        img = std::move(out);
    }
    if (opt.split) {
        zb::image out;
        const zb::lane_pick& s = *opt.split;
        const zb::lane_error e = zb::split_lanes(img, s.n, s.k, s.w, out);
        if (e.f != zb::lane_fault::none)
            return zb::lane_message(e, name);
        img = std::move(out);
    }
    return {};
}

}  // namespace

int main(int, char** argv)
{
    if (zb::comparing(argv))
        trouble = 2;
    zb::options opt;
    zb::scan_result scan = zb::scan_args(argv, opt);
    switch (scan.status) {
    case zb::scan_status::help:
        return zb::say(fw::std_err, zb::give_help()) ? 0 : trouble;
    case zb::scan_status::usage:
        zb::say(fw::std_err, scan.message);
        return fail(std::string(zb::usage_line));
    case zb::scan_status::error:
        return fail(scan.message);
    case zb::scan_status::run:
        break;
    }
    // -family waits for the inputs, which may be UF2 (family_unused).
    if (auto msg = zb::check_options(opt))
        return fail(*msg);

    zb::loaded in;
    if (zb::io_error e = zb::load(opt.infile, in); e.f != zb::io_fault::none)
        return fail(io_message(e, opt));
    if (auto s = stdout_is(in, opt))
        return fail(*s);
    const std::string name(zb::infile_name(opt));
    // -bin is -input bin, whatever -input says.
    zb::input_read r = zb::read_input(
        in, {.name = name,
             .named = opt.binaryflag ? zb::input_kind{zb::kind::bin} : opt.input,
             .baseflag = opt.baseflag,
             .base = opt.base,
             .outfile = opt.outfile,
             .family = opt.uf2_family,
             .sections = &opt.sections});
    for (auto w : r.warnings)
        zb::say(fw::std_err, w);
    if (r.error)
        return fail(*r.error);
    std::vector<zb::named_symbol> symbols;
    const zb::symbol_table table =
        opt.symbolic.empty() ? zb::symbol_table{} : symbols_of(r, symbols);
    zb::image img = std::move(r.img);
    if (auto msg = zb::resolve_symbols(opt, table, name, img.notes))
        return fail(*msg);
    if (r.chain) {
        if (auto msg = zb::family_unused(opt, false))
            return fail(*msg);
        return write_chain(in.bytes(), opt, *r.chain, in);
    }
    uf2_inputs seen;
    seen.saw(r);
    const std::uint64_t low = zb::lowest(img);
    if (opt.baseflag)
        zb::rebase(img, opt.base);
    const std::uint64_t shift = zb::lowest(img) - low;
    if (opt.entryflag)
        img.entry = opt.entry;
    std::vector<zb::loaded> added(opt.adds.size());
    std::vector<zb::input_named> inputs{{name, img.kind}};
    if (auto msg = add_inputs(img, opt, added, inputs, seen))
        return fail(*msg);
    if (auto msg = zb::family_unused(opt, seen.any))
        return fail(*msg);
    std::vector<zb::crc_result> sums;
    if (auto msg = finish(img, opt, inputs, writable_of(r), sums))
        return fail(*msg);
    if (opt.verify && !opt.info)
        return verified(sums);
    if (auto msg = rearrange(img, opt))
        return fail(*msg);
    // After -split the addresses are those of a lane, which the ELF file's do not name.
    if (opt.cmp)
        return compare({img, r.elf && !opt.split ? &*r.elf : nullptr, shift}, opt, inputs);

    const auto outfile = opt.outfile ? std::optional<std::string>(opt.outfile) : std::nullopt;
    zb::outputs out{.jobs = {{outfile, {}, zb::blocks_of(img), img.entry, &img, {}}}};
    zb::job& j = out.jobs.front();
    zb::out_args args = out_of(opt, seen);
    // -dfu's body is what -raw writes.
    if (opt.format == zb::raw || opt.format == zb::dfu) {
        const zb::op_error e = zb::raw_span(img, range_of(opt), j.raw_span);
        if (e.f != zb::op_fault::none)
            return fail(zb::op_message(with_file(e, inputs), name));
        args.container.lo = j.raw_span.lo;
        args.container.end = j.raw_span.end;
    }
    if (opt.format == zb::raw)
        img.notes.push_back("raw    from " + zb::hex_text(j.raw_span.lo, 8) + ", " +
                            std::to_string(j.raw_span.end - j.raw_span.lo) + " bytes");
    if (std::string note = container_note(opt.format, args.container, j.blocks, j.raw_span);
        !note.empty())
        img.notes.push_back(std::move(note));
    if (opt.info) {
        const int status = print(zb::info_report({name, img.kind, j.blocks, img.parts, img.entry,
                                                  img.notes, {inputs.begin() + 1, inputs.end()},
                                                  img.dropped}));
        const bool differ = std::any_of(sums.begin(), sums.end(),
                                        [](const zb::crc_result& c) { return !c.equal(); });
        return opt.verify && differ ? 1 : status;
    }
    if (auto msg = not_an_input(out, opt, added))
        return fail(*msg);
    if (zb::io_error e = zb::write_outputs(out, args, in.id); e.f != zb::io_fault::none)
        return fail(io_message(e, opt));
    return 0;
}
