// orvane: prints the object-list variables of a makefile from a list of source names.
#include <cerrno>
#include <string>

#include "fileio.h"
#include "orvane.h"
#include "platform.h"

namespace {

// Messages of the run itself go to standard output, as text-mode lines.
void say(const std::string& text) { fw::write_text(fw::std_out, text); }

void complain(const std::string& what, int e)
{
    fw::write_text(fw::std_err, "orvane: " + what + ": " + fw::error_text(e) + "\n");
}

// Reads fd to its end (or to a 0x1A) into s. Returns 0 or the errno of a failed read.
int read_list(int fd, orvane::scanner& s)
{
    static char buf[1 << 16];
    while (!s.tm.ended) {
        long long n = fw::read(fd, buf, sizeof buf);
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        orvane::feed(s, std::string_view(buf, static_cast<std::size_t>(n)));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // A failed run must not look like success to the makefile that called it.
    if (argc != 4) {
        say(std::string(orvane::usage_text));
        return 1;
    }
    const std::string list = argv[2];
    int fd = orvane::open_read(list.c_str(), false);
    if (fd < 0) {
        say("Unable to open file " + list + "\n");
        return 255;  // exit(-1)
    }

    orvane::scanner s{.src = {argv[1], argv[3], orvane::source_present}};
    if (int e = read_list(fd, s); e != 0) {
        // A list cut short would leave objects out of the link without a word.
        complain("read error on " + list, e);
        return 1;
    }
    fw::close(fd);

    if (int e = fw::write_text(fw::std_out, orvane::feed_end(s)); e != 0) {
        complain("write error", e);
        return 1;
    }
    return 0;
}
