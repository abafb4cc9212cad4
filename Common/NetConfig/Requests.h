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
void BuildGetBluetoothProfileRequest(const std::string& rootName, std::string& request);
// rootName holding "setBluetoothProfileData" with the profile's XML form.
void BuildSetBluetoothProfileDataRequest(const std::string& rootName, const BluetoothProfile& profile,
                                         std::string& request);
// rootName holding "setPrinterSettings" with the PIN in "pin".
void BuildSetPrinterSettingsRequest(const std::string& rootName, const PrinterSettings& settings, std::string& request);
// Always under "bluetoothDockConfig".
void BuildRestartBluetoothRequest(std::string& request);

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

// Reads the Bluetooth side under rootName. True when the answer was read,
// with the printer's result code in `result`; `profile` is replaced only
// when that code is 0, so an error answer never passes for a profile.
// False with both untouched when the answer could not be read.
bool GetBluetoothProfile(const std::string& rootName, ConfigAPI& api, BluetoothProfile& profile, int& result);
// The same read for callers that need no code: true only with a profile.
bool GetBluetoothProfile(const std::string& rootName, ConfigAPI& api, BluetoothProfile& profile);
// The writes: true when the answer was read, with the printer's result code
// in `result`; false with `result` untouched when it could not be read.
bool SetBluetoothProfileData(const std::string& rootName, ConfigAPI& api, const BluetoothProfile& profile, int& result);
bool SetPrinterSettings(const std::string& rootName, ConfigAPI& api, const PrinterSettings& settings, int& result);
bool RestartBluetooth(ConfigAPI& api, int& result);
