// The localized resource library ORVRES.DLL: found once per process, read
// by string id, and made the user interface's resource source for a block.
#pragma once

#include "Platform/Win32.h"
#include "Tessary/NoCopy.h"

#include <string_view>

// Stateless accessor; every instance shares the one process-wide handle.
class ResourceDLL {
public:
    virtual ~ResourceDLL();

    // True when the library is loaded; a failed load is tried again at the
    // next call.
    bool Load();
    // LoadStringW on the library, or on the program itself when the library
    // was never loaded: the units copied, 0 when the string does not exist.
    int LoadString(unsigned id, WCHAR* buffer, int sizeInUnits);

    // The loaded library, null before the first successful Load.
    static HINSTANCE Handle();
    // Tests only: frees the library so that the next Load looks for it
    // again, under `libraryName`.
    static void Reset(std::u16string_view libraryName = u"ORVRES.DLL");
};

// A string of the resource library, loaded when made.
class StResourceString {
public:
    static constexpr int kSize = 1024;

    // Throws Tessary::TSException when the id names no string.
    explicit StResourceString(unsigned id);
    operator const WCHAR*() const { return buffer_; }

private:
    WCHAR buffer_[kSize];
};

// Makes the resource library the current resource source for the life of
// the scope, when it is loaded.
class ResourceDLLScope : private Tessary::NoCopy {
public:
    ResourceDLLScope();
    ~ResourceDLLScope();

private:
    HINSTANCE saved_;
};
