#include "DrelanConfigResources.h"

namespace {

// English; another language's strings are the same ids plus its offset in
// hundreds, and fall back to these.
constexpr char kResources[] = R"rc(
STRING 1 "Profile Settings"
STRING 2 "Enable &Bluetooth printing"
STRING 3 "&Device Name"
STRING 4 "(Recommended name length is at least 13 characters.)"
STRING 5 "PIN re&quired for use"
STRING 6 "&PIN"
STRING 7 "Velmo &Linkwise enabled"
STRING 8 "Paired devices:"
STRING 9 "&Remove Pairing"
STRING 10 "Paired device"
STRING 11 "Please enter a device name."
STRING 12 "The device name  is too long. Please enter a shorter name."
STRING 13 "Your PIN must be four digits long."
STRING 14 "Your PIN can only contain the numeric characters 0-9."
STRING 16 "The device name contains invalid characters."
STRING 17 "Unable to communicate with the printer. Please check your cable connections and try again."
STRING 18 "The printer refused the settings with an error. Please try again."

DIALOG 100 330 190 "" CHILD
    GROUPBOX 1003 "Profile Settings" 7 7 316 176
    CHECKBOX 1035 "Enable &Bluetooth printing" 15 20 200 10
    LTEXT 1036 "&Device Name" 15 37 60 8
    EDITTEXT 12010 "" 80 35 150 12
    LTEXT 1001 "(Recommended name length is at least 13 characters.)" 80 50 230 8
    CHECKBOX 12047 "PIN re&quired for use" 15 64 200 10
    LTEXT 1034 "&PIN" 15 81 60 8
    EDITTEXT 12023 "" 80 79 60 12
    CHECKBOX 12046 "Velmo &Linkwise enabled" 15 97 200 10
    LTEXT 1000 "Paired devices:" 15 113 100 8
    LISTVIEW 1044 "" 15 124 230 52 SINGLESEL SHOWSELALWAYS
    PUSHBUTTON 1002 "&Remove Pairing" 252 124 64 14
END
)rc";

}  // namespace

Platform::ResourceTable DrelanConfigResources() {
    return Platform::ParseResourceText(kResources, "Corrani resources");
}
