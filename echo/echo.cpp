// echo: prints its arguments on one line, each followed by a blank, the line ended by CR LF.
#include <string>

#include "fileio.h"
#include "platform.h"

int main(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; i++) {
        line += argv[i];
        line += ' ';
    }
    line += '\n';

    // A line that did not reach its reader is a failure, not a success.
    if (int e = fw::write_text(fw::std_out, line); e != 0) {
        std::string msg = "echo: write error: ";
        msg += fw::error_text(e);
        fw::write_text(fw::std_err, msg + "\n");
        return 1;
    }
    return 0;
}
