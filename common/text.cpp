// The kit's text-mode line ends, the same on every system.
#include "fileio.h"

namespace fw {

std::string crlf(std::string_view s)
{
    std::string out;
    out.reserve(s.size() + s.size() / 8 + 2);
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

int write_text(int fd, std::string_view text)
{
    return write_all(fd, crlf(text));
}

}  // namespace fw
