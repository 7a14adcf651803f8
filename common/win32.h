// What the Windows files of the platform layer share: names in UTF-16, Win32 error codes as
// errno values, handles behind C runtime descriptors.
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

namespace fw::win32 {

// Names are UTF-8 on every system; Windows takes them in UTF-16.
std::wstring wide(std::string_view s);
std::string utf8(const std::wstring& w);

int errno_from(DWORD code);

// errno from the last Win32 error, also set in errno itself.
int last_errno();

HANDLE handle(int fd);

// A descriptor for h, or -1 with errno set (h is closed then).
int descriptor(HANDLE h);

// Opens an existing name with the given access; directories too. INVALID_HANDLE_VALUE with
// the Win32 error kept when it cannot.
HANDLE open_existing(const std::wstring& name, DWORD access);

}  // namespace fw::win32
