// Errors and names on Windows: Win32 error codes as errno values with the texts of the kit's
// Linux build, names in UTF-16, and the names the system keeps for devices.
#include <cerrno>

#include "fileio.h"
#include "platform.h"
#include "win32.h"

namespace fw {

namespace {

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

}  // namespace

namespace win32 {

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

int errno_from(DWORD code)
{
    for (const auto& m : errno_map)
        if (m.code == code)
            return m.e;
    return EINVAL;
}

int last_errno()
{
    int e = errno_from(::GetLastError());
    errno = e;
    return e;
}

}  // namespace win32

std::string error_text(int e)
{
    for (const auto& t : texts)
        if (t.e == e)
            return t.text;
    return "Unknown error " + std::to_string(e);
}

// Windows has no names that stand for another process's descriptors.
bool descriptor_name(std::string_view) { return false; }

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

}  // namespace fw
