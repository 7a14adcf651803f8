// echo: prints its arguments on one line, each followed by a blank, the line ended by CR LF.
#include <cstring>
#include <string>
#include <unistd.h>

#include "fileio.h"

int main(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; i++) {
        line += argv[i];
        line += ' ';
    }
    line += '\n';

    // A line that did not reach its reader is a failure, not a success.
    if (int e = fw::write_all(STDOUT_FILENO, fw::crlf(line)); e != 0) {
        std::string msg = "echo: write error: ";
        msg += std::strerror(e);
        fw::write_all(STDERR_FILENO, fw::crlf(msg + "\n"));
        return 1;
    }
    return 0;
}
