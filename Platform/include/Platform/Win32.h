// Win32-shaped types, constants and kernel calls of the simulated machine.
// Only what the system's code calls is declared here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using BOOLEAN = std::uint8_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;

using HANDLE = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HWND__;
using HWND = HWND__*;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Longest path of the machine's file functions, in units.
constexpr DWORD MAX_PATH = 260;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD STILL_ACTIVE = 259;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// Device I/O and SetupAPI (device tree).
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;  // a transfer the device did not complete in time
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

// Last error: one value per thread, so that no thread sees another's.
DWORD GetLastError();
void SetLastError(DWORD error);

BOOL CloseHandle(HANDLE handle);

// Events and waits. Names are ignored except that a second CreateEventW of
// the same name opens the same event and reports ERROR_ALREADY_EXISTS.
HANDLE CreateEventW(void* securityAttributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Releases only the threads waiting on the event at that moment and leaves it
// unsignalled; a thread that starts waiting afterwards does not see the
// pulse. Offered for manual-reset events only (others: ERROR_NOT_SUPPORTED).
BOOL PulseEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Counting semaphores: a wait takes one count; releasing past the maximum
// fails with ERROR_TOO_MANY_POSTS and changes nothing. Names are ignored.
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;
HANDLE CreateSemaphoreW(void* securityAttributes, LONG initialCount, LONG maximumCount, LPCWSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// Critical sections are recursive: the owning thread may enter again and
// leaves as many times as it entered.
struct CRITICAL_SECTION {
    void* impl;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Time, through the machine's injectable clock.
DWORD GetTickCount();
std::uint64_t GetTickCount64();
void Sleep(DWORD milliseconds);

// Threads. Each runs detached on a std::thread; its handle is a waitable
// object, signalled once the start routine has returned. The stack size is
// left to the system and no creation flag is supported (ERROR_NOT_SUPPORTED).
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
HANDLE CreateThread(void* securityAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE startAddress,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId();
// A thread cannot be stopped safely from outside here: this always fails
// with ERROR_NOT_SUPPORTED. Threads end by returning (cooperative cancel).
BOOL TerminateThread(HANDLE thread, DWORD exitCode);

// Modules. "Name.dll" is loaded as "libName.so", searched in the program's
// directory first and then on the library path; a resource module registered
// in process or a "Name.rc.txt" file beside the program comes first (see
// Platform/Resource.h). Handles are reference-counted.
constexpr DWORD ERROR_BAD_FORMAT = 11;
HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
// The handle of a module already loaded under that name, without taking a
// reference; null with ERROR_MOD_NOT_FOUND when none is. A null name gives
// the program's own module.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

// Global memory: blocks of bytes named by handles of the kernel's table, so
// a freed or forged handle fails instead of touching freed memory. Moveable
// and fixed blocks behave alike here (nothing ever moves); a block's lock
// count is kept for GlobalUnlock's result.
using HGLOBAL = HANDLE;
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
// Null with ERROR_NOT_ENOUGH_MEMORY when the block cannot be had.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
LPVOID GlobalLock(HGLOBAL memory);
// TRUE while the block is still locked.
BOOL GlobalUnlock(HGLOBAL memory);
std::size_t GlobalSize(HGLOBAL memory);
// Null on success, else the handle.
HGLOBAL GlobalFree(HGLOBAL memory);

namespace Platform {
// Owns a global memory block.
struct GlobalFreer {
    void operator()(HGLOBAL memory) const { GlobalFree(memory); }
};
using GlobalMemory = std::unique_ptr<void, GlobalFreer>;
}  // namespace Platform

// a * b / c in 64 bits, rounded half away from zero; -1 when c is 0 or the
// result does not fit in 32 bits.
int MulDiv(int number, int numerator, int denominator);
