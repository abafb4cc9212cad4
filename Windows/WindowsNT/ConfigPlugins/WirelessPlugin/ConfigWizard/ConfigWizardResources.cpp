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

# Wizard: messages
STRING 10003 "Please enter a device name."
STRING 10004 "The device name  is too long. Please enter a shorter name."
STRING 10007 "Please enter an SSID."
STRING 10008 "The SSID is too long. Please enter a shorter SSID."
STRING 10012 "The network key and confirmation field do not match."
STRING 10014 "The network key must be 5 characters or 10 hexadecimal digits in order to use 64-bit WEP, or 13 characters or 26 hexadecimal digits to use 128-bit WEP."
STRING 10017 "Should the default host for transfers be updated? \n\nWhen the printer is using this profile, and the 'transfer' button is pressed, the pictures will not be sent to this computer.  Do you want to change the profile so that transfers will come to this computer?"
STRING 10021 "WEP"
STRING 10030 "Performing a search for open networks that your printer can join will cause the printer to stop accepting new images to be printed from any other computers while the search is in progress. \n\nIf you do not wish to interrupt service at this time, you should cancel this operation now."
STRING 10034 "The profile contains selections that are not supported by this version of the software. Please install the version of the software that came with your printer and try again."
STRING 10075 "The device name contains invalid characters."
STRING 10120 "The SSID contains invalid characters."
STRING 10121 "The settings could not be stored on the printer. Check that the printer is connected and switched on, then try again."
STRING 10122 "The printer's previous settings could not be restored. Check that the printer is connected and switched on."
STRING 10131 "This step of the wizard could not be shown."
STRING 10132 "This printer has no network profile that the wizard can set up."
STRING 10133 "The security of this network cannot be changed here. The profile keeps its security settings."
STRING 10134 "Please enter the IP address the printer is to use."
STRING 10135 "The subnet mask is not valid. Please enter a mask such as 255.255.255.0."

# Wizard: the frame, and one pane per screen inside it
DIALOG 10012 327 188 "Velmo Wireless Printer Configuration Wizard"
    ETCHEDLINE -1 "" 0 160 327 1
    PUSHBUTTON 2011 "&Test" 7 167 50 14
    PUSHBUTTON 3004 "< &Back" 106 167 50 14
    DEFPUSHBUTTON 3130 "&Next >" 158 167 50 14
    PUSHBUTTON 3126 "&Finish" 214 167 50 14
    PUSHBUTTON 2 "Cancel" 270 167 50 14
END

DIALOG 10000 327 156 "" CHILD
    LTEXT -1 "Welcome to the Velmo Wireless Printer Configuration Wizard! By answering just a few simple questions, we'll have you all set up and ready to go!" 20 20 250 32
    LTEXT -1 "Please click the Next button to continue." 20 64 250 8
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10001 327 156 "" CHILD
    LTEXT -1 "Select a profile from the list below. You can rename the profile anything you want." 20 20 250 16
    COMBOBOX 13000 "" 20 48 160 12
    PUSHBUTTON 12009 "&Rename..." 188 47 60 14
    LTEXT 13003 "" 20 72 250 24
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10002 327 156 "" CHILD
    LTEXT -1 "Enter a name for your printer when it's using this profile." 20 20 250 16
    EDITTEXT 13002 "" 20 48 160 12
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10004 327 156 "" CHILD
    LTEXT -1 "Local Networks :" 8 6 100 8
    LISTVIEW 12045 "" 8 16 244 88 SINGLESEL SHOWSELALWAYS
    PUSHBUTTON 13128 "Scan" 260 16 60 14
    PICTURE 12042 "" 260 40 32 32 HIDDEN
    LTEXT -1 "SSID :" 8 114 28 8
    EDITTEXT 12024 "" 40 112 120 12
    RTEXT 11031 "Channel :" 168 114 36 8
    COMBOBOX 12025 "" 208 112 40 12
    CHECKBOX 13131 "This is a peer-to-peer (ad-hoc) network" 8 132 200 10
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10005 327 156 "" CHILD
    LTEXT -1 "The network is being scanned for your printer. This may take a few moments. Please wait..." 20 20 250 16
    PICTURE 12042 "" 140 56 48 48
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10006 327 156 "" CHILD
    LTEXT -1 "The printer was succesfully found on the network! Click Finish to accept the current settings, or Next to go on and set up additional settings." 20 20 250 32
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10016 327 156 "" CHILD
    LTEXT -1 "The printer was succesfully found on the network! Click Finish to accept the current settings, or Back to change your settings." 20 20 250 32
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10007 327 156 "" CHILD
    LTEXT -1 "We were unable to find your printer on the network with the current settings. Click Back to change the settings you have already made, or Next to make further settings." 20 20 250 32
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10014 327 156 "" CHILD
    LTEXT -1 "We were unable to find your printer on the network with the current settings. Click Back to change your settings." 20 20 250 32
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10008 327 156 "" CHILD
    LTEXT -1 "Please enter the security information for your network. " 20 20 250 8
    LTEXT -1 "Security:" 20 44 92 8
    COMBOBOX 11033 "" 116 42 80 12
    LTEXT 11041 "Password Key :" 20 64 92 8
    EDITTEXT 12029 "" 116 62 156 12 PASSWORD
    LTEXT 11042 "Confirm Password Key :" 20 82 92 8
    EDITTEXT 13125 "" 116 80 156 12 PASSWORD
    LTEXT 13004 "" 20 100 250 16
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10009 327 156 "" CHILD
    LTEXT -1 "Please set up the IP address information for your printer. " 20 20 250 8
    RADIOBUTTON 12013 "Obtain an IP address automatically" 20 38 200 10 GROUP
    RADIOBUTTON 12014 "Use the following IP address settings :" 20 52 200 10
    LTEXT 11038 "IP Address :" 36 70 68 8 GROUP
    IPADDRESS 12015 "" 108 68 100 12
    LTEXT 11039 "Subnet Mask :" 36 86 68 8
    IPADDRESS 12019 "" 108 84 100 12
    LTEXT 11040 "Default Gateway :" 36 102 68 8
    IPADDRESS 12020 "" 108 100 100 12
    PICTURE 13132 "" 280 112 40 40
END

DIALOG 10011 327 156 "" CHILD
    LTEXT -1 "Congratulations, you have successfully configured your wireless printer! Click Finish to close the Assistant, or Next to select another profile to set up." 20 20 250 32
    PICTURE 13132 "" 280 112 40 40
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
