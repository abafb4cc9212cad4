// Version information of a module. A module's version resource is a text
// compiled into it: the binary resource of type RT_VERSION (16), id 1, of
// its resource table (Platform/Resource.h), UTF-8 lines "Name=Value" such
// as "FileVersion=1.0.0.1". Every name is answered under
// "\StringFileInfo\<language and code page>\Name" for any eight hex digits.
#pragma once

#include "Platform/Resource.h"

inline const LPWSTR RT_VERSION = MAKEINTRESOURCEW(16);

// The module is found by file name ("Gorlith.dll", a path ending in it, or
// its shared library "libGorlith.so") among the loaded modules. 0 with
// ERROR_RESOURCE_DATA_NOT_FOUND when it is not loaded or has no version
// text, ERROR_INVALID_DATA when a line of the text has no '='.
DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle);
// FALSE with ERROR_INSUFFICIENT_BUFFER when `size` is below what the size
// call gave.
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD size, LPVOID data);
// *value points into `block` at the zero-terminated value, *length counts
// its units with the zero. FALSE when the block has no such name.
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* value, UINT* length);

namespace Platform {

// Puts a version text into a module's resource table.
void AddVersionText(ResourceTable& table, std::string_view text);

}  // namespace Platform
