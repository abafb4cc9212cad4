// Tests only: the secondary dialogs' resources, joined with the main
// dialog's strings they show, as the current resource module of the test.
#pragma once

#include "SecondaryDialogsResources.h"

#include "Mfc/AfxWin.h"
#include "Platform/Resource.h"

#include <string>

namespace SecondaryDialogsTest {

inline constexpr char kMainDialogStrings[] = R"rc(
STRING 10014 "The network key must be 5 characters or 10 hexadecimal digits in order to use 64-bit WEP, or 13 characters or 26 hexadecimal digits to use 128-bit WEP."
)rc";

inline AFX_MODULE_STATE* ModuleState() {
    static AFX_MODULE_STATE state(
        u"DessmarDialogsTest.dll",
        Platform::ParseResourceText(std::string(SecondaryDialogsResourceText()) + kMainDialogStrings,
                                    "test resources"));
    return &state;
}

// Runs a test under the dialogs' module state.
class ResourceScope {
public:
    ResourceScope() : previous_(AfxSetModuleState(ModuleState())) {}
    ~ResourceScope() { AfxSetModuleState(previous_); }
    ResourceScope(const ResourceScope&) = delete;
    ResourceScope& operator=(const ResourceScope&) = delete;

private:
    AFX_MODULE_STATE* previous_;
};

}  // namespace SecondaryDialogsTest
