// zorbin's command line: what it asks for, the scan of its words, the help text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "image/crc.h"
#include "image/ops.h"
#include "read/input.h"

namespace zb {

// -add FILE (an input that gives its own addresses), -addbin FILE ADDR (a plain binary there).
struct added {
    const char* file = nullptr;
    std::optional<std::uint32_t> at;  // -addbin's address
};

// An address or a size given as @NAME, @NAME+N or @NAME-N: the value of symbol NAME in the main
// input's symbol table, plus or minus N, once that is read.
struct symbol_ref {
    std::string_view name{};  // within the argument vector's word
    std::int64_t offset = 0;  // N, with its sign
    std::string_view word{};  // the whole word, for messages
};

// Where the value of an argument given by symbols goes.
enum class slot : unsigned char { base, entry, range, crc_at, crcrange, addbin_at };

// One option's argument that waits for the symbol table: the numbers of its words given as
// numbers, the symbols of the others (a range has two words, lo and size).
struct deferred {
    slot where = slot::base;
    std::size_t index = 0;  // crc_at, crcrange: which -crc; addbin_at: which of -add/-addbin
    std::array<std::uint32_t, 2> number{};
    std::array<std::optional<symbol_ref>, 2> symbol{};
};

// -split N K [W]: lane K of N lanes, W bytes wide.
struct lane_pick {
    std::uint32_t n = 1, k = 0, w = 1;
};

struct options {
    fmt format = none;              // a row's format, raw, none until a format word is seen
    const char* infile = nullptr;   // first positional argument
    const char* outfile = nullptr;  // second positional argument
    std::uint32_t base = 0;
    bool baseflag = false;
    bool binaryflag = false;
    input_kind input;         // -input WORD: what the main input is, when detection cannot tell
    std::uint32_t entry = 0;  // -entry: the end record's entry point, whatever the input says
    bool entryflag = false;
    bool info = false;        // -info: report what would be written, write nothing
    std::optional<span_of> range;       // -range lo size
    std::optional<unsigned char> fill;  // -fill b
    std::vector<crc_request> crcs;      // each -crc kind at, with its -crcrange lo size
    bool verify = false;                // -verify: compare each -crc with its field, write nothing
    std::vector<added> adds;            // merged into the main input's image, in this order
    std::optional<std::uint32_t> reclen;  // -reclen: data bytes of a full record
    const char* header = nullptr;       // -header: the text of a header record before the data
    std::optional<added> cmp;  // -cmp FILE, -cmpbin FILE ADDR: the image compared, no output
    section_choice sections;   // -only, -remove: the main input's ELF sections
    std::vector<deferred> symbolic;     // the arguments given as @NAME, in command-line order
    std::optional<std::uint32_t> width;    // -width N: bytes of a word of -vmem, -mif, -coe
    bool be = false;                       // -be: a word's first byte is its most significant
    std::optional<std::string_view> name;  // -name NAME: the array of -carray
    std::optional<std::uint32_t> swap;     // -swap W: the bytes of each W-byte word reversed
    std::optional<lane_pick> split;        // -split N K [W]: one byte lane kept
    std::optional<std::uint32_t> uf2_family;  // -family: of a UF2 output, and the one a UF2
                                              // input of several families is read for
    std::optional<usb_id> usbid;        // -usbid VID:PID[:BCD], of a DFU or DfuSe file
    const char* target = nullptr;       // -target NAME: the DfuSe file's target
    // Any option that needs one image, not a chain of segments.
    bool whole_image() const
    {
        return range || fill || !crcs.empty() || format == raw || !adds.empty() || cmp;
    }
};

enum class scan_status {
    run,    // options complete: go on and load
    help,   // -help: print the help text, exit 0
    usage,  // message goes to standard error, then the usage line to standard output
    error,  // message goes to standard output
};

struct scan_result {
    scan_status status = scan_status::run;
    std::string message;
};

// The kinds of argument an option takes. Each is read from the words after the option by one
// parser (cli.cpp), with the messages of its kind: "No argument on -WORD option" when the
// words run out, "Bad number ..." and the others when a word is bad.
enum class arg_kind : unsigned char {
    none,        // no (further) argument
    number,      // getnum's syntax
    address,     // a number that is an address or a size in the image
    byte,        // a number up to 0xFF
    range,       // two words, lo and size: [lo, lo + size), not empty, ending by 4 GiB
    file,        // any word: a file name
    crc_kind,    // a word of the checksum kinds' table (image/sum.h)
    input_kind,  // what -input takes: elf, aif, bin or the word of a format that is read
    text,        // any word, taken as it is: a text for the output, a pattern
    name,        // any word: a name, held against what it names after the scan
    maybe,       // a number that may be left out, as an option's last argument: taken when
                 // the next word begins as a number does (a digit or &), else left to the scan
    family,      // a UF2 family: a number, or a name of the list (formats/uf2.h)
    usb_id,      // VID:PID or VID:PID:BCD, each one to four hex digits
};

// What one argument gave, in the field of its kind.
struct arg_value {
    std::uint32_t number = 0;      // number, address, byte; range: lo; maybe when given
    std::uint32_t size = 0;        // range: its size
    bool given = false;            // maybe: whether the word was there
    span_of range{};               // range, when neither word is a symbol
    std::array<std::optional<symbol_ref>, 2> symbol{};  // address, range: the words given as @NAME
    const char* word = nullptr;    // file, name: the word of the argument vector itself
    std::string_view crc{};        // crc_kind: the word as typed, one parse_kind takes
    input_kind input{};            // input_kind
    std::uint32_t family = 0;      // family: its ID
    zb::usb_id usb{};              // usb_id
    bool symbolic() const { return symbol[0] || symbol[1]; }
};

inline constexpr std::size_t max_args = 3;
using arg_values = std::array<arg_value, max_args>;

struct scan_state;  // what the scan holds until its end (cli.cpp)

// One option: its words, the arguments it takes and what it sets. The scanner, the help text
// and the bash completion (pkg/) all come from the table of these rows.
struct option_row {
    std::string_view word{};   // matched whole without regard to case
    std::string_view alias{};  // a second word for the same option; empty: none
    std::array<arg_kind, max_args> args{};  // in order, ended by none
    std::string_view help{};   // its lines in the help text; empty: the help does not list it
    bool stops = false;        // -help: the scan ends here
    void (*set)(options& opt, scan_state& s, const arg_values& v) = nullptr;
};

// Every option, in the order the help text lists those it lists.
std::span<const option_row> option_table();

inline constexpr std::string_view usage_line =
    "usage: Zorbin -<format> <binary-file> [<output-file>]\n";

// 0 when s and t are equal ignoring the case of A..Z, else the first difference (s minus t).
int cistrcmp(std::string_view s, std::string_view t);

// A number in zorbin's syntax ("&" or "0x" for hex, K or M suffix); none when it is bad or
// does not fit in 32 bits.
std::optional<std::uint32_t> getnum(std::string_view arg);

// Scans argv (ended by a null entry) from left to right into opt.
scan_result scan_args(const char* const* argv, options& opt);

// What the options of a complete scan ask that cannot be: a word or lane outside its range,
// an option that the format does not take (-reclen, -header among them), a -name that is no
// C name, a format word or output file with -cmp, which writes none; the message, before
// anything is read or written.
std::optional<std::string> check_options(const options& opt);

std::string give_help();

// Whether the command line asks for a comparison (-cmp or -cmpbin anywhere in it): then an
// error exits with status 2, as cmp's and diff's do, so that trouble is never taken for a
// difference (status 1), even when the scan stops before it reaches the option.
bool comparing(const char* const* argv);

// A symbol of the main input as the resolution of @NAME needs it.
struct named_symbol {
    std::string_view name{};
    std::uint64_t addr = 0;   // as nm shows it: an ARM Thumb function's bit 0 cleared
    std::uint64_t value = 0;  // st_value itself, what -entry takes
    std::uint64_t size = 0;   // st_size; 0: unknown
};

// The symbol table @NAME is looked up in: its symbols (defined ones only), or why there are
// none ("which is not an ELF file", or what is wrong with the table).
struct symbol_table {
    std::span<const named_symbol> symbols{};
    std::string missing{};  // empty: the table was read
};

// Puts the value of every argument given as @NAME into its option, checks what the scan could
// not check for it (a range's size), and says in notes which symbols it used; the message that
// stops the run, if any. infile names the main input in messages.
std::optional<std::string> resolve_symbols(options& opt, const symbol_table& table,
                                           std::string_view infile,
                                           std::vector<std::string>& notes);

// -family when neither the output nor an input (uf2_input) is UF2, which the run has no use
// for: its message, once the inputs are read.
std::optional<std::string> family_unused(const options& opt, bool uf2_input);

// The input name as messages show it: "(null)" when none was given.
std::string_view infile_name(const options& opt);

}  // namespace zb
