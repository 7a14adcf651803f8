// kelvash's faults: what stops a run besides its options and their values, each with its one
// message.
#pragma once

#include <string>
#include <string_view>

namespace kv {

enum class fault {
    ok,
    in_error,           // the input cannot be opened or read: err says why
    in_empty,           // the input has not one byte to tell S-records from AIF
    in_elf,             // the input is an ELF file, which the kernel cannot load
    in_intel,           // the input is Intel hex text, which the kernel cannot load
    syntax,             // a line that is no S-record
    in_eof,             // the input ends before an end record
    too_big,            // an AIF image larger than the header's 32 bits can state (EFBIG)
    in_changed,         // the input grew or shrank while it was copied
    out_error,          // the load file cannot be opened, written or put in place: err says why
    out_is_input,       // the load file would take the place of the input
    out_is_defaults,    // the load file would take the place of the defaults file
    report_error,       // the -v report cannot be written: err says why
    defaults_error,     // the defaults file cannot be read: err says why
    defaults_empty,     // the defaults file has not one byte
    defaults_too_many,  // the defaults file holds more than max_tokens tokens
    no_memory,          // no room to hold the defaults file (ENOMEM)
};

// A fault, and the errno whose text its message gives.
struct failure {
    fault what = fault::ok;
    int err = 0;
};

// The names a message gives.
struct run_names {
    std::string_view program;
    std::string_view input;
    std::string_view output;
    std::string_view defaults;
};

std::string fault_message(failure f, const run_names& n);

}  // namespace kv
