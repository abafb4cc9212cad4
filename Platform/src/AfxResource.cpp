#include "Platform/AfxResource.h"

#include "Platform/Resource.h"

#include <atomic>

namespace {

std::atomic<HINSTANCE>& ResourceHandle() {
    static std::atomic<HINSTANCE> handle{Platform::MainModuleHandle()};
    return handle;
}

}  // namespace

HINSTANCE AfxGetResourceHandle() {
    return ResourceHandle().load();
}

void AfxSetResourceHandle(HINSTANCE resource) {
    ResourceHandle().store(resource);
}
