// The platform interface and the output files of fileio.h on Windows: Win32 handles behind C
// runtime descriptors, UTF-8 names opened through their UTF-16 form, error codes turned into
// errno values with the texts of the kit's Linux build.
#include "fileio.h"
#include "pending.h"
#include "platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

// The programs never expand wildcards, and neither may the C runtime behind their backs.
extern "C" {
int _dowildcard = 0;
}

namespace fw {

namespace {

// The standard handles carry bytes as they are: no CR LF translation, no end at 0x1A.
[[gnu::constructor]] void binary_std()
{
    for (int fd : {std_in, std_out, std_err})
        _setmode(fd, _O_BINARY);
}

// One read or write at a time stays below 4 GiB, what a DWORD can count.
constexpr std::size_t chunk = std::size_t{1} << 30;

struct errno_of {
    DWORD code;
    int e;
};

// Win32 error codes as the C runtime maps them, and a few it leaves at EINVAL.
constexpr errno_of errno_map[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},       {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},        {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_NET_NAME, ENOENT},         {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_INVALID_NAME, ENOENT},         {ERROR_NO_MORE_FILES, ENOENT},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},  {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_NETWORK_ACCESS_DENIED, EACCES}, {ERROR_CANNOT_MAKE, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},         {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_NOT_ENOUGH_QUOTA, ENOMEM},     {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},       {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_BROKEN_PIPE, EPIPE},           {ERROR_NO_DATA, EPIPE},
    {ERROR_DISK_FULL, ENOSPC},            {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_FILE_TOO_LARGE, EFBIG},        {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_DIRECTORY, ENOTDIR},           {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_BUFFER_OVERFLOW, ENAMETOOLONG}, {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
    {ERROR_NEGATIVE_SEEK, EINVAL},        {ERROR_SEEK_ON_DEVICE, ESPIPE},
    {ERROR_READ_FAULT, EIO},              {ERROR_WRITE_FAULT, EIO},
    {ERROR_CRC, EIO},                     {ERROR_NOT_READY, EIO},
    {ERROR_IO_DEVICE, EIO},               {ERROR_BUSY, EBUSY},
};

int errno_from(DWORD code)
{
    for (const auto& m : errno_map)
        if (m.code == code)
            return m.e;
    return EINVAL;
}

// errno from the last Win32 error, also set in errno itself.
int last_errno()
{
    int e = errno_from(::GetLastError());
    errno = e;
    return e;
}

struct errno_text {
    int e;
    const char* text;
};

constexpr errno_text texts[] = {
    {EPERM, "Operation not permitted"},
    {ENOENT, "No such file or directory"},
    {EINTR, "Interrupted system call"},
    {EIO, "Input/output error"},
    {E2BIG, "Argument list too long"},
    {EBADF, "Bad file descriptor"},
    {EAGAIN, "Resource temporarily unavailable"},
    {ENOMEM, "Cannot allocate memory"},
    {EACCES, "Permission denied"},
    {EBUSY, "Device or resource busy"},
    {EEXIST, "File exists"},
    {EXDEV, "Invalid cross-device link"},
    {ENOTDIR, "Not a directory"},
    {EISDIR, "Is a directory"},
    {EINVAL, "Invalid argument"},
    {EMFILE, "Too many open files"},
    {EFBIG, "File too large"},
    {ENOSPC, "No space left on device"},
    {ESPIPE, "Illegal seek"},
    {EROFS, "Read-only file system"},
    {EPIPE, "Broken pipe"},
    {ENAMETOOLONG, "File name too long"},
    {ENOTEMPTY, "Directory not empty"},
    {ELOOP, "Too many levels of symbolic links"},
};

// Names are UTF-8 on every system; Windows takes them in UTF-16.
std::wstring wide(std::string_view s)
{
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string utf8(const std::wstring& w)
{
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
    return s;
}

HANDLE handle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A descriptor for h, or -1 with errno set (h is closed then).
int descriptor(HANDLE h)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

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

// Opens an existing name with the given access; directories too. INVALID_HANDLE_VALUE with
// the Win32 error kept when it cannot.
HANDLE open_existing(const std::wstring& name, DWORD access)
{
    return ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

// A name in the directory of dest that no file has yet, created and open for writing.
HANDLE create_temporary(const std::wstring& dest, std::wstring& tmp)
{
    static constexpr wchar_t letters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned seed = static_cast<unsigned>(::GetTickCount()) ^ (::GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < 100; attempt++) {
        tmp = dir_of(dest) + L".fwkit-";
        for (int k = 0; k < 6; k++) {
            seed = seed * 1103515245u + 12345u;
            tmp += letters[(seed >> 16) % 36];
        }
        // Deletion is shared so that an interrupted run can still remove the file.
        HANDLE h = ::CreateFileW(tmp.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
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

// Copies the finished temporary file into dest, which keeps its identity, links and rights.
// The old bytes are overwritten before the file is cut to its new length, so a disk that is
// nearly full needs room only for the growth.
int copy_in_place(const std::wstring& tmp, const std::wstring& dest)
{
    HANDLE from = open_existing(tmp, GENERIC_READ);
    if (from == INVALID_HANDLE_VALUE)
        return last_errno();
    HANDLE to = ::CreateFileW(dest.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (to == INVALID_HANDLE_VALUE) {
        int e = last_errno();
        ::CloseHandle(from);
        return e;
    }
    // Another run that rewrites the same file in place (make -j with two rules for one
    // output) copies its bytes before or after ours, never among them.
    OVERLAPPED whole{};
    if (!::LockFileEx(to, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        int e = last_errno();
        ::CloseHandle(to);
        ::CloseHandle(from);
        return e;
    }
    int e = 0;
    std::string buf(std::size_t{1} << 20, '\0');
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(from, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) {
            e = last_errno();
            break;
        }
        if (got == 0)
            break;
        DWORD put = 0;
        if (!::WriteFile(to, buf.data(), got, &put, nullptr)) {
            e = last_errno();
            break;
        }
        if (put != got) {
            e = ENOSPC;
            break;
        }
    }
    if (e == 0 && !::SetEndOfFile(to))
        e = last_errno();
    ::UnlockFileEx(to, 0, MAXDWORD, MAXDWORD, &whole);
    if (!::CloseHandle(to) && e == 0)
        e = last_errno();
    ::CloseHandle(from);
    return e;
}

// Temporary files to remove should Ctrl-C, Ctrl-Break or a closed console window end the run:
// an interrupted conversion of a large image would otherwise leave gigabytes of litter. They
// are opened with deletion shared, so the handler's thread can remove them while they are
// open; the process then ends as the default handler ends it.
pending_files<wchar_t, MAX_PATH * 4> pending;

BOOL WINAPI remove_pending(DWORD)
{
    pending.remove_all([](int, const wchar_t* path) { ::DeleteFileW(path); });
    return FALSE;
}

void watch(const std::wstring& tmp)
{
    static bool installed = ::SetConsoleCtrlHandler(remove_pending, TRUE);
    (void)installed;
    pending.watch(tmp);
}

void remove_tmp(outfile& f)
{
    if (f.tmp.empty())
        return;
    std::wstring tmp = wide(f.tmp);
    ::DeleteFileW(tmp.c_str());
    pending.unwatch(tmp);
    f.tmp.clear();
}

}  // namespace

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

int write_all(int fd, std::string_view s)
{
    HANDLE h = handle(fd);
    while (!s.empty()) {
        DWORD put = 0;
        if (!::WriteFile(h, s.data(), static_cast<DWORD>(std::min(s.size(), chunk)), &put, nullptr))
            return last_errno();
        // A write that takes nothing would be tried for ever: the device is as good as full.
        if (put == 0)
            return ENOSPC;
        s.remove_prefix(put);
    }
    return 0;
}

int pwrite_all(int fd, std::string_view s, std::uint64_t at)
{
    HANDLE h = handle(fd);
    position_kept keep(h);
    while (!s.empty()) {
        OVERLAPPED o = at_offset(at);
        DWORD put = 0;
        if (!::WriteFile(h, s.data(), static_cast<DWORD>(std::min(s.size(), chunk)), &put, &o))
            return last_errno();
        if (put == 0)
            return ENOSPC;
        s.remove_prefix(put);
        at += put;
    }
    return 0;
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

int in_check(int fd, input& in)
{
    HANDLE h = handle(fd);
    if (is_disk(h)) {
        BY_HANDLE_FILE_INFORMATION bi;
        if (!::GetFileInformationByHandle(h, &bi))
            return last_errno();
        in.id = id_from(bi);
        if (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return EISDIR;
        in.size = std::uint64_t{bi.nFileSizeHigh} << 32 | bi.nFileSizeLow;
        return 0;
    }
    // A pipe or a console has no size of its own, and a console would wait for a read; NUL
    // is empty at once and reads as an empty file.
    DWORD mode;
    if (::GetFileType(h) != FILE_TYPE_CHAR || ::GetConsoleMode(h, &mode))
        return ESPIPE;
    char probe;
    DWORD got = 0;
    if (!::ReadFile(h, &probe, 1, &got, nullptr) || got != 0)
        return ESPIPE;
    in.size = 0;
    return 0;
}

// Windows has no names that stand for another process's descriptors.
bool descriptor_name(std::string_view) { return false; }

long long copy_range(int, int, std::size_t) { return 0; }

unsigned char* big_alloc(std::size_t n) { return static_cast<unsigned char*>(std::malloc(n)); }

void big_free(unsigned char* p) { std::free(p); }

std::string error_text(int e)
{
    for (const auto& t : texts)
        if (t.e == e)
            return t.text;
    return "Unknown error " + std::to_string(e);
}

bool reserved_name(std::string_view name)
{
    constexpr auto npos = std::string_view::npos;
    // Bytes that are not UTF-8 have no UTF-16 form: the file would get another name.
    int n = static_cast<int>(name.size());
    if (n > 0 && ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), n, nullptr, 0) == 0)
        return true;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != npos)
            return true;
    // The system drops a trailing dot or blank, so the file would get another name.
    if (!name.empty() && (name.back() == '.' || name.back() == ' '))
        return true;
    // A device name stays one with any extension and with blanks before it.
    std::string base(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (std::string_view dev : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == dev)
            return true;
    if (base.size() >= 4 && (base.starts_with("COM") || base.starts_with("LPT"))) {
        std::string_view digit = std::string_view(base).substr(3);
        if ((digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') ||
            digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3")
            return true;
    }
    return false;
}

int out_open(outfile& f, const std::string& path)
{
    f = outfile{};
    f.path = path;
    f.dest = path;
    if (path.empty())
        return ENOENT;
    std::wstring name = wide(path);

    // A device, or anything that is not a disk file, is written directly: it cannot be
    // replaced.
    bool direct = device_name(name);
    HANDLE old = direct ? INVALID_HANDLE_VALUE : open_existing(name, 0);
    bool exists = old != INVALID_HANDLE_VALUE;
    // A loop of links or a path through a file: refused as a create is.
    if (!direct && !exists) {
        DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            return errno_from(code);
    }
    BY_HANDLE_FILE_INFORMATION bi{};
    if (exists) {
        direct = !is_disk(old);
        bool known = !direct && ::GetFileInformationByHandle(old, &bi);
        ::CloseHandle(old);
        if (known && (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return EISDIR;
    }
    if (direct) {
        HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return last_errno();
        f.fd = descriptor(h);
        return f.fd < 0 ? errno : 0;
    }
    // A plain create would fail on a file it may not write; so do we.
    if (exists && (bi.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return EACCES;

    std::wstring dest = exists ? final_name(name) : name, tmp;
    HANDLE h = create_temporary(dest, tmp);
    // No temporary file, no run, as on every system.
    if (h == INVALID_HANDLE_VALUE)
        return last_errno();
    watch(tmp);
    f.fd = descriptor(h);
    f.dest = utf8(dest);
    f.tmp = utf8(tmp);
    if (f.fd < 0) {
        int e = errno;
        remove_tmp(f);
        return e;
    }
    // A rename would split the old file from its other links: it is rewritten in place.
    f.in_place = exists && bi.nNumberOfLinks > 1;
    return 0;
}

int out_commit(outfile& f)
{
    int e = f.fd >= 0 && _close(f.fd) != 0 ? errno : 0;
    f.fd = -1;
    if (f.tmp.empty())
        return e;
    if (e != 0) {
        remove_tmp(f);
        return e;
    }
    std::wstring tmp = wide(f.tmp), dest = wide(f.dest);
    // A refused replacement (another program holds the old file open without sharing its
    // deletion) leaves the old file where it is; it still receives the output, as a plain
    // write would give it.
    if (!f.in_place &&
        ::MoveFileExW(tmp.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        pending.unwatch(tmp);
        f.tmp.clear();
        return 0;
    }
    e = copy_in_place(tmp, dest);
    remove_tmp(f);
    return e;
}

void out_abort(outfile& f)
{
    if (f.fd >= 0)
        _close(f.fd);
    f.fd = -1;
    remove_tmp(f);
}

}  // namespace fw
