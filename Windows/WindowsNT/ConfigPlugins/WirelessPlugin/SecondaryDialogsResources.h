// The templates and strings of the Wi-Fi plug-in's secondary dialogs, in the
// resource text form of Platform::ParseResourceText, to be joined with the
// plug-in's own.
#pragma once

const char* SecondaryDialogsResourceText();
