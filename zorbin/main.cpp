// zorbin: converts an ELF executable, an AIF image, hex text or a plain binary into
// hexadecimal object records or raw bytes. The input becomes one image, which -base moves,
// -add and -addbin join other inputs to, and -range, -fill and -crc finish in that order; then
// it is written, or -info reports what would be. An AIF image with a chain of segments is the
// exception: one file per segment, as it always was.
// Exit status 0 after a complete run or -help, 1 on any error.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "formats/dfu.h"
#include "formats/uf2.h"
#include "image/image.h"
#include "image/merge.h"
#include "image/ops.h"
#include "platform.h"
#include "read/aif.h"
#include "read/elf.h"
#include "read/hexin.h"
#include "read/load.h"
#include "read/uf2.h"
#include "write/info.h"
#include "write/output.h"

namespace {

int fail(const std::string& message)
{
    zb::report(message);
    return 1;
}

int print(const std::string& text) { return zb::say(fw::std_out, text) ? 0 : 1; }

// The input's name without its folders and its extension: a DfuSe target's name by default.
std::string_view stem(std::string_view file)
{
    if (const std::size_t slash = file.find_last_of("/\\"); slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    if (const std::size_t dot = file.rfind('.'); dot != std::string_view::npos && dot > 0)
        file = file.substr(0, dot);
    return file;
}

// The UF2 inputs of a run: whether there is one, and the family read from the first.
struct uf2_inputs {
    bool any = false;
    std::optional<std::uint32_t> family;
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

zb::out_args out_of(const zb::options& opt, const uf2_inputs& u = {})
{
    return {opt.format, opt.fill.value_or(0xFF), zb::infile_name(opt), container_of(opt, u)};
}

// Whether an input is read as UF2: named so by -input, or its first block's magic numbers.
bool takes_uf2(std::span<const unsigned char> file, const zb::options& opt, bool bin)
{
    return !bin && (opt.input.k == zb::kind::uf2 ||
                    (opt.input.k == zb::kind::detect && zb::is_uf2(file)));
}

// A UF2 file: the blocks of its family (or of the one -family picks) at their addresses. The
// image holds its bytes, so the file's buffer goes.
std::optional<std::string> read_uf2_file(zb::loaded& in, const std::string& name,
                                         const zb::options& opt, zb::image& img,
                                         uf2_inputs& seen)
{
    zb::uf2_image u = zb::read_uf2(in.bytes(), opt.uf2_family);
    if (u.error.f != zb::uf2_fault::none)
        return zb::uf2_message(name, u.error);
    img = std::move(u.img);
    if (!seen.any)
        seen.family = u.family;
    seen.any = true;
    in.data.reset();
    in.size = 0;
    return {};
}

// What -info tells of a container beside the image: its blocks, elements and IDs.
std::string container_note(const zb::options& opt, const zb::container_args& c,
                           std::span<const zb::block> blocks, const zb::span_of& raw)
{
    char id[64];
    std::snprintf(id, sizeof id, "for device %04X:%04X, bcdDevice %04X", c.usb.vid, c.usb.pid,
                  c.usb.bcd);
    std::size_t elements = 0;
    for (const zb::block& b : blocks)
        elements += b.size() > 0;
    switch (opt.format) {
    case zb::uf2:
        return "uf2    " + std::to_string(zb::uf2_pages(blocks)) + " blocks of 256 bytes, " +
               (c.family ? "family " + zb::uf2_family_text(*c.family) : "no family");
    case zb::dfu:
        return "dfu    from " + zb::hex_text(raw.lo, 8) + ", " + std::to_string(raw.end - raw.lo) +
               " bytes, then the DFU suffix " + id;
    case zb::dfuse:
        return "dfuse  " + std::to_string(elements) + " elements, target \"" +
               std::string(c.target.substr(0, zb::dfu_layout::name_max)) +
               "\", then the DFU suffix " + id;
    default:
        return {};
    }
}

std::string io_message(const zb::io_error& e, const zb::options& opt)
{
    return zb::io_message(e, zb::infile_name(opt), opt.format);
}

std::string aif_kind(const zb::root_result& r)
{
    return r.next.byte_reversing ? "AIF image, byte-reversed header words" : "AIF image";
}

// The root segment of an AIF image without a chain, or a plain binary, as an image.
zb::image segment_image(std::span<const unsigned char> file, const zb::options& opt,
                        const zb::root_result& r)
{
    const zb::segment& s = r.root;
    zb::image img;
    img.kind = r.aif ? aif_kind(r) : "plain binary";
    const auto offset = static_cast<std::uint64_t>(s.data.data() - file.data());
    img.parts.push_back({s.data, {r.aif ? "ROOT" : "file", s.base, s.base, offset,
                                  opt.baseflag ? "-base" : r.aif ? "image base" : "plain binary at 0"}});
    return img;
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
    if (opt.whole_image())
        return fail("Options -range, -fill, -crc and -raw need one image: " + name +
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
        return print(zb::info_report({name, aif_kind(r), blocks, parts, entry, {}, {}}));
    }
    if (zb::io_error e = zb::write_outputs(out, out_of(opt), in.id); e.f != zb::io_fault::none)
        return fail(io_message(e, opt));
    return broken ? fail(*broken) : 0;
}

// The image of one input that is not an AIF image with a chain: ELF, hex text, the root of an
// AIF image, or a plain binary; the message that stops the run, if any. The image of hex text
// holds its own bytes, so the file's buffer goes.
std::optional<std::string> read_image(zb::loaded& in, const zb::options& opt,
                                      const zb::root_result& r, zb::image& img)
{
    const std::string name(zb::infile_name(opt));
    if (r.elf) {
        zb::elf_image e = zb::read_elf({.file = in.bytes()});
        if (e.error.f != zb::elf_fault::none)
            return zb::elf_message(name, e.error);
        img = std::move(e.img);
    } else if (r.hex != zb::none) {
        zb::hex_image h = zb::read_hex(in.bytes(), r.hex);
        if (h.error.f != zb::hex_fault::none)
            return zb::hex_message(name, h.line, h.error);
        img = std::move(h.img);
        img.kind = "hex text, " + std::string(zb::formats[h.format].word) +
                   " records";
        in.data.reset();
        in.size = 0;
    } else {
        img = segment_image(in.bytes(), opt, r);
    }
    return {};
}

// An input of -add or -addbin that is not UF2: read as the main one is, but a plain binary
// only with its address, and an AIF image only without a chain.
std::optional<std::string> read_added(zb::loaded& file, const zb::options& o,
                                      const std::string& name, zb::image& more)
{
    zb::root_result r = zb::read_root(file.bytes(), {.binaryflag = o.binaryflag,
                                                      .baseflag = o.baseflag,
                                                      .base = o.base,
                                                      .outfile = nullptr});
    if (r.error != zb::fault::none)
        return zb::fault_message(r.error, name, 0, {});
    if (r.aif && r.next.fragment_offset != 0)
        return "Input " + name + " of -add is an AIF image with a chain of segments, each "
               "written to a file of its own\n";
    if (!o.binaryflag && !r.aif && !r.elf && r.hex == zb::none)
        return "Input " + name + " of -add gives no addresses: a plain binary goes in with "
               "-addbin " + name + " ADDR\n";
    for (auto w : r.warnings)
        zb::say(fw::std_err, w);
    if (auto msg = read_image(file, o, r, more))
        return msg;
    if (o.binaryflag)
        more.parts.front().from.why = "-addbin";
    return {};
}

// -add and -addbin: each input read as the main one is (read_added, or as UF2), then every
// part of every input joined into the one image; a byte given twice must be the same byte.
std::optional<std::string> add_inputs(zb::image& img, const zb::options& opt,
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
        o.binaryflag = a.at.has_value();
        o.baseflag = a.at.has_value();
        o.base = a.at.value_or(0);
        o.outfile = nullptr;
        o.input = {};  // -input names the main input's kind only
        if (zb::io_error e = zb::load(o.infile, files[k]); e.f != zb::io_fault::none)
            return io_message(e, o);
        const std::string name(a.file);
        zb::image more;
        if (takes_uf2(files[k].bytes(), o, o.binaryflag)) {
            if (auto msg = read_uf2_file(files[k], name, o, more, seen))
                return msg;
        } else if (auto msg = read_added(files[k], o, name, more)) {
            return msg;
        }
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

// -range, -fill, -crc in that order; the message that stops the run, if any.
std::optional<std::string> finish(zb::image& img, const zb::options& opt)
{
    const std::string name(zb::infile_name(opt));
    if (opt.range) {
        zb::dropped d;
        if (zb::op_error e = zb::apply_range(img, *opt.range, d); e.f != zb::op_fault::none)
            return zb::op_message(e, name);
        if (d.bytes > 0)
            zb::say(fw::std_err, "warning: -range drops " + std::to_string(d.bytes) +
                                     " bytes of " + name + " outside it, the first at " +
                                     zb::hex_text(d.first, 8) + "\n");
    }
    if (opt.fill)
        zb::apply_fill(img, *opt.fill, opt.range);
    if (opt.crc)
        if (zb::op_error e = zb::apply_crc(img, *opt.crc); e.f != zb::op_fault::none)
            return zb::op_message(e, name);
    return {};
}

}  // namespace

int main(int, char** argv)
{
    zb::options opt;
    zb::scan_result scan = zb::scan_args(argv, opt);
    switch (scan.status) {
    case zb::scan_status::help:
        return zb::say(fw::std_err, zb::give_help()) ? 0 : 1;
    case zb::scan_status::usage:
        zb::say(fw::std_err, scan.message);
        return fail(std::string(zb::usage_line));
    case zb::scan_status::error:
        return fail(scan.message);
    case zb::scan_status::run:
        break;
    }

    // -usbid and -target before any input is read; -family once the inputs say whether one
    // of them is UF2.
    if (auto msg = zb::needless_option(opt, true))
        return fail(*msg);
    zb::loaded in;
    if (zb::io_error e = zb::load(opt.infile, in); e.f != zb::io_fault::none)
        return fail(io_message(e, opt));
    auto file = in.bytes();
    const std::string name(zb::infile_name(opt));
    zb::image img;
    uf2_inputs seen;
    std::optional<std::string> outfile;
    if (opt.outfile)
        outfile = opt.outfile;
    if (takes_uf2(file, opt, opt.binaryflag)) {
        if (auto msg = read_uf2_file(in, name, opt, img, seen))
            return fail(*msg);
    } else {
        zb::root_result r = zb::read_root(file, {.binaryflag = opt.binaryflag,
                                                  .baseflag = opt.baseflag,
                                                  .base = opt.base,
                                                  .outfile = opt.outfile});
        for (auto w : r.warnings)
            zb::say(fw::std_err, w);
        if (r.error != zb::fault::none)
            return fail(zb::fault_message(r.error, name, 0, {}));
        if (!r.elf && r.next.fragment_offset != 0) {
            if (auto msg = zb::needless_option(opt, false))
                return fail(*msg);
            return write_chain(file, opt, r, in);
        }
        if (auto msg = read_image(in, opt, r, img))
            return fail(*msg);
        outfile = r.root.outfile;
    }
    if (opt.baseflag)
        zb::rebase(img, opt.base);
    if (opt.entryflag)
        img.entry = opt.entry;
    std::vector<zb::loaded> added(opt.adds.size());
    std::vector<zb::input_named> inputs{{name, img.kind}};
    if (auto msg = add_inputs(img, opt, added, inputs, seen))
        return fail(*msg);
    if (auto msg = zb::needless_option(opt, seen.any))
        return fail(*msg);
    if (auto msg = finish(img, opt))
        return fail(*msg);

    zb::outputs out{.jobs = {{outfile, {}, zb::blocks_of(img), img.entry, &img, {}}}};
    zb::job& j = out.jobs.front();
    zb::out_args args = out_of(opt, seen);
    // -dfu's body is what -raw writes.
    if (opt.format == zb::raw || opt.format == zb::dfu) {
        if (zb::op_error e = zb::raw_span(img, opt.range, j.raw_span); e.f != zb::op_fault::none)
            return fail(zb::op_message(e, name));
        args.container.lo = j.raw_span.lo;
        args.container.end = j.raw_span.end;
    }
    if (opt.format == zb::raw)
        img.notes.push_back("raw    from " + zb::hex_text(j.raw_span.lo, 8) + ", " +
                            std::to_string(j.raw_span.end - j.raw_span.lo) + " bytes");
    if (opt.format == zb::dfuse && zb::dfuse_size(j.blocks) > 0xFFFFFFFF)
        return fail("DfuSe file of " + name + " would be " +
                    std::to_string(zb::dfuse_size(j.blocks)) +
                    " bytes, more than its image size field holds\n");
    if (std::string note = container_note(opt, args.container, j.blocks, j.raw_span); !note.empty())
        img.notes.push_back(std::move(note));
    if (opt.info)
        return print(zb::info_report({name, img.kind, j.blocks, img.parts, img.entry, img.notes,
                                      {inputs.begin() + 1, inputs.end()}}));
    if (auto msg = not_an_input(out, opt, added))
        return fail(*msg);
    if (zb::io_error e = zb::write_outputs(out, args, in.id); e.f != zb::io_fault::none)
        return fail(io_message(e, opt));
    return 0;
}
