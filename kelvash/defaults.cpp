// kelvash defaults file: reading it whole, splitting it into the defaults vector, and
// applying that vector in defaults mode.
#include "defaults.h"

#include <cerrno>
#include <new>

#include "platform.h"

namespace kv {

namespace {

enum class loaded { ok, empty, error, no_memory };

constexpr bool is_white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads fd to its end, or to its first NUL byte, since that ends the text anyway (and so a
// stream of NULs cannot run on for ever).
loaded read_whole(int fd, std::string& text, int& e)
{
    constexpr std::size_t chunk = 65536;
    try {
        fw::file_info fi;
        if (fw::info(fd, fi) == 0 && fi.type == fw::kind::regular && fi.size > 0)
            text.reserve(static_cast<std::size_t>(fi.size) + 1);
        for (;;) {
            std::size_t old = text.size();
            text.resize(old + chunk);
            long long n = fw::read(fd, text.data() + old, chunk);
            if (n < 0) {
                e = errno;
                return loaded::error;
            }
            text.resize(old + static_cast<std::size_t>(n));
            if (n == 0)
                return text.empty() ? loaded::empty : loaded::ok;
            if (text.find('\0', old) != std::string::npos)
                return loaded::ok;
        }
    } catch (const std::bad_alloc&) {
        return loaded::no_memory;
    }
}

}  // namespace

bool defaults_vector(std::string_view text, std::vector<std::string_view>& vec)
{
    vec.assign({"kelvash"});
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (vec.size() > max_tokens)
            return false;
        while (pos < text.size() && is_white(text[pos]))
            pos++;
        std::size_t end = pos;
        while (end < text.size() && !is_white(text[end]))
            end++;
        vec.push_back(text.substr(pos, end - pos));
        // The white space that ends a token is used up with it; a text ending in two or more
        // white-space characters therefore yields one empty token at the end.
        pos = end + 1;
    }
    return true;
}

verdict apply_defaults(int fd, std::string_view path, bool in_order, task& t,
                       std::string_view name, std::string& err)
{
    std::string text;
    int e = 0;
    switch (read_whole(fd, text, e)) {
    case loaded::no_memory:
        err += sys_report(name, ENOMEM);
        return verdict::fail;
    case loaded::error:
        err += sys_report(path, e);
        return verdict::fail;
    case loaded::empty:
        err += error_report(path, empty_file);
        return verdict::fail;
    case loaded::ok:
        break;
    }

    std::string_view body(text);
    body = body.substr(0, body.find('\0'));
    scanner s;
    if (!defaults_vector(body, s.argv)) {
        err += message(name, "Too many options in the defaults file");
        return verdict::fail;
    }
    s.in_order = in_order;
    return apply_options(s, mode::defaults, t, name, err);
}

}  // namespace kv
