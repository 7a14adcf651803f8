// C source that carries the image as an array, for firmware that embeds another firmware:
//   #ifdef __cplusplus ... extern "C" declarations of the three names ... #endif
//   const unsigned char NAME[] = {
//     0x31, 0x40, 0x00, ...,  16 bytes a line
//   };
//   const unsigned long NAME_size = 28UL;
//   const unsigned long NAME_address = 0x0000F000UL;
// The extern declarations give the names external linkage in C++ too, where a const object
// would otherwise be private to the file (and warned about when unused); extern "C" lets C
// and C++ code link with the same file. unsigned long holds 32 bits everywhere, which bounds
// the address and the size.
#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "formats/wide.h"
#include "formats/wordtext.h"

namespace zb {

namespace {

// Keywords of C99, C11 and C++20, the alternative tokens of C++, and main, which no object
// may be called.
constexpr std::string_view reserved[] = {
    "_Alignas", "_Alignof", "_Atomic", "_Bool", "_Complex", "_Generic", "_Imaginary",
    "_Noreturn", "_Static_assert", "_Thread_local", "alignas", "alignof", "and", "and_eq",
    "asm", "auto", "bitand", "bitor", "bool", "break", "case", "catch", "char", "char16_t",
    "char32_t", "char8_t", "class", "co_await", "co_return", "co_yield", "compl", "concept",
    "const", "const_cast", "consteval", "constexpr", "constinit", "continue", "decltype",
    "default", "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export",
    "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "main",
    "mutable", "namespace", "new", "noexcept", "not", "not_eq", "nullptr", "operator", "or",
    "or_eq", "private", "protected", "public", "register", "reinterpret_cast", "requires",
    "restrict", "return", "short", "signed", "sizeof", "static", "static_assert",
    "static_cast", "struct", "switch", "template", "this", "thread_local", "throw", "true",
    "try", "typedef", "typeid", "typename", "union", "unsigned", "using", "virtual", "void",
    "volatile", "wchar_t", "while", "xor", "xor_eq",
};

bool word_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_';
}

bool is_reserved(std::string_view s)
{
    return std::find(std::begin(reserved), std::end(reserved), s) != std::end(reserved);
}

// "0xAB, " for every byte value, padded to 8 bytes for whole copies.
constexpr auto items = [] {
    std::array<std::array<char, 8>, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = {'0', 'x', digits[v >> 4], digits[v & 15], ',', ' ', 0, 0};
    return t;
}();

char* put_items(char* p, const unsigned char* s, std::size_t n, bool last)
{
    *p++ = ' ';
    *p++ = ' ';
    for (std::size_t k = 0; k < n; ++k, p += 6)
        std::memcpy(p, items[s[k]].data(), 8);
    return put_eol(p - (last ? 2 : 1));
}

// head name tail, built by appends (GCC 12 warns falsely about a chain of string +).
std::string declared(std::string_view head, std::string_view name, std::string_view tail)
{
    std::string s(head);
    s += name;
    s += tail;
    return s;
}

constexpr std::uint64_t ulong_max = 0xFFFFFFFF;

wide_error plan(std::span<const block> blocks, const wide_args& a, std::vector<span_of>& spans)
{
    if (!is_c_name(a.name)) {
        wide_error e = wide_err(wide_fault::name);
        e.name = a.name;
        return e;
    }
    if (const lane_error e = word_spans(blocks, 1, false, spans); e.f != lane_fault::none)
        return wide_err(wide_fault::too_high, e.a);
    if (spans.empty())
        return wide_err(wide_fault::empty);
    if (spans.size() > 1 && !a.fill)
        return wide_err(wide_fault::gap, spans[0].end, spans[1].lo);
    const std::uint64_t lo = spans.front().lo, size = spans.back().end - lo;
    if (lo > ulong_max || size > ulong_max)
        return wide_err(wide_fault::too_far, lo, size);
    return {};
}

}  // namespace

bool is_c_name(std::string_view s)
{
    return !s.empty() && !(s[0] >= '0' && s[0] <= '9') && std::all_of(s.begin(), s.end(), word_char) &&
           !is_reserved(s);
}

std::optional<std::string> c_name(std::optional<std::string_view> given,
                                  std::optional<std::string_view> outfile)
{
    if (given)
        return is_c_name(*given) ? std::optional<std::string>(*given) : std::nullopt;
    if (!outfile)
        return "image";
    std::string_view f = *outfile;
    f.remove_prefix(std::min(f.size(), f.find_last_of("/\\") + 1));
    if (const std::size_t dot = f.rfind('.'); dot != std::string_view::npos && dot > 0)
        f = f.substr(0, dot);
    std::string s(f);
    std::replace_if(s.begin(), s.end(), [](char c) { return !word_char(c); }, '_');
    if (s.empty())
        return "image";
    if (s[0] >= '0' && s[0] <= '9')
        s.insert(s.begin(), '_');
    if (is_reserved(s))
        s += '_';
    return s;
}

wide_error check_carray(std::span<const block> blocks, const wide_args& a)
{
    std::vector<span_of> spans;
    return plan(blocks, a, spans);
}

wide_error write_carray(std::span<const block> blocks, const wide_args& a, const sink& out)
{
    std::vector<span_of> spans;
    if (wide_error e = plan(blocks, a, spans); e.f != wide_fault::none)
        return e;
    const std::string name(a.name);
    const std::uint64_t lo = spans.front().lo, end = spans.back().end;
    out_buffer w{out};
    byte_reader r{blocks, a.fill.value_or(0)};
    std::vector<unsigned char> buf(chunk);
    std::string text = "#ifdef __cplusplus\r\nextern \"C\" {\r\n#endif\r\n";
    text += declared("extern const unsigned char ", name, "[];\r\n");
    text += declared("extern const unsigned long ", name, "_size;\r\n");
    text += declared("extern const unsigned long ", name, "_address;\r\n");
    text += "#ifdef __cplusplus\r\n}\r\n#endif\r\n\r\n";
    text += declared("const unsigned char ", name, "[] = {\r\n");
    bool ok = w.put(text);
    char* p = ok ? w.room() : nullptr;
    ok = p && put_lines(w, p, r, buf.data(), lo, end, put_items);
    if (ok)
        w.commit(p);
    char address[8];
    put_hex(address, lo, 8);
    text = declared("};\r\nconst unsigned long ", name, "_size = ");
    text += std::to_string(end - lo);
    text += declared("UL;\r\nconst unsigned long ", name, "_address = 0x");
    text.append(address, 8);
    text += "UL;\r\n";
    ok = ok && w.put(text);
    return written(ok && w.flush());
}

}  // namespace zb
