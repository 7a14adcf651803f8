// zorbin: converts an AIF image, an ELF executable or a plain binary into hexadecimal object
// records, one output per segment of an AIF image's chain and one for the whole of an ELF
// file. Exit status 0 after a complete run or -help, 1 on any error.
#include "driver.h"
#include "elf.h"
#include "image.h"
#include "platform.h"

namespace {

int fail(const std::string& message)
{
    zb::report(message);
    return 1;
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

    // Each segment is checked just before it is written: a fault further down the chain
    // stops the run there, and the files of the segments before it stay complete.
    auto file = in.bytes();
    zb::root_result r = zb::read_root(file, {.binaryflag = opt.binaryflag,
                                              .baseflag = opt.baseflag,
                                              .base = opt.base,
                                              .outfile = opt.outfile});
    for (auto w : r.warnings)
        zb::say(fw::std_err, w);
    if (r.error != zb::fault::none)
        return fail(zb::fault_message(r.error, zb::infile_name(opt), 0, {}));
    if (r.elf) {
        zb::elf_image img = zb::read_elf(file);
        if (!img.error.empty())
            return fail(zb::elf_message(zb::infile_name(opt), img.error));
        if (opt.baseflag)
            zb::rebase(img.blocks, opt.base);
        r.root.blocks = std::move(img.blocks);
    }

    zb::written_files done;
    zb::segment seg = r.root;
    for (;;) {
        if (std::string msg = zb::write_segment(seg, opt, in.id, done); !msg.empty())
            return fail(msg);
        if (r.next.fragment_offset == 0)
            return 0;
        if (zb::fault f = zb::next_segment(file, r.next, seg); f != zb::fault::none)
            return fail(zb::fault_message(f, zb::infile_name(opt), r.next.fragment_offset, seg.name,
                                          r.next.other));
    }
}
