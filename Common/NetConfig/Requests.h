// Request documents of the dock configuration protocol and the round trips
// that read a printer's identity, settings and stored profiles.
//
// A request is the root element with version="1.0" holding one command
// element: no declaration, no white space, no empty-element tags, UTF-8.
//
// Round trips: exceptions of the channel (ConfigAPI) pass through unchanged
// and leave the output untouched; every problem with the answer becomes the
// result value. A round trip never closes the channel.
#pragma once

#include <string>
#include <vector>

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/Settings.h"

// Replaces `request` with <rootName version="1.0"><commandName></commandName></rootName>.
void BuildRequestDocument(const std::string& rootName, std::string& request, const std::string& commandName);
void BuildGetPrinterGuidRequest(std::string& request);
void BuildGetMacAddressRequest(std::string& request);
void BuildGetAllProfilesRequest(std::string& request);
void BuildGetPrinterSettingsRequest(const std::string& rootName, std::string& request);
// "dockConfig" holding "setProfileData" with each profile's XML form, in
// list order.
void BuildSetProfileDataRequest(const std::vector<Profile>& profiles, std::string& request);

// True with the identifier; false with `guid` empty when the answer is unreadable.
bool GetPrinterGuid(ConfigAPI& api, std::string& guid);
// 0 with the address; 1 when the printer's result is not 0; 2 when the answer
// is unreadable. `macAddress` is empty unless 0.
int GetMacAddress(ConfigAPI& api, std::string& macAddress);
// True with the profiles sorted by ascending id; false with `profiles` empty.
bool GetAllProfiles(ConfigAPI& api, std::vector<Profile>& profiles);
// True with the PIN taken into `settings`; false with `settings` unchanged.
// rootName is "dockConfig" or "bluetoothDockConfig"; the answer must carry the same.
bool GetPrinterSettings(const std::string& rootName, ConfigAPI& api, PrinterSettings& settings);
// Stores the profiles on the printer. True when the answer was read, with the
// printer's result code (0: done) in `result`; false with `result` untouched
// when it could not be read.
bool SetProfileData(ConfigAPI& api, const std::vector<Profile>& profiles, int& result);
