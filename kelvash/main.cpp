// kelvash: writes a task load file, a header with the task's parameters followed by an
// S-record or AIF image, for the target's real-time kernel to create the task from.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "defaults.h"
#include "fault.h"
#include "fileio.h"
#include "loadfile.h"
#include "options.h"
#include "platform.h"

namespace {

void to_stderr(const std::string& text)
{
    fw::write_all(fw::std_err, text);
}

int fail(const std::string& text)
{
    to_stderr(text);
    return 1;
}

int fail_usage(const std::string& text, std::string_view name)
{
    return fail(text + kv::usage(name));
}

int fail(const kv::found& f, std::string_view name)
{
    return f.v == kv::verdict::fail_usage ? fail_usage(f.messages, name) : fail(f.messages);
}

// Whether the load file would take the place of the input or the defaults file.
kv::fault same_file(int in, const kv::task& t, const kv::run_state& run)
{
    fw::file_id out, id;
    if (!fw::id_of(t.out_file, out))
        return kv::fault::ok;
    if (fw::id_of(in, id) && id == out)
        return kv::fault::out_is_input;
    if (run.defaults_fd >= 0 && fw::id_of(run.defaults_fd, id) && id == out)
        return kv::fault::out_is_defaults;
    return kv::fault::ok;
}

// Reads the input's first byte, which tells S-records from an AIF image.
kv::failure first_byte(int in, char& first)
{
    long long n = fw::read(in, &first, 1);
    if (n < 0)
        return {kv::fault::in_error, errno};
    return {n == 0 ? kv::fault::in_empty : kv::fault::ok};
}

// An ELF file or Intel hex text, which would go through as an AIF image the kernel cannot run.
// Only a regular file is looked at here, without moving its position: what else the input
// may be is reported as ever, after the load file is opened.
kv::fault foreign(int in)
{
    fw::file_info fi;
    if (fw::info(in, fi) != 0 || fi.type != fw::kind::regular)
        return kv::fault::ok;
    char head[kv::head_max];
    long long n = fw::pread(in, head, sizeof head, 0);
    return n > 0 ? kv::foreign_input({head, static_cast<std::size_t>(n)}) : kv::fault::ok;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string_view name = argc > 0 && argv[0] ? argv[0] : "kelvash";
    if (argc < 2)
        return fail(kv::usage(name));

    kv::task t;
    kv::run_state run;
    bool in_order = std::getenv("POSIX_ME_HARDER") != nullptr;
    kv::scanner s;
    s.argv.assign(argv, argv + argc);
    s.in_order = in_order;
    if (kv::found f = kv::apply_options(s, kv::mode::command_line, t, run, name);
        f.v != kv::verdict::ok)
        return fail(f, name);
    if (s.operands.size() != 1) {
        // sic: "More than one input files"
        std::string_view text = s.operands.empty() ? "No input file specified"
                                                   : "More than one input files cannot be specified";
        return fail_usage(kv::message(name, text), name);
    }
    std::string filename(s.operands[0]);

    // The names as they stand when the run stops: the defaults file may still set -o.
    auto stop = [&](kv::failure f) {
        return fail(kv::fault_message(f, {name, filename, t.out_file, run.defaults_name}));
    };

    int in = fw::open_read(filename.c_str());
    if (in < 0)
        return stop({kv::fault::in_error, errno});

    if (run.defaults_fd >= 0) {
        kv::found f = kv::apply_defaults(run.defaults_fd, run.defaults_name, in_order, t, run, name);
        if (f.v != kv::verdict::ok)
            return fail(f, name);
        to_stderr(f.messages);  // warnings
    }

    // The load file must not take the place of a file this run reads.
    if (kv::fault f = same_file(in, t, run); f != kv::fault::ok)
        return stop({f});

    // Refused before the load file is opened, so that an old one stays as it was.
    if (kv::fault f = foreign(in); f != kv::fault::ok)
        return stop({f});

    // Written beside the target and put in place only after a complete run. Opened before the
    // -a/-r check: when both fail, the output's error is the one reported.
    fw::outfile out;
    if (int e = fw::out_open(out, t.out_file); e != 0)
        return stop({kv::fault::out_error, e});
    if (t.code_type == 0) {
        fw::out_abort(out);
        // sic: the text names an option -i that does not exist.
        std::string text = kv::message(name, "One of '-a' or '-r' '-i' options shall be specified");
        return fail_usage(text, name);
    }

    // Only a regular file holds the size the header states; a pipe or /dev/zero does not.
    fw::input info;
    if (int e = fw::in_check(in, info); e != 0) {
        fw::out_abort(out);
        return stop({kv::fault::in_error, e});
    }
    char first = 0;
    if (kv::failure f = first_byte(in, first); f.what != kv::fault::ok) {
        fw::out_abort(out);
        return stop(f);
    }

    kv::input_kind kind = first == 'S' ? kv::input_kind::srec : kv::input_kind::aif;
    kv::write_result r = kv::write_loadfile(kind, t, in, info.size, out.fd);
    if (r.what != kv::wrote::ok) {
        fw::out_abort(out);
        return stop({r.what, r.err});
    }
    if (int e = fw::out_commit(out); e != 0)
        return stop({kv::fault::out_error, e});

    if (run.verbose != 0) {
        if (int e = fw::write_all(fw::std_out, kv::report(kind, t, r.sec)); e != 0)
            return stop({kv::fault::report_error, e});
    }
    fw::close(in);
    if (run.defaults_fd >= 0)
        fw::close(run.defaults_fd);
    return 0;
}
