// The console on Windows: standard handles in binary mode, no wildcards expanded, and Ctrl-C,
// Ctrl-Break or a closed console window removing the temporary files being written.
#include <fcntl.h>
#include <io.h>

#include "pending.h"
#include "platform.h"
#include "system.h"
#include "win32.h"

// The programs never expand wildcards, and neither may the C runtime behind their backs.
extern "C" {
int _dowildcard = 0;
}

namespace fw::sys {

namespace {

// The standard handles carry bytes as they are: no CR LF translation, no end at 0x1A. (Every
// program writes through fileio.cpp, whose calls of this file link it in.)
[[gnu::constructor]] void binary_std()
{
    for (int fd : {std_in, std_out, std_err})
        _setmode(fd, _O_BINARY);
}

// Temporary files to remove should the console end the run: an interrupted conversion of a
// large image would otherwise leave gigabytes of litter. They are opened with deletion
// shared, so the handler's thread can remove them while they are open; the process then ends
// as the default handler ends it.
pending_files<wchar_t, MAX_PATH * 4> pending;

BOOL WINAPI remove_pending(DWORD)
{
    pending.remove_all([](int, const wchar_t* path) { ::DeleteFileW(path); });
    return FALSE;
}

}  // namespace

void install_cleanup()
{
    static bool installed = ::SetConsoleCtrlHandler(remove_pending, TRUE);
    (void)installed;
}

void watch(const outfile& f) { pending.watch(win32::wide(f.tmp)); }

void unwatch(const outfile& f) { pending.unwatch(win32::wide(f.tmp)); }

// The handler runs on a thread of its own, which nothing here can hold back; it removes only
// files that are opened with deletion shared, and a temporary file is known to it once made.
void hold_interrupts() {}

void release_interrupts() {}

}  // namespace fw::sys
