#include "SecondaryDialogsResources.h"

namespace {

// English; the dialogs set every caption at run time from these ids plus the
// language offset. The key message 10014 is one of the main dialog's and
// lives in its table.
constexpr char kResources[] = R"rc(
STRING 10012 "The network key and confirmation field do not match."
STRING 10021 "WEP"
STRING 10038 "None"
STRING 10090 "Find Networks"
STRING 10091 "OK"
STRING 10092 "Cancel"
STRING 10093 "Local Networks :"
STRING 10094 "&Rescan"
STRING 10097 "Advanced Network Settings"
STRING 10098 "Obtain an IP address &automatically"
STRING 10099 "Use the &following IP address settings :"
STRING 10100 "&IP Address :"
STRING 10101 "Subnet &Mask :"
STRING 10102 "Default &Gateway :"
STRING 10103 "Security"
STRING 10104 "&Options :"
STRING 10105 "&Password Key :"
STRING 10106 "&Confirm Password Key :"
STRING 10107 "&Help"
STRING 10108 "Network"
STRING 10109 "Searching the network..."
STRING 10131 "Please enter the IP address the printer is to use."
STRING 10132 "The subnet mask is not valid. Please enter a mask such as 255.255.255.0."

DIALOG 12120 260 206 "Advanced Network Settings"
    GROUPBOX 12121 "Network" 7 7 246 92
    RADIOBUTTON 12013 "Obtain an IP address &automatically" 15 20 200 10 GROUP
    RADIOBUTTON 12014 "Use the &following IP address settings :" 15 34 200 10
    LTEXT 12016 "&IP Address :" 27 50 80 8
    IPADDRESS 12015 "" 110 48 100 12
    LTEXT 12017 "Subnet &Mask :" 27 66 80 8
    IPADDRESS 12019 "" 110 64 100 12
    LTEXT 12018 "Default &Gateway :" 27 82 80 8
    IPADDRESS 12020 "" 110 80 100 12
    GROUPBOX 12122 "Security" 7 105 246 74
    LTEXT 12123 "&Options :" 15 120 90 8
    COMBOBOX 11033 "" 110 118 100 60
    LTEXT 12124 "&Password Key :" 15 138 90 8
    EDITTEXT 12029 "" 110 136 130 12 PASSWORD
    LTEXT 12125 "&Confirm Password Key :" 15 156 90 8
    EDITTEXT 12030 "" 110 154 130 12 PASSWORD
    PUSHBUTTON 11030 "&Help" 7 185 50 14
    PUSHBUTTON 2 "Cancel" 149 185 50 14
    DEFPUSHBUTTON 1 "OK" 203 185 50 14
END

DIALOG 12119 260 160 "Find Networks"
    LTEXT 12126 "Local Networks :" 7 7 150 8
    LISTVIEW 12045 "" 7 18 246 114 SINGLESEL SHOWSELALWAYS
    PICTURE 12042 "" 110 60 40 30 HIDDEN
    PUSHBUTTON 12008 "&Rescan" 7 139 50 14
    DEFPUSHBUTTON 1 "OK" 149 139 50 14
    PUSHBUTTON 2 "Cancel" 203 139 50 14
END

DIALOG 111 180 90 "Searching the network..."
    PICTURE 12042 "" 70 10 40 40
    PUSHBUTTON 2 "Cancel" 65 68 50 14
END
)rc";

}  // namespace

const char* SecondaryDialogsResourceText() {
    return kResources;
}
