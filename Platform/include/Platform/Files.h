// File-shaped I/O of the simulated machine: CreateFileW, ReadFile,
// WriteFile and DeviceIoControl. Device paths ("\\?\..." and "\\.\...")
// open device interfaces of the machine's device tree.
#pragma once

#include "Platform/Kernel.h"
#include "Platform/Win32.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

// Overlapped I/O is not offered: a non-null overlapped record fails with
// ERROR_NOT_SUPPORTED.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped);

namespace Platform {

// A kernel object that ReadFile, WriteFile and DeviceIoControl act on. Each
// operation returns a Win32 error code (0 for success) and sets its count.
class FileObject : public KernelObject {
public:
    virtual DWORD Read(BYTE* buffer, DWORD length, DWORD& read) = 0;
    virtual DWORD Write(const BYTE* data, DWORD length, DWORD& written) = 0;
    virtual DWORD IoControl(DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& returned) = 0;
};

}  // namespace Platform

// ----- Folders of the machine's file system (Platform/Paths.h maps them)

constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;  // FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];  // always empty
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

// Lists the entries of one folder whose names match the last part of
// `pattern` ("C:\Windows\system32\*.tli"): '*' any run of characters, '?'
// one, compared without regard to case; "*.*" matches every name. Entries
// come in name order; "." and ".." and names longer than MAX_PATH - 1 are
// not listed. No match: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND; no
// such folder: ERROR_PATH_NOT_FOUND.
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
// FALSE with ERROR_NO_MORE_FILES after the last entry.
BOOL FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE search);

// The system folder, "C:\Windows\system32", with the size protocol of the
// folder calls: the length without the zero when it fits in `size` units,
// else the units needed with the zero.
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
