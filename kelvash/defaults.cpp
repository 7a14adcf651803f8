// kelvash defaults file: reading it whole, splitting it into the defaults vector, and
// applying that vector in defaults mode.
#include "defaults.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "fault.h"
#include "platform.h"

namespace kv {

namespace {

// Counts tokens as defaults_vector splits them while the text is still being read, so that
// reading stops at the first token too many: a stream of options would otherwise be read
// until memory runs out.
struct token_count {
    enum { between, white, token } at = between;
    std::size_t pos = 0;
    std::size_t tokens = 0;
};

// True when text, whatever follows it, splits into more than max_tokens tokens.
bool too_many(std::string_view text, token_count& c)
{
    while (c.pos < text.size()) {
        switch (c.at) {
        case token_count::between:
            if (c.tokens >= max_tokens)
                return true;
            c.tokens++;
            c.at = token_count::white;
            break;
        case token_count::white:
            if (is_white(text[c.pos]))
                c.pos++;
            else
                c.at = token_count::token;
            break;
        case token_count::token:
            // The white space that ends a token is used up with it.
            if (is_white(text[c.pos++]))
                c.at = token_count::between;
            break;
        }
    }
    return false;
}

// Reads fd to its end, to its first NUL byte (which ends the text anyway), or to the first
// token too many. A regular file is read into room of its own size, so that memory never
// runs to twice the file.
failure read_text(int fd, std::string& text)
{
    constexpr std::size_t chunk = 65536;
    token_count count;
    try {
        fw::file_info fi;
        if (fw::info(fd, fi) == 0 && fi.type == fw::kind::regular && fi.size > 0)
            text.reserve(static_cast<std::size_t>(fi.size) + 1);
        for (;;) {
            std::size_t old = text.size();
            std::size_t room = text.capacity() - old;
            text.resize(old + (room > 0 ? std::min(room, chunk) : chunk));
            long long n = fw::read(fd, text.data() + old, text.size() - old);
            if (n < 0)
                return {fault::defaults_error, errno};
            text.resize(old + static_cast<std::size_t>(n));
            if (n == 0)
                return {text.empty() ? fault::defaults_empty : fault::ok};
            auto nul = text.find('\0', old);
            if (too_many(std::string_view(text).substr(0, nul), count))
                return {fault::defaults_too_many};
            if (nul != std::string::npos)
                return {};
        }
    } catch (const std::bad_alloc&) {
        return {fault::no_memory, ENOMEM};
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

found apply_defaults(int fd, std::string_view path, bool in_order, task& t, run_state& r,
                     std::string_view name)
{
    const run_names names{name, {}, {}, path};
    std::string text;
    if (failure f = read_text(fd, text); f.what != fault::ok)
        return {verdict::fail, fault_message(f, names)};

    std::string_view body(text);
    body = body.substr(0, body.find('\0'));
    scanner s;
    if (!defaults_vector(body, s.argv))
        return {verdict::fail, fault_message({fault::defaults_too_many}, names)};
    s.in_order = in_order;
    return apply_options(s, mode::defaults, t, r, name);
}

}  // namespace kv
