// Writing the outputs of a run: records or raw bytes into files that replace the old ones only
// when complete, or to standard output; the messages of the file layer.
#include "write/output.h"

#include <cerrno>
#include <cstdio>
#include <set>
#include <utility>

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

// What the texts of whole memories take for j: a C array is named by -name, else for j's own
// file (each segment of a chain for its own). A -name that is no C name stays as given, for
// the check to refuse.
wide_args wide_of(const job& j, const out_args& opt, std::string& name)
{
    wide_args a = opt.wide;
    const auto file = j.outfile ? std::optional<std::string_view>(*j.outfile) : std::nullopt;
    name = c_name(opt.name, file).value_or(std::string(opt.name.value_or("")));
    a.name = name;
    return a;
}

hex_result convert(const job& j, const out_args& opt, int fd)
{
    sink out{&fd, fd_write};
    if (opt.format == raw)
        return write_raw(*j.img, j.raw_span, opt.fill, out);
    std::string name;
    return write_image(j.blocks, opt.format, opt.infile, out, j.entry, wide_of(j, opt, name),
                       opt.container, opt.layout);
}

// What the format's own check refuses of j, before its file is opened.
io_error refusal(const job& j, const out_args& opt)
{
    const format_row* row = row_of(opt.format);
    if (!row || !row->check)
        return {};
    std::string name;
    io_error e;
    e.text = row->check(
        {opt.format, j.blocks, j.entry, opt.infile, wide_of(j, opt, name), opt.container});
    if (!e.text.empty())
        e.f = io_fault::refused;
    return e;
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
    case hex_result::refused:     // told by refusal before the file was opened
    case hex_result::bad_layout:  // the command line refuses a layout the format cannot take
        break;
    }
    return {io_fault::write, outname};
}

std::string format_word(fmt f)
{
    return f == raw ? "raw" : std::string(formats[f].word);
}

// The files of the run so far: the identity of each that existed when it was checked or
// has been put in place, and the name of each that did not exist yet (symbolic links
// followed), so that no output overwrites another.
struct targets {
    std::set<fw::file_id> ids;
    std::set<std::string> names;
};

// An output checked and opened, not yet put in place.
struct opened {
    const job* j = nullptr;
    fw::outfile f;  // unused for standard output
    bool std_out = false;

    int fd() const { return std_out ? fw::std_out : f.fd; }
    // Written as it goes: nothing to hold back and put in place later.
    bool direct() const { return std_out || f.tmp.empty(); }
    std::string name() const { return std_out ? "standard output" : *j->outfile; }
};

// Checks j's file just before it is opened: neither the input nor a file of this run.
io_error open_job(const job& j, fw::file_id input, targets& t, opened& o)
{
    o.j = &j;
    o.std_out = !j.outfile;
    if (o.std_out)
        return {};
    const std::string& name = *j.outfile;
    fw::file_id id;
    const bool taken = fw::id_of(name, id);
    if (taken && id == input)
        return {io_fault::output_is_input, name};
    if (taken && !t.ids.insert(id).second)
        return {io_fault::written_before, name, j.name};
    if (fw::out_open(o.f, name) != 0)
        return {io_fault::open_output, name};
    if (!taken && !t.names.insert(o.f.dest).second) {
        fw::out_abort(o.f);
        return {io_fault::written_before, name, j.name};
    }
    return {};
}

// The records, and for a file the end of writing it; a failed file leaves no trace.
io_error write_opened(const out_args& opt, opened& o)
{
    hex_result r = convert(*o.j, opt, o.fd());
    if (r != hex_result::ok) {
        if (!o.std_out)
            fw::out_abort(o.f);
        return failure(r, o.name(), o.j->entry);
    }
    if (!o.std_out && fw::out_close(o.f) != 0)
        return {io_fault::write, o.name()};
    return {};
}

// Removes what is not in place yet and closes what is open; an output already put in place,
// or already removed, stays as it is.
void abort_all(std::vector<opened>& held)
{
    for (opened& o : held)
        if (!o.std_out)
            fw::out_abort(o.f);
    held.clear();
}

// Puts every held output in place, in order. A refusal stops there: the outputs put in place
// before it stay (the system refused a rename, and then the rewrite in place as well), the
// others are removed.
io_error place_all(std::vector<opened>& held, targets& t)
{
    for (opened& o : held) {
        if (o.std_out)
            continue;
        if (fw::out_place(o.f) != 0) {
            const std::string name = o.name();
            abort_all(held);
            return {io_fault::write, name};
        }
        if (fw::file_id id; fw::id_of(o.name(), id))
            t.ids.insert(id);
    }
    held.clear();
    return {};
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
    case io_fault::refused:
        return e.text;
    case io_fault::entry_too_big:
        std::snprintf(msg, sizeof msg,
                      "Entry point 0x%llX too big for the end record of -%s, max = 0x%llX\n",
                      static_cast<unsigned long long>(e.n), format_word(format).c_str(),
                      static_cast<unsigned long long>(entry_limit(format)));
        return msg;
    }
    return {};
}

io_error write_outputs(const outputs& out, const out_args& opt, fw::file_id input)
{
    const bool together = out.how == placing::together;
    targets t;
    std::vector<opened> held, later;  // complete and waiting; direct, written last
    held.reserve(out.jobs.size());
    later.reserve(out.jobs.size());
    io_error e;
    for (const job& j : out.jobs) {
        opened o;
        if ((e = refusal(j, opt)).f != io_fault::none)
            break;
        e = open_job(j, input, t, o);
        if (e.f == io_fault::none && together && o.direct()) {
            later.push_back(std::move(o));
            continue;
        }
        if (e.f == io_fault::none)
            e = write_opened(opt, o);
        if (e.f != io_fault::none)
            break;
        held.push_back(std::move(o));
        if (!together && (e = place_all(held, t)).f != io_fault::none)
            break;
    }
    for (std::size_t k = 0; e.f == io_fault::none && k < later.size(); ++k)
        e = write_opened(opt, later[k]);
    if (e.f != io_fault::none) {
        abort_all(held);
        abort_all(later);
        return e;
    }
    return place_all(held, t);
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
