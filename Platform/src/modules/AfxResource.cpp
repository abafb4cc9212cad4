#include "Platform/AfxResource.h"

#include "Platform/Resource.h"

namespace Platform {
namespace {

thread_local ResourceSlot* t_current = nullptr;

ResourceSlot& Current() {
    return t_current != nullptr ? *t_current : ProgramResourceSlot();
}

}  // namespace

ResourceSlot& ProgramResourceSlot() {
    // Never destroyed: library code may look resources up during exit.
    static auto* slot = new ResourceSlot(MainModuleHandle());
    return *slot;
}

ResourceSlot* SwapThreadResourceSlot(ResourceSlot* slot) {
    ResourceSlot* previous = &Current();
    t_current = slot;
    return previous;
}

}  // namespace Platform

HINSTANCE AfxGetResourceHandle() {
    return Platform::Current().Get();
}

void AfxSetResourceHandle(HINSTANCE resource) {
    Platform::Current().Set(resource);
}
