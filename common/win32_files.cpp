// Files on Windows: Win32 handles behind C runtime descriptors for the programs, and the
// primitives of the output-file protocol.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

#include "fileio.h"
#include "platform.h"
#include "system.h"
#include "win32.h"

namespace fw {

using namespace win32;

namespace {

// One read or write at a time stays below 4 GiB, what a DWORD can count.
constexpr std::size_t chunk = std::size_t{1} << 30;

bool is_disk(HANDLE h) { return ::GetFileType(h) == FILE_TYPE_DISK; }

// The volume and the file index tell one file from another under any name, case included.
file_id id_from(const BY_HANDLE_FILE_INFORMATION& bi)
{
    return {bi.dwVolumeSerialNumber, std::uint64_t{bi.nFileIndexHigh} << 32 | bi.nFileIndexLow};
}

int fill(HANDLE h, file_info& fi)
{
    fi = file_info{};
    if (!is_disk(h))
        return 0;  // a console, a pipe, NUL: no size
    BY_HANDLE_FILE_INFORMATION bi;
    if (!::GetFileInformationByHandle(h, &bi))
        return last_errno();
    bool dir = bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    fi.type = dir ? kind::directory : kind::regular;
    fi.size = std::uint64_t{bi.nFileSizeHigh} << 32 | bi.nFileSizeLow;
    return 0;
}

bool is_directory(HANDLE h)
{
    file_info fi;
    return fill(h, fi) == 0 && fi.type == kind::directory;
}

// A synchronous handle moves its file position even for a read or write at an offset: put
// it back afterwards, as pread and pwrite leave it.
struct position_kept {
    HANDLE h;
    LARGE_INTEGER at{};
    explicit position_kept(HANDLE handle) : h(handle)
    {
        ::SetFilePointerEx(h, LARGE_INTEGER{}, &at, FILE_CURRENT);
    }
    ~position_kept() { ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN); }
};

OVERLAPPED at_offset(std::uint64_t at)
{
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(at);
    o.OffsetHigh = static_cast<DWORD>(at >> 32);
    return o;
}

long long read_at(int fd, void* buf, std::size_t n, OVERLAPPED* o)
{
    HANDLE h = handle(fd);
    DWORD got = 0;
    if (::ReadFile(h, buf, static_cast<DWORD>(std::min(n, chunk)), &got, o))
        return got;
    DWORD code = ::GetLastError();
    // The writer of a pipe went away, or an offset lies past the end: that is the end.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
        return 0;
    errno = is_directory(h) ? EISDIR : errno_from(code);
    return -1;
}

// Where a new file beside path is named: its directory with a separator, "C:" for "C:name"
// (the current directory of drive C), or nothing for a name in the current directory.
std::wstring dir_of(const std::wstring& path)
{
    auto sep = path.find_last_of(L"/\\");
    if (sep != std::wstring::npos)
        return path.substr(0, sep + 1);
    return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L"";
}

// A name that stands for a device (NUL, CON, COM1, \\.\pipe\x): the system gives it the
// form \\.\name.
bool device_name(const std::wstring& name)
{
    std::array<wchar_t, 16> full{};
    DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    return (n > 4 && n < full.size() && std::wstring_view(full.data(), 4) == L"\\\\.\\") ||
           name.starts_with(L"\\\\.\\") || name.starts_with(L"//./");
}

// The file that a write through name changes: a symbolic link is followed, so that the
// rename replaces the file it leads to and not the link itself.
std::wstring final_name(const std::wstring& name)
{
    HANDLE h = open_existing(name, 0);
    if (h == INVALID_HANDLE_VALUE)
        return name;
    std::wstring out(32768, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(h);
    if (n == 0 || n >= out.size())
        return name;
    out.resize(n);
    return out;
}

}  // namespace

namespace win32 {

HANDLE handle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

int descriptor(HANDLE h)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

HANDLE open_existing(const std::wstring& name, DWORD access)
{
    return ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace win32

int open_read(const char* path, bool)
{
    if (*path == '\0') {
        errno = ENOENT;
        return -1;
    }
    HANDLE h = open_existing(wide(path), GENERIC_READ);
    if (h == INVALID_HANDLE_VALUE) {
        last_errno();
        return -1;
    }
    return descriptor(h);
}

void close(int fd) { _close(fd); }

long long read(int fd, void* buf, std::size_t n) { return read_at(fd, buf, n, nullptr); }

long long pread(int fd, void* buf, std::size_t n, std::uint64_t at)
{
    position_kept keep(handle(fd));
    OVERLAPPED o = at_offset(at);
    return read_at(fd, buf, n, &o);
}

long long seek(int fd, long long off, from where)
{
    HANDLE h = handle(fd);
    // Pipes and consoles have no position, though the system may not say so.
    if (!is_disk(h)) {
        errno = ESPIPE;
        return -1;
    }
    DWORD method = where == from::start ? FILE_BEGIN : where == from::here ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER to, now;
    to.QuadPart = off;
    if (!::SetFilePointerEx(h, to, &now, method))
        return last_errno(), -1;
    return now.QuadPart;
}

int info(int fd, file_info& fi) { return fill(handle(fd), fi); }

bool id_of(int fd, file_id& id)
{
    BY_HANDLE_FILE_INFORMATION bi;
    HANDLE h = handle(fd);
    if (!is_disk(h) || !::GetFileInformationByHandle(h, &bi))
        return false;
    id = id_from(bi);
    return true;
}

bool id_of(const std::string& path, file_id& id)
{
    if (path.empty())
        return false;
    HANDLE h = open_existing(wide(path), 0);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION bi;
    bool ok = is_disk(h) && ::GetFileInformationByHandle(h, &bi);
    ::CloseHandle(h);
    if (ok)
        id = id_from(bi);
    return ok;
}

// Windows has no copy between files that keeps the bytes out of the process.
long long copy_range(int, int, std::size_t) { return 0; }

unsigned char* big_alloc(std::size_t n) { return static_cast<unsigned char*>(std::malloc(n)); }

void big_free(unsigned char* p) { std::free(p); }

// Windows keeps a mapped file from being cut short, so nothing can end the run halfway.
const unsigned char* map_input(int fd, std::size_t n, std::string_view)
{
    HANDLE m = CreateFileMappingW(win32::handle(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!m)
        return nullptr;
    void* p = MapViewOfFile(m, FILE_MAP_READ, 0, 0, n);
    CloseHandle(m);  // the view keeps the mapping
    return static_cast<const unsigned char*>(p);
}

void unmap_input(const unsigned char* p, std::size_t) { UnmapViewOfFile(p); }

namespace sys {

namespace {

// The descriptor for h, a handle just opened: 0, or the errno of the open or the descriptor.
int opened(HANDLE h, int& fd)
{
    if (h == INVALID_HANDLE_VALUE)
        return last_errno();
    fd = descriptor(h);
    return fd < 0 ? errno : 0;
}

// Opens name for writing, sharing reading and writing, without cutting it.
HANDLE open_write(const std::string& name, DWORD disposition)
{
    return ::CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

long long write_some(int fd, std::string_view s, const std::uint64_t* at)
{
    HANDLE h = handle(fd);
    DWORD put = 0;
    auto n = static_cast<DWORD>(std::min(s.size(), chunk));
    if (!at) {
        if (!::WriteFile(h, s.data(), n, &put, nullptr))
            return last_errno(), -1;
        return put;
    }
    position_kept keep(h);
    OVERLAPPED o = at_offset(*at);
    if (!::WriteFile(h, s.data(), n, &put, &o))
        return last_errno(), -1;
    return put;
}

// A pipe or a console has no size of its own, and a console would wait for a read; NUL is
// empty at once.
bool empty_device(int fd)
{
    HANDLE h = handle(fd);
    DWORD mode;
    if (::GetFileType(h) != FILE_TYPE_CHAR || ::GetConsoleMode(h, &mode))
        return false;
    char probe;
    DWORD got = 0;
    return ::ReadFile(h, &probe, 1, &got, nullptr) && got == 0;
}

int examine(const std::string& path, target& t)
{
    std::wstring name = wide(path);
    t.dest = path;
    // A device, or anything that is not a disk file, is written directly: it cannot be
    // replaced.
    t.direct = device_name(name);
    HANDLE old = t.direct ? INVALID_HANDLE_VALUE : open_existing(name, 0);
    t.exists = old != INVALID_HANDLE_VALUE;
    // A loop of links or a path through a file: refused as a create is.
    if (!t.direct && !t.exists) {
        DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            return errno_from(code);
    }
    BY_HANDLE_FILE_INFORMATION bi{};
    if (t.exists) {
        t.direct = !is_disk(old);
        bool known = !t.direct && ::GetFileInformationByHandle(old, &bi);
        ::CloseHandle(old);
        if (known && (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return EISDIR;
    }
    if (t.direct)
        return 0;
    // A plain create would fail on a file it may not write; so do we.
    if (t.exists && (bi.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return EACCES;
    if (t.exists)
        t.dest = utf8(final_name(name));
    t.linked = t.exists && bi.nNumberOfLinks > 1;
    return 0;
}

int open_direct(const std::string& path, int& fd) { return opened(open_write(path, OPEN_EXISTING), fd); }

// The temporary file is named by its whole path.
int open_directory(outfile&) { return 0; }

int create_new(outfile& f, std::string_view name)
{
    std::wstring tmp = dir_of(wide(f.dest)) + wide(name);
    // Deletion is shared so that an interrupted run can still remove the file.
    HANDLE h = ::CreateFileW(tmp.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return last_errno();
    f.fd = descriptor(h);
    if (f.fd < 0) {
        int e = errno;
        ::DeleteFileW(tmp.c_str());
        return e;
    }
    f.tmp = utf8(tmp);
    return 0;
}

// A new file gets the rights of its directory, as a plain create gives them.
int new_file_mode(int) { return 0; }

// The old file's rights are its directory's too; only its other links keep it in place.
bool take_over(int, const target&) { return true; }

bool replace(const outfile& f)
{
    return ::MoveFileExW(wide(f.tmp).c_str(), wide(f.dest).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

int open_in_place(const std::string& dest, int& fd) { return opened(open_write(dest, OPEN_ALWAYS), fd); }

int open_temporary(const outfile& f, int& fd)
{
    return opened(open_existing(wide(f.tmp), GENERIC_READ), fd);
}

// The lock goes with the handle when it is closed.
int lock(int fd)
{
    OVERLAPPED whole{};
    if (!::LockFileEx(handle(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        return last_errno();
    return 0;
}

// The room is found as the copy writes.
int reserve(int, std::uint64_t) { return 0; }

int truncate(int fd, std::uint64_t size)
{
    HANDLE h = handle(fd);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h))
        return last_errno();
    return 0;
}

int close_file(int fd) { return _close(fd) != 0 ? errno : 0; }

void remove_temporary(const outfile& f) { ::DeleteFileW(wide(f.tmp).c_str()); }

unsigned process_id() { return static_cast<unsigned>(::GetCurrentProcessId()); }

}  // namespace sys

}  // namespace fw
