#include "Windows/Common/ResourceDLL.h"

#include "Platform/AfxResource.h"
#include "Platform/Resource.h"
#include "Tessary/TSException.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace {

std::atomic<HINSTANCE> g_library{nullptr};
// Changed only by Reset, which no Load runs beside.
std::u16string g_libraryName = u"ORVRES.DLL";

}  // namespace

ResourceDLL::~ResourceDLL() = default;

bool ResourceDLL::Load() {
    if (g_library.load() != nullptr) return true;
    HINSTANCE loaded = LoadLibraryW(g_libraryName.c_str());
    if (loaded == nullptr) return false;
    HINSTANCE expected = nullptr;
    // Two threads may load at once: the first one's handle is kept and the
    // other's reference given back.
    if (!g_library.compare_exchange_strong(expected, loaded)) FreeLibrary(loaded);
    return true;
}

int ResourceDLL::LoadString(unsigned id, WCHAR* buffer, int sizeInUnits) {
    return LoadStringW(g_library.load(), id, buffer, sizeInUnits);
}

HINSTANCE ResourceDLL::Handle() {
    return g_library.load();
}

void ResourceDLL::Reset(std::u16string_view libraryName) {
    if (HINSTANCE library = g_library.exchange(nullptr)) FreeLibrary(library);
    g_libraryName = libraryName;
}

StResourceString::StResourceString(unsigned id) {
    std::fill(std::begin(buffer_), std::end(buffer_), WCHAR(0));
    ResourceDLL library;
    library.Load();
    if (library.LoadString(id, buffer_, kSize) == 0) {
        TS_THROW(Tessary::TSException, "Invalid string ID passed to StResourceString constructor");
    }
}

ResourceDLLScope::ResourceDLLScope() {
    ResourceDLL().Load();
    saved_ = AfxGetResourceHandle();
    HINSTANCE library = ResourceDLL::Handle();
    if (saved_ != nullptr && library != nullptr) AfxSetResourceHandle(library);
}

ResourceDLLScope::~ResourceDLLScope() {
    if (saved_ != nullptr) AfxSetResourceHandle(saved_);
}
