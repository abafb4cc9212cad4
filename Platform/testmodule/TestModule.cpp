// A small shared library the platform's tests load at run time. It carries
// one string of its own, registered while it is loaded.
#include "Platform/Resource.h"

namespace {

Platform::ResourceRegistration RegisterOwnResources() {
    Platform::ResourceTable table;
    table.strings[7] = u"from the test module";
    return Platform::RegisterResourceModule(u"VelmoTestModule.dll", std::move(table));
}

const Platform::ResourceRegistration g_resources = RegisterOwnResources();

}  // namespace

extern "C" int VelmoTestModuleAdd(int a, int b) {
    return a + b;
}
