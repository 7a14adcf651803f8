// Writing one output: records or raw bytes into a file that replaces the old one only when
// complete, or to standard output; the messages of the file layer.
#include "write/output.h"

#include <cerrno>
#include <cstdio>

#include "platform.h"
#include "write/engine.h"
#include "write/raw.h"

namespace zb {

namespace {

bool fd_write(void* ctx, const char* data, std::size_t n)
{
    int e = fw::write_all(*static_cast<int*>(ctx), {data, n});
    if (e != 0)
        errno = e;
    return e == 0;
}

hex_result convert(const job& j, const out_args& opt, int fd)
{
    sink out{&fd, fd_write};
    if (opt.format == raw)
        return write_raw(*j.img, j.raw_span, opt.fill, out);
    return write_image(j.blocks, opt.format, opt.infile, out, j.entry);
}

io_error failure(hex_result r, const std::string& outname, std::optional<std::uint64_t> entry)
{
    switch (r) {
    case hex_result::too_big:
        return {io_fault::too_big};
    case hex_result::entry_too_big:
        return {io_fault::entry_too_big, {}, {}, entry.value_or(0)};
    case hex_result::ok:
    case hex_result::write_error:
        break;
    }
    return {io_fault::write, outname};
}

std::string format_word(fmt f)
{
    return f == raw ? "raw" : std::string(formats[f].word);
}

}  // namespace

std::string io_message(const io_error& e, std::string_view infile, fmt format)
{
    const std::string in(infile);
    char msg[160];
    switch (e.f) {
    case io_fault::none:
        break;
    case io_fault::open_input:
        return "Error opening " + in + " for input\n";
    case io_fault::seek:
        return "Error seeking on " + in + "\n";
    case io_fault::input_too_big:
        return "Input file " + in + " too big for the 32-bit address space, " +
               std::to_string(e.n) + " bytes\n";
    case io_fault::no_memory:
        return "Unable to allocate " + std::to_string(e.n) + " bytes\n";
    case io_fault::read:
        return "Error reading " + in + "\n";
    case io_fault::output_is_input:
        return "Output file " + e.file + " is the input file " + in + ", not overwritten\n";
    case io_fault::written_before:
        return "Segment " + e.segment + " of " + in + " would overwrite " + e.file +
               ", written before in this run\n";
    case io_fault::open_output:
        return "Error opening " + e.file + " for output\n";
    case io_fault::write:
        return "Error writing " + e.file + "\n";
    case io_fault::too_big:
        std::snprintf(msg, sizeof msg, "Base and/or size too big for this format, max = 0x%X\n",
                      static_cast<unsigned>(format_limit(format)));
        return msg;
    case io_fault::entry_too_big:
        std::snprintf(msg, sizeof msg,
                      "Entry point 0x%llX too big for the end record of -%s, max = 0x%llX\n",
                      static_cast<unsigned long long>(e.n), format_word(format).c_str(),
                      static_cast<unsigned long long>(entry_limit(format)));
        return msg;
    }
    return {};
}

job job_of(const segment& seg)
{
    job j{seg.outfile, seg.name, {}, {}, nullptr, {}};
    j.blocks.push_back({seg.base, {seg.data}});
    return j;
}

io_error write_job(const job& j, const out_args& opt, fw::file_id input, written_files& done)
{
    if (!j.outfile) {
        hex_result r = convert(j, opt, fw::std_out);
        return r == hex_result::ok ? io_error{} : failure(r, "standard output", j.entry);
    }
    const std::string& name = *j.outfile;
    fw::file_id id;
    bool taken = fw::id_of(name, id);
    if (taken && id == input)
        return {io_fault::output_is_input, name};
    if (taken && done.contains(id))
        return {io_fault::written_before, name, j.name};

    fw::outfile f;
    if (fw::out_open(f, name) != 0)
        return {io_fault::open_output, name};
    hex_result r = convert(j, opt, f.fd);
    if (r != hex_result::ok) {
        fw::out_abort(f);
        return failure(r, name, j.entry);
    }
    if (fw::out_commit(f) != 0)
        return {io_fault::write, name};
    if (fw::id_of(name, id))
        done.insert(id);
    return {};
}

bool say(int fd, std::string_view text)
{
    return fw::write_text(fd, text) == 0;
}

void report(std::string_view text)
{
    if (!say(fw::std_out, text))
        say(fw::std_err, text);
}

}  // namespace zb
