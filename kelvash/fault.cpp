// kelvash's faults worded, each message the same to the byte as it has always been.
#include "fault.h"

#include "options.h"
#include "platform.h"

namespace kv {

namespace {

enum class subject { program, input, output, defaults };

// A fault's message: the name of its subject, ": ", and the text, where %e stands for the
// errno's text and %i, %o and %d for the input, output and defaults file names. As perror
// words it, a message about an empty name is the text alone, except where always_named.
struct fault_text {
    fault what;
    subject who;
    std::string_view text;
    bool always_named = false;
};

constexpr fault_text fault_texts[] = {
    {fault::in_error, subject::input, "%e"},
    {fault::in_empty, subject::input, "File is empty"},
    {fault::in_elf, subject::program,
     "%i is an ELF file, not an AIF image or S-records: convert it with zorbin -motorola32 first",
     true},
    {fault::in_intel, subject::program,
     "%i is Intel hex text, not an AIF image or S-records: convert it with zorbin -motorola32 "
     "first",
     true},
    {fault::syntax, subject::program, "Syntax error in file", true},
    {fault::in_eof, subject::input, "End of file before an end record"},
    {fault::too_big, subject::input, "%e"},
    {fault::in_changed, subject::input, "File changed size while it was copied"},
    {fault::out_error, subject::output, "%e"},
    {fault::out_is_input, subject::program, "Output file %o is the input file %i", true},
    {fault::out_is_defaults, subject::program, "Output file %o is the defaults file %d", true},
    {fault::report_error, subject::program, "write error: %e", true},
    {fault::defaults_error, subject::defaults, "%e"},
    {fault::defaults_empty, subject::defaults, "File is empty"},
    {fault::defaults_too_many, subject::program, "Too many options in the defaults file", true},
    {fault::no_memory, subject::program, "%e"},
};

std::string_view name_of(subject s, const run_names& n)
{
    switch (s) {
    case subject::program:
        return n.program;
    case subject::input:
        return n.input;
    case subject::output:
        return n.output;
    case subject::defaults:
        return n.defaults;
    }
    return {};
}

}  // namespace

std::string fault_message(failure f, const run_names& n)
{
    for (const fault_text& row : fault_texts) {
        if (row.what != f.what)
            continue;
        std::string text;
        for (std::size_t i = 0; i < row.text.size(); i++) {
            char c = row.text[i];
            char mark = c == '%' && i + 1 < row.text.size() ? row.text[++i] : 0;
            if (mark == 0)
                text += c;
            else if (mark == 'e')
                text += fw::error_text(f.err);
            else
                text += name_of(mark == 'i' ? subject::input : mark == 'o' ? subject::output
                                                                           : subject::defaults, n);
        }
        std::string_view name = name_of(row.who, n);
        return row.always_named ? message(name, text) : error_report(name, text);
    }
    return {};
}

}  // namespace kv
