#include "ConfigWizardResources.h"

#include "WizardPictures.h"

namespace {

// English; other languages are the same ids plus the language offset, and
// fall back to these where they have no text of their own.
constexpr char kResources[] = R"rc(
# Application title
STRING 57344 "Velmo Wireless Printer Configuration Wizard"

# Network list: column captions and cell texts
STRING 10022 "WiFi Mode"
STRING 10023 "SSID"
STRING 10024 "Channel"
STRING 10025 "Security"
STRING 10026 "Infrastructure"
STRING 10027 "Ad-hoc"
STRING 10038 "None"
STRING 10039 "Secure"

# Rename profile
STRING 10031 "There is already a profile with the name \"%s\".  Please enter a new profile name."
STRING 10032 "The profile name  is too long. Please enter a shorter name."
STRING 10036 "Please enter a profile name."
STRING 10076 "The profile name contains invalid characters."
STRING 10091 "OK"
STRING 10092 "Cancel"
STRING 10095 "Rename Profile"
STRING 10096 "New Name :"
STRING 10110 "Velmo Wireless Configuration Utility"

DIALOG 12106 239 49 "Rename Profile"
    LTEXT 13138 "New Name :" 7 9 48 8
    EDITTEXT 13001 "" 58 7 174 12
    DEFPUSHBUTTON 1 "OK" 128 28 50 14
    PUSHBUTTON 2 "Cancel" 182 28 50 14
END
)rc";

}  // namespace

Platform::ResourceTable ElvintorResources() {
    auto table = Platform::ParseResourceText(kResources, "Elvintor resources");
    const auto scanning = ScanningAnimation();
    const auto searching = SearchingAnimation();
    table.binaries[{u"GIF", 110}].assign(scanning.begin(), scanning.end());
    table.binaries[{u"GIF", 111}].assign(searching.begin(), searching.end());
    return table;
}
