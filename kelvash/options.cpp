// kelvash options: number syntax, the short-option scanner, and the option loop with its
// validation messages and the skip rules of the defaults file.
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace kv {

namespace {

// The option set in getopt notation: a letter followed by ':' takes an argument.
constexpr std::string_view option_set = "arvc:d:e:l:m:n:o:p:s:u:";

// A numeric option: its field, the message when no number is given (usage text follows) and
// the one when the number is out of its range (no usage text; null when any value goes).
struct num_option {
    char letter;
    std::int32_t task::*field;
    const char* missing;
    const char* invalid;
    std::int32_t low;
    std::int32_t high;
};

constexpr num_option num_options[] = {
    {'e', &task::entry_point, "Wrong or missing start address", nullptr, INT32_MIN, INT32_MAX},
    {'l', &task::load_address, "Wrong or missing load address", nullptr, INT32_MIN, INT32_MAX},
    {'p', &task::priority, "Wrong or missing priority",
     "Invalid priority, shall be between 1 and 255", 1, 255},
    // sic: "satck" in two texts; 128 itself is accepted although the text says "greater than".
    {'s', &task::supv_stack_size, "Wrong or missing supervisor satck size",
     "Invalid supervisor stack size, shall be greater than 128", 128, INT32_MAX},
    {'u', &task::user_stack_size, "Wrong or missing user stack size", "Invalid user satck size",
     0, INT32_MAX},
};

// Defaults mode skips an option silently when its field no longer holds its marker: the
// command line, or an earlier line of the file, has set it. -d and -v have no row: -d only
// warns there and every -v counts.
struct skip_rule {
    char letter;
    bool (*is_set)(const task&);
};

constexpr skip_rule skip_rules[] = {
    {'a', [](const task& t) { return t.code_type != 0; }},
    {'r', [](const task& t) { return t.code_type != 0; }},
    {'c', [](const task& t) { return t.creation_flags != 0; }},
    {'e', [](const task& t) { return t.entry_point != -1; }},
    {'l', [](const task& t) { return t.load_address != -1; }},
    {'m', [](const task& t) { return t.start_mode != 0; }},
    {'n', [](const task& t) { return t.task_name != default_task_name; }},
    {'o', [](const task& t) { return t.out_file != default_out_file; }},
    {'p', [](const task& t) { return t.priority != 0; }},
    {'s', [](const task& t) { return t.supv_stack_size != -1; }},
    {'u', [](const task& t) { return t.user_stack_size != -1; }},
};

std::string bad_letter(std::string_view name, unsigned char c)
{
    char buf[64];
    if (c >= 32 && c <= 126)
        std::snprintf(buf, sizeof buf, ": unrecognized option `-%c'\n", c);
    else
        std::snprintf(buf, sizeof buf, ": unrecognized option, character code 0%o\n", c);
    return std::string(name) + buf;
}

// Every operand from the element at from on; the options end there.
void rest_are_operands(scanner& s, std::size_t from)
{
    s.operands.insert(s.operands.end(), s.argv.begin() + static_cast<std::ptrdiff_t>(from),
                      s.argv.end());
    s.next = s.argv.size();
}

found apply_code_type(char letter, task& t, std::string_view name)
{
    char want = letter == 'a' ? 'A' : 'R';
    // sic: the text names an option -i that does not exist.
    if (t.code_type != 0 && t.code_type != want)
        return {verdict::fail,
                message(name, "Only one of '-a' or '-r' '-i' options can be specified")};
    t.code_type = want;
    return {};
}

found apply_flags(char option, std::string_view letters, task& t, std::string_view name)
{
    std::uint32_t& bits = option == 'c' ? t.creation_flags : t.start_mode;
    for (char l : letters) {
        auto f = std::find_if(std::begin(flag_letters), std::end(flag_letters),
                              [&](const flag_letter& x) { return x.option == option && x.letter == l; });
        if (f == std::end(flag_letters)) {
            std::string text = "Unkown flag \"";  // sic
            text += l;
            text += "\" specified with -";
            text += option;
            text += " option";
            return {verdict::fail_usage, message(name, text)};
        }
        bits |= f->bit;
    }
    return {};
}

// -d on the command line opens its file at once; every one named must open, the last counts.
found open_defaults(std::string_view path, run_state& r)
{
    std::string p(path);
    int fd = fw::open_read(p.c_str());
    if (fd < 0)
        return {verdict::fail, sys_report(path, errno)};
    if (r.defaults_fd >= 0)
        fw::close(r.defaults_fd);
    r.defaults_fd = fd;
    r.defaults_name = p;
    return {};
}

found apply_number(char letter, std::string_view arg, task& t, std::string_view name)
{
    const num_option* o = std::find_if(std::begin(num_options), std::end(num_options),
                                       [&](const num_option& x) { return x.letter == letter; });
    std::optional<std::int32_t> v = tonum(arg);
    if (!v)
        return {verdict::fail_usage, message(name, o->missing)};
    if (o->invalid && (*v < o->low || *v > o->high))
        return {verdict::fail, message(name, o->invalid)};
    t.*(o->field) = *v;
    return {};
}

found apply_one(char letter, std::string_view arg, mode m, task& t, run_state& r,
                std::string_view name)
{
    switch (letter) {
    case 'a':
    case 'r':
        return apply_code_type(letter, t, name);
    case 'c':
    case 'm':
        return apply_flags(letter, arg, t, name);
    case 'd':
        if (m == mode::defaults)
            return {verdict::ok, message(name, "WARNING: -d option ignored in defaults file")};
        return open_defaults(arg, r);
    case 'n':
        t.task_name.fill('\0');
        std::copy_n(arg.begin(), std::min<std::size_t>(arg.size(), 4), t.task_name.begin());
        return {};
    case 'o':
        t.out_file = arg;
        return {};
    case 'v':
        r.verbose++;
        return {};
    default:
        return apply_number(letter, arg, t, name);
    }
}

bool skipped(char letter, const task& t)
{
    for (const skip_rule& r : skip_rules)
        if (r.letter == letter)
            return r.is_set(t);
    return false;
}

}  // namespace

std::optional<std::int64_t> strtol_like(std::string_view s, int base)
{
    auto at = [&](std::size_t k) { return k < s.size() ? s[k] : '\0'; };
    auto digit = [&](std::size_t k) { return hex_values[static_cast<unsigned char>(at(k))]; };
    std::size_t i = 0;
    while (is_white(at(i)))
        i++;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-')
        negative = s[i++] == '-';
    bool hex_prefix = at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X') && digit(i + 2) < 16;
    if (base == 0)
        base = hex_prefix ? 16 : at(i) == '0' ? 8 : 10;
    if (base == 16 && hex_prefix)
        i += 2;

    constexpr std::uint64_t cap = std::uint64_t(1) << 40;  // far beyond any 32-bit value
    std::uint64_t mag = 0;
    bool any = false;
    for (; digit(i) < unsigned(base); i++) {
        any = true;
        mag = std::min(mag * unsigned(base) + digit(i), cap);
    }
    if (!any)
        return std::nullopt;
    auto v = static_cast<std::int64_t>(mag);
    return negative ? -v : v;
}

std::optional<std::int32_t> tonum(std::string_view s)
{
    std::optional<std::int64_t> v = strtol_like(s, 0);
    if (!v || *v < INT32_MIN || *v > static_cast<std::int64_t>(UINT32_MAX))
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*v));
}

scanned next_option(scanner& s)
{
    while (s.group.empty()) {
        if (s.next >= s.argv.size())
            return {};
        std::string_view e = s.argv[s.next++];
        if (e == "--") {
            rest_are_operands(s, s.next);
            return {};
        }
        if (e.size() >= 2 && e[0] == '-') {
            s.group = e.substr(1);
            break;
        }
        if (s.in_order) {
            rest_are_operands(s, s.next - 1);
            return {};
        }
        s.operands.push_back(e);
    }

    char c = s.group[0];
    s.group.remove_prefix(1);
    std::size_t at = c == ':' ? std::string_view::npos : option_set.find(c);
    if (at == std::string_view::npos) {
        std::string text = bad_letter(s.argv[0], static_cast<unsigned char>(c));
        return {.what = got::bad_letter, .letter = c, .diagnostic = text};
    }
    if (at + 1 == option_set.size() || option_set[at + 1] != ':')
        return {.what = got::option, .letter = c};

    // The rest of the element, else the whole next element whatever it looks like.
    if (!s.group.empty()) {
        std::string_view arg = s.group;
        s.group = {};
        return {.what = got::option, .letter = c, .arg = arg};
    }
    if (s.next < s.argv.size())
        return {.what = got::option, .letter = c, .arg = s.argv[s.next++]};
    std::string text(s.argv[0]);
    text += ": option `-";
    text += c;
    text += "' requires an argument\n";
    return {.what = got::no_argument, .letter = c, .diagnostic = text};
}

found apply_options(scanner& s, mode m, task& t, run_state& r, std::string_view name)
{
    found all;
    for (;;) {
        scanned o = next_option(s);
        if (o.what == got::end)
            return all;
        if (o.what != got::option) {
            all.messages += o.diagnostic;
            if (m == mode::defaults)
                all.messages += message(name, "Invalid option in the defaults file");
            all.v = verdict::fail_usage;
            return all;
        }
        // A skipped option has taken its argument all the same, unconverted.
        if (m == mode::defaults && skipped(o.letter, t))
            continue;
        found one = apply_one(o.letter, o.arg, m, t, r, name);
        all.messages += one.messages;
        if (one.v != verdict::ok) {
            all.v = one.v;
            return all;
        }
    }
}

std::string usage(std::string_view name)
{
    std::string u = "Usage:\t";
    u += name;
    u += " {-a|-r} [-l <load_address>] [-v] [-d <defaults_file>]\n"
         "\t[-n <task_name>] [-p <priority>] [-c [G][F]]\n"
         "\t[-m [A][N][T][S]] [-e <entry_point>] [-s <supv_stack_size>]\n"
         "\t[-u <user_stack_size>] [-o <out_file>] <filename>\n";
    return u;
}

std::string message(std::string_view name, std::string_view text)
{
    std::string m(name);
    m += ": ";
    m += text;
    m += '\n';
    return m;
}

std::string sys_report(std::string_view name, int err)
{
    return error_report(name, fw::error_text(err));
}

std::string error_report(std::string_view name, std::string_view reason)
{
    if (name.empty())
        return std::string(reason) + "\n";
    return message(name, reason);
}

}  // namespace kv
