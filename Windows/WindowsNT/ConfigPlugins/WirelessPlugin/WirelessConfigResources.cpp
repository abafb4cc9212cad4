#include "WirelessConfigResources.h"

#include "SecondaryDialogsResources.h"

#include <string>

namespace {

// English; another language's strings are the same ids plus its offset in
// thousands, and fall back to these.
constexpr char kResources[] = R"rc(
STRING 10001 "An unknown error occurred."
STRING 10002 "You have made changes to this profile. Do you want to apply your changes now?"
STRING 10003 "Please enter a device name."
STRING 10004 "The device name  is too long. Please enter a shorter name."
STRING 10005 "Your PIN must be four digits long."
STRING 10006 "Your PIN can only contain the numeric characters 0-9."
STRING 10007 "Please enter an SSID."
STRING 10008 "The SSID is too long. Please enter a shorter SSID."
STRING 10009 "The printer has been successfully located on the network."
STRING 10010 "The printer could not be located on the network."
STRING 10014 "The network key must be 5 characters or 10 hexadecimal digits in order to use 64-bit WEP, or 13 characters or 26 hexadecimal digits to use 128-bit WEP."
STRING 10015 "Should the default host for transfers be updated? \n\nWhen the printer is using this profile, and the 'transfer' button is pressed, the pictures will not be sent to this computer.  Do you want to change the profile so that transfers will come to this computer?"
STRING 10030 "Performing a search for open networks that your printer can join will cause the printer to stop accepting new images to be printed from any other computers while the search is in progress. \n\nIf you do not wish to interrupt service at this time, you should cancel this operation now."
STRING 10034 "The profile contains selections that are not supported by this version of the software. Please install the version of the software that came with your printer and try again."
STRING 10040 "You have selected a secure network. You must enter the security information in the Advanced dialog in order to connect to this network."
STRING 10041 "Unable to communicate with the printer. Please check your cable connections and try again."
STRING 10042 "Bluetooth"
STRING 10150 "Help is not available: no viewer for the help file could be opened."
STRING 10043 "Changing the device name or PIN number will require you to re-pair all of your Bluetooth devices. Are you sure you want to do this?"
STRING 10050 "The factory profile cannot be tested. Please choose one of your own profiles in the list and test that one."
STRING 10077 "Some other settings in this network configuration may be specific to a different network (SSID).  Please review the other screens in order to ensure that the configuration is correct."
STRING 10078 "&Wireless Settings :"
STRING 10079 "Rena&me"
STRING 10080 "Profile Settings"
STRING 10081 "&Device Name :"
STRING 10082 "&SSID :"
STRING 10083 "&Find Networks..."
STRING 10084 "This is a peer-to-peer (ad-hoc) &network"
STRING 10085 "Channe&l :"
STRING 10086 "Ad&vanced Network Settings..."
STRING 10087 "Enable &Bluetooth printing"
STRING 10088 "&PIN :"
STRING 10089 "Allow onl&y trusted devices to print"
STRING 10116 "This printer has no network profile that the wizard can set up."

STRING 15042 "Bluetooth"
STRING 15078 "&Drahtlos-Einstellungen :"
STRING 15079 "&Umbenennen"
STRING 15080 "Profileinstellungen"
STRING 15081 "&Gerätename :"

DIALOG 106 330 190 "" CHILD
    LTEXT 13132 "&Wireless Settings :" 7 9 70 8
    COMBOBOX 12004 "" 80 7 160 12
    PUSHBUTTON 12009 "Rena&me" 248 6 70 14
    GROUPBOX 13133 "Profile Settings" 7 26 316 158
    LTEXT 11037 "&Device Name :" 15 42 60 8
    EDITTEXT 12005 "" 80 40 150 12
    LTEXT 11032 "&SSID :" 15 60 60 8
    EDITTEXT 12024 "" 80 58 150 12
    PUSHBUTTON 12003 "&Find Networks..." 236 57 80 14
    CHECKBOX 12032 "This is a peer-to-peer (ad-hoc) &network" 15 78 200 10
    LTEXT 11031 "Channe&l :" 15 96 60 8
    COMBOBOX 12025 "" 80 94 60 12
    PUSHBUTTON 12002 "Ad&vanced Network Settings..." 15 116 130 14
    CHECKBOX 11035 "Enable &Bluetooth printing" 15 42 200 10
    LTEXT 11036 "&Device Name :" 15 60 60 8
    EDITTEXT 12010 "" 80 58 150 12
    LTEXT 11034 "&PIN :" 15 78 60 8
    EDITTEXT 12023 "" 80 76 40 12
    CHECKBOX 12047 "Allow onl&y trusted devices to print" 15 96 200 10
END
)rc";

}  // namespace

Platform::ResourceTable WirelessConfigResources() {
    return Platform::ParseResourceText(std::string(kResources) + SecondaryDialogsResourceText(), "Dessmar resources");
}
