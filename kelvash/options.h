// kelvash task parameters, its option scanner and the option loop that applies what it finds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The load file and task name of a run that names neither: a field still holding one of them
// counts as not given.
inline constexpr std::string_view default_out_file = "out.ld";
inline constexpr std::array<char, 4> default_task_name{'L', 'D', 'B', 'L'};

// The task parameters of one run: what the header and the report show. Each starts at a marker
// meaning "not given"; the defaults file fills only fields still at their marker, so an explicit
// marker value counts as not given.
struct task {
    char code_type = 0;  // 'A' absolute, 'R' relocatable
    std::string out_file{default_out_file};
    std::array<char, 4> task_name = default_task_name;  // no terminator; a short name ends in NULs
    std::int32_t load_address = -1;
    std::int32_t entry_point = -1;
    std::int32_t supv_stack_size = -1;
    std::int32_t user_stack_size = -1;
    std::int32_t priority = 0;
    std::uint32_t creation_flags = 0;
    std::uint32_t start_mode = 0;
};

// What the options set for the run itself rather than for the task.
struct run_state {
    int verbose = 0;
    int defaults_fd = -1;  // the last file named by -d, open for reading
    std::string defaults_name;
};

// A letter of -c or -m with its bit and the words the report prints for it. The rows of each
// option are in report order.
struct flag_letter {
    char option;
    char letter;
    std::uint32_t bit;
    const char* set;
    const char* clear;
};

inline constexpr flag_letter flag_letters[] = {
    {'c', 'G', 0x1, "Global", "Local"},
    {'c', 'F', 0x2, "FPU", "No FPU"},
    {'m', 'N', 0x1, "No Preempt", "Preempt"},
    {'m', 'T', 0x2, "TSlice", "No TSlice"},
    {'m', 'A', 0x4, "Dsbl ASR", "Enbl ASR"},
    {'m', 'S', 0x2000, "Supervisor", "User"},
};

// White space as isspace has it in the C locale.
constexpr bool is_white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Hex digit values; a byte that is no hex digit has bit 32 set, above every digit of every
// base, and above the value bits however far the digits after it shift it.
inline constexpr std::uint64_t no_digit = std::uint64_t(1) << 32;
inline constexpr std::array<std::uint64_t, 256> hex_values = [] {
    std::array<std::uint64_t, 256> t{};
    t.fill(no_digit);
    for (int i = 0; i < 10; i++)
        t['0' + i] = static_cast<std::uint64_t>(i);
    for (int i = 0; i < 6; i++) {
        t['A' + i] = static_cast<std::uint64_t>(10 + i);
        t['a' + i] = static_cast<std::uint64_t>(10 + i);
    }
    return t;
}();

// strtol's syntax in base 0 (prefix decides) or 16: leading white space, a sign, digits; the
// text after the number is ignored. The magnitude saturates far above 32 bits. No digit at all
// gives nothing.
std::optional<std::int64_t> strtol_like(std::string_view s, int base);

// A numeric option value: -2147483648..4294967295 as its 32-bit pattern, so 0xFFFFFFFF is -1.
// Anything else, or no digit, gives nothing.
std::optional<std::int32_t> tonum(std::string_view s);

// GNU-style short-option scanner over one argument vector; entry 0 names its diagnostics.
// Operands are collected in order, so options and operands may be mixed unless in_order
// (POSIX_ME_HARDER) stops the options at the first operand.
struct scanner {
    std::vector<std::string_view> argv;
    bool in_order = false;
    std::size_t next = 1;    // next element to examine
    std::string_view group;  // letters left in the current option element
    std::vector<std::string_view> operands;
};

enum class got { option, end, bad_letter, no_argument };

struct scanned {
    got what = got::end;
    char letter = 0;
    std::string_view arg{};
    std::string diagnostic{};  // for a bad letter or a missing argument, named by argv[0]
};

// The next option, or the end of them.
scanned next_option(scanner& s);

// Command line, or the defaults file with its skip rules in force.
enum class mode { command_line, defaults };

enum class verdict { ok, fail, fail_usage };

// What applying options found: the verdict, and the messages to print, in the order they
// arose: warnings, then the error that stopped the run (fail_usage asks for the usage text
// after them).
struct found {
    verdict v = verdict::ok;
    std::string messages;
};

// Scans s to its end and applies every option to t and r, each message beginning with name.
// A failure stops at once.
found apply_options(scanner& s, mode m, task& t, run_state& r, std::string_view name);

std::string usage(std::string_view name);

// One message of the program's own: "name: text\n".
std::string message(std::string_view name, std::string_view text);

// What perror prints for name and the error number: "name: reason\n", the reason alone when
// name is empty. error_report does the same for a reason that has no error number.
std::string sys_report(std::string_view name, int err);
std::string error_report(std::string_view name, std::string_view reason);

}  // namespace kv
