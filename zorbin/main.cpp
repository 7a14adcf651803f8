// zorbin: converts an ELF executable, an AIF image or a plain binary into hexadecimal object
// records or raw bytes. The input becomes one image, which -base moves and -range, -fill and
// -crc finish in that order; then it is written, or -info reports what would be. An AIF image
// with a chain of segments is the exception: one file per segment, as it always was.
// Exit status 0 after a complete run or -help, 1 on any error.
#include <cstdio>
#include <string>
#include <vector>

#include "aif.h"
#include "driver.h"
#include "elf.h"
#include "hexin.h"
#include "image.h"
#include "info.h"
#include "ops.h"
#include "platform.h"

namespace {

int fail(const std::string& message)
{
    zb::report(message);
    return 1;
}

int print(const std::string& text) { return zb::say(fw::std_out, text) ? 0 : 1; }

std::string hex8(std::uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%08llX", static_cast<unsigned long long>(v));
    return b;
}

// The root segment of an AIF image without a chain, or a plain binary, as an image.
zb::image segment_image(std::span<const unsigned char> file, const zb::options& opt,
                        const zb::root_result& r)
{
    const zb::segment& s = r.root;
    zb::image img;
    img.kind = !r.aif ? "plain binary"
               : r.next.byte_reversing ? "AIF image, byte-reversed header words"
                                       : "AIF image";
    const auto offset = static_cast<std::uint64_t>(s.data.data() - file.data());
    img.parts.push_back({s.data, {r.aif ? "ROOT" : "file", s.base, s.base, offset, s.data.size(),
                                  opt.baseflag ? "-base" : r.aif ? "image base" : "plain binary at 0"}});
    return img;
}

// An AIF image with a chain: each segment to a file of its own, checked just before it is
// written, so a fault further down the chain stops the run there and the files of the
// segments before it stay complete. -entry goes to the root's file.
int write_chain(std::span<const unsigned char> file, const zb::options& opt, zb::root_result& r,
                const zb::loaded& in)
{
    const std::string name(zb::infile_name(opt));
    if (opt.whole_image())
        return fail("Options -range, -fill, -crc and -raw need one image: " + name +
                    " has a chain of segments, each written to a file of its own\n");
    std::vector<zb::block> blocks;
    std::vector<zb::part> parts;
    zb::written_files done;
    zb::segment seg = r.root;
    std::string why = opt.baseflag ? "-base" : "image base";
    for (bool root = true;; root = false) {
        zb::job j = zb::job_of(seg);
        if (root && opt.entryflag)
            j.entry = opt.entry;
        if (opt.info) {
            blocks.push_back(j.blocks.front());
            const auto offset = static_cast<std::uint64_t>(seg.data.data() - file.data());
            parts.push_back({seg.data, {root ? "ROOT" : seg.name, seg.base, seg.base, offset,
                                        seg.data.size(), why + ", to " + *seg.outfile}});
        } else if (zb::io_error e = zb::write_job(j, opt, in.id, done); e.f != zb::io_fault::none) {
            return fail(zb::io_message(e, opt));
        }
        if (r.next.fragment_offset == 0)
            break;
        const std::uint32_t at = r.next.fragment_offset;
        if (zb::fault f = zb::next_segment(file, r.next, seg); f != zb::fault::none)
            return fail(zb::fault_message(f, name, at, seg.name, r.next.other));
        char where[40];
        std::snprintf(where, sizeof where, "segment header at 0x%X", static_cast<unsigned>(at));
        why = where;
    }
    if (!opt.info)
        return 0;
    const std::optional<std::uint64_t> entry =
        opt.entryflag ? std::optional<std::uint64_t>(opt.entry) : std::nullopt;
    return print(zb::info_report({name, r.next.byte_reversing ? "AIF image, byte-reversed header words"
                                                              : "AIF image",
                                  blocks, parts, entry, {}}));
}

// -range, -fill, -crc in that order; "" or the message that stops the run.
std::string finish(zb::image& img, const zb::options& opt)
{
    const std::string name(zb::infile_name(opt));
    if (opt.range) {
        zb::dropped d;
        if (zb::op_error e = zb::apply_range(img, *opt.range, d); e.f != zb::op_fault::none)
            return zb::op_message(e, name);
        if (d.bytes > 0)
            zb::say(fw::std_err, "warning: -range drops " + std::to_string(d.bytes) +
                                     " bytes of " + name + " outside it, the first at " +
                                     hex8(d.first) + "\n");
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

    zb::loaded in;
    if (zb::io_error e = zb::load(opt, in); e.f != zb::io_fault::none)
        return fail(zb::io_message(e, opt));
    auto file = in.bytes();
    const std::string name(zb::infile_name(opt));
    zb::root_result r = zb::read_root(file, {.binaryflag = opt.binaryflag,
                                              .baseflag = opt.baseflag,
                                              .base = opt.base,
                                              .outfile = opt.outfile});
    for (auto w : r.warnings)
        zb::say(fw::std_err, w);
    if (r.error != zb::fault::none)
        return fail(zb::fault_message(r.error, name, 0, {}));
    if (!r.elf && r.next.fragment_offset != 0)
        return write_chain(file, opt, r, in);

    zb::image img;
    if (r.elf) {
        zb::elf_image e = zb::read_elf(file);
        if (e.error.f != zb::elf_fault::none)
            return fail(zb::elf_message(name, e.error));
        img = std::move(e.img);
    } else if (r.hex) {
        zb::hex_image h = zb::read_hex(file, r.hex);
        if (!h.what.empty())
            return fail(zb::hex_message(name, h.line, h.what));
        img = std::move(h.img);
        img.kind = "hex text, " + std::string(zb::formats[static_cast<std::size_t>(h.format)].word) + " records";
        // The image holds its own bytes now.
        in.data.reset();
    } else {
        img = segment_image(file, opt, r);
    }
    if (opt.baseflag)
        zb::rebase(img, opt.base);
    if (opt.entryflag)
        img.entry = opt.entry;
    if (std::string msg = finish(img, opt); !msg.empty())
        return fail(msg);

    zb::job j{r.root.outfile, {}, zb::blocks_of(img), img.entry, &img, {}};
    if (opt.format == zb::raw) {
        if (zb::op_error e = zb::raw_span(img, opt.range, j.raw_span); e.f != zb::op_fault::none)
            return fail(zb::op_message(e, name));
        img.notes.push_back("raw    from " + hex8(j.raw_span.lo) + ", " +
                            std::to_string(j.raw_span.end - j.raw_span.lo) + " bytes");
    }
    if (opt.info)
        return print(zb::info_report({name, img.kind, j.blocks, img.parts, img.entry, img.notes}));
    zb::written_files done;
    if (zb::io_error e = zb::write_job(j, opt, in.id, done); e.f != zb::io_fault::none)
        return fail(zb::io_message(e, opt));
    return 0;
}
