// zorbin: converts an AIF image, an ELF executable or a plain binary into hexadecimal object
// records, one output per segment of an AIF image's chain and one for the whole of an ELF
// file; -info reports what it would write instead. Exit status 0 after a complete run or
// -help, 1 on any error.
#include <cstdio>
#include <string>
#include <vector>

#include "driver.h"
#include "elf.h"
#include "aif.h"
#include "info.h"
#include "platform.h"

namespace {

int fail(const std::string& message)
{
    zb::report(message);
    return 1;
}

// What -info shows of an input that is not ELF: each segment of an AIF chain (or the plain
// binary) as one block and one piece. Returns "" or the fault message the conversion would
// stop with.
std::string segment_pieces(std::span<const unsigned char> file, const zb::options& opt,
                           zb::root_result& r, std::vector<zb::block>& blocks,
                           std::vector<zb::origin>& pieces)
{
    auto add = [&](const zb::segment& s, std::string name, std::string why) {
        blocks.push_back({s.base, {s.data}});
        const auto offset = static_cast<std::uint64_t>(s.data.data() - file.data());
        pieces.push_back({std::move(name), s.base, s.base, offset, s.data.size(),
                          std::move(why) + (s.outfile ? ", to " + *s.outfile : "")});
    };
    add(r.root, r.aif ? "ROOT" : "file",
        opt.baseflag ? "-base" : r.aif ? "image base" : "plain binary at 0");
    zb::segment seg;
    while (r.next.fragment_offset != 0) {
        const std::uint32_t at = r.next.fragment_offset;
        if (zb::fault f = zb::next_segment(file, r.next, seg); f != zb::fault::none)
            return zb::fault_message(f, zb::infile_name(opt), at, seg.name, r.next.other);
        char where[40];
        std::snprintf(where, sizeof where, "segment header at 0x%X", static_cast<unsigned>(at));
        add(seg, seg.name, where);
    }
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
    if (std::string msg = zb::load(opt, in); !msg.empty())
        return fail(msg);

    auto file = in.bytes();
    zb::root_result r = zb::read_root(file, {.binaryflag = opt.binaryflag,
                                              .baseflag = opt.baseflag,
                                              .base = opt.base,
                                              .outfile = opt.outfile});
    for (auto w : r.warnings)
        zb::say(fw::std_err, w);
    if (r.error != zb::fault::none)
        return fail(zb::fault_message(r.error, zb::infile_name(opt), 0, {}));

    // An ELF file is one image with an entry point; AIF and plain binaries carry none unless
    // -entry gives it.
    std::optional<std::uint64_t> entry;
    zb::elf_image img;
    if (r.elf) {
        img = zb::read_elf(file);
        if (!img.error.empty())
            return fail(zb::elf_message(zb::infile_name(opt), img.error));
        if (opt.baseflag)
            zb::rebase(img, opt.base);
        entry = img.entry;
    }
    if (opt.entryflag)
        entry = opt.entry;

    if (opt.info) {
        std::vector<zb::block> blocks = img.blocks;
        std::vector<zb::origin> pieces = img.pieces;
        std::string kind = img.kind;
        if (!r.elf) {
            if (std::string msg = segment_pieces(file, opt, r, blocks, pieces); !msg.empty())
                return fail(msg);
            kind = !r.aif                 ? "plain binary"
                   : r.next.byte_reversing ? "AIF image, byte-reversed header words"
                                           : "AIF image";
        }
        return zb::say(fw::std_out, zb::info_report({zb::infile_name(opt), kind, blocks, pieces,
                                                     entry}))
                   ? 0
                   : 1;
    }
    // An entry point of 0 from the file writes the end records of old; -entry 0 asks for it.
    if (entry && *entry == 0 && !opt.entryflag)
        entry.reset();
    r.root.blocks = std::move(img.blocks);

    // Each segment is checked just before it is written: a fault further down the chain
    // stops the run there, and the files of the segments before it stay complete. The entry
    // point belongs to the root's image.
    zb::written_files done;
    zb::segment seg = r.root;
    for (;;) {
        if (std::string msg = zb::write_segment(seg, opt, in.id, done, entry); !msg.empty())
            return fail(msg);
        entry.reset();
        if (r.next.fragment_offset == 0)
            return 0;
        if (zb::fault f = zb::next_segment(file, r.next, seg); f != zb::fault::none)
            return fail(zb::fault_message(f, zb::infile_name(opt), r.next.fragment_offset, seg.name,
                                          r.next.other));
    }
}
