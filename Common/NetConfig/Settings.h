// The value types that carry a printer's wireless and Bluetooth settings
// between the configuration protocol, the wizards and the plug-ins. Each
// prints itself as an XML element (the form requests carry and responses
// return) or as a one-line text; Print picks one by the stream's XML flag.
//
// The text forms of Profile and WiFiSettings show the network keys in clear:
// show them to the user if need be, never write them to a log.
#pragma once

#include <boost/shared_ptr.hpp>

#include <ostream>
#include <string>
#include <vector>

#include "Common/NetConfig/Security.h"
#include "Tessary/i8n/I8NString.h"
#include "Tessary/xml-utilities/XMLUtilities.h"

// Modes are plain ints: the printer's texts map onto these values.
using WiFiMode = int;
using NetworkMode = int;
using DataMode = int;

constexpr WiFiMode WIFI_MODE_INFRASTRUCTURE = 0;
constexpr WiFiMode WIFI_MODE_ADHOC = 1;

constexpr NetworkMode NETWORK_MODE_OPEN = 0;
constexpr NetworkMode NETWORK_MODE_SHARED = 1;
constexpr NetworkMode NETWORK_MODE_WPA_PSK = 2;

constexpr DataMode DATA_MODE_NONE = 0;
constexpr DataMode DATA_MODE_WEP_64BIT = 1;
constexpr DataMode DATA_MODE_WEP_128BIT = 2;
constexpr DataMode DATA_MODE_TKIP = 3;
constexpr DataMode DATA_MODE_AES = 4;

// The protocol text of a mode; TSException "Invalid WiFi mode", "Invalid
// Network mode" or "Invalid Data mode" for a value without one.
std::string WiFiModeToString(int mode);
std::string NetworkModeToString(int mode);
std::string DataModeToString(int mode);

// The Wi-Fi part of a profile, also one network found by a scan. The
// security object is never null and never shared between two objects.
class WiFiSettings : public Tessary::XMLPrintable {
public:
    WiFiSettings();
    explicit WiFiSettings(WiFiMode mode);
    WiFiSettings(const WiFiSettings& other);
    WiFiSettings& operator=(const WiFiSettings& other);
    ~WiFiSettings() override;

    void PrintText(std::ostream& stream) const override;
    void PrintXML(std::ostream& stream) const override;

    // Exchanges every field; the security objects change owner, no copy.
    void Swap(WiFiSettings& other) noexcept;

    const Tessary::I8NString& GetSSID() const { return ssid; }
    void SetSSID(const Tessary::I8NString& value) { ssid = value; }
    int GetChannel() const { return channel; }
    void SetChannel(int value) { channel = value; }
    WiFiMode GetMode() const { return mode; }
    void SetMode(WiFiMode value) { mode = value; }
    DataMode GetDataMode() const { return dataMode; }
    NetworkMode GetNetworkMode() const { return networkMode; }
    const Security& GetSecurity() const { return *security; }

    // The only way to change the security triple. The object must fit the
    // network mode (open/none: NullSecurity; open or shared: Null or WEP;
    // wpa-psk: Null or WPA); a clone of it is stored. TSException "Invalid
    // mode" for an unknown network mode, TSInvalidArgument "Invalid security
    // object: <type>" for a misfit; nothing changes on failure.
    void SetSecurity(NetworkMode networkMode, DataMode dataMode, const Security& security);

private:
    Tessary::I8NString ssid;
    int channel;
    WiFiMode mode;
    DataMode dataMode;
    NetworkMode networkMode;
    boost::shared_ptr<Security> security;
};

// The IP part of a profile. The addresses mean nothing (and are not
// printed) while automatic is true.
class IPSettings : public Tessary::XMLPrintable {
public:
    IPSettings() = default;
    IPSettings(const IPSettings&) = default;
    IPSettings& operator=(const IPSettings&) = default;
    ~IPSettings() override;

    void PrintText(std::ostream& stream) const override;
    void PrintXML(std::ostream& stream) const override;

    bool GetAutomatic() const { return automatic; }
    void SetAutomatic(bool value) { automatic = value; }
    const std::string& GetIPAddress() const { return ipAddress; }
    void SetIPAddress(const std::string& value) { ipAddress = value; }
    const std::string& GetSubnetMask() const { return subnetMask; }
    void SetSubnetMask(const std::string& value) { subnetMask = value; }
    const std::string& GetGateway() const { return gateway; }
    void SetGateway(const std::string& value) { gateway = value; }

private:
    bool automatic = true;
    std::string ipAddress;
    std::string subnetMask;
    std::string gateway;
};

// One stored wireless network profile of the printer.
class Profile : public Tessary::XMLPrintable {
public:
    Profile() = default;
    Profile(const Profile&) = default;
    Profile& operator=(const Profile&) = default;
    ~Profile() override;

    void PrintText(std::ostream& stream) const override;
    void PrintXML(std::ostream& stream) const override;

    int GetId() const { return id; }
    void SetId(int value) { id = value; }
    const std::string& GetCountry() const { return country; }
    void SetCountry(const std::string& value) { country = value; }
    const std::string& GetDomain() const { return domain; }
    void SetDomain(const std::string& value) { domain = value; }
    const Tessary::I8NString& GetProfileName() const { return profileName; }
    void SetProfileName(const Tessary::I8NString& value) { profileName = value; }
    const WiFiSettings& GetWiFiSettings() const { return wifi; }
    WiFiSettings& GetWiFiSettings() { return wifi; }
    void SetWiFiSettings(const WiFiSettings& value) { wifi = value; }
    const IPSettings& GetIPSettings() const { return ipSettings; }
    IPSettings& GetIPSettings() { return ipSettings; }
    void SetIPSettings(const IPSettings& value) { ipSettings = value; }
    Tessary::I8NString GetFriendlyName() const { return friendlyName; }
    void SetFriendlyName(const Tessary::I8NString& value) { friendlyName = value; }
    std::string GetDefaultHostID() const { return defaultHostID; }
    void SetDefaultHostID(const std::string& value) { defaultHostID = value; }

private:
    int id = 0;
    std::string country;
    std::string domain;
    Tessary::I8NString profileName;
    WiFiSettings wifi;
    IPSettings ipSettings;
    Tessary::I8NString friendlyName;
    std::string defaultHostID;
};

// The printer's Bluetooth settings.
class BluetoothProfile : public Tessary::XMLPrintable {
public:
    // One paired device, in the order the printer reported them.
    struct PairedDeviceData {
        std::string deviceName;
        void SetDeviceName(const std::string& value) { deviceName = value; }
    };

    BluetoothProfile() = default;
    BluetoothProfile(const BluetoothProfile&) = default;
    BluetoothProfile& operator=(const BluetoothProfile&) = default;
    ~BluetoothProfile() override;

    void PrintText(std::ostream& stream) const override;
    // The name is held as UTF-8; a name that is not valid UTF-8 is written
    // as empty.
    void PrintXML(std::ostream& stream) const override;

    const std::string& GetFriendlyName() const { return friendlyName; }
    void SetFriendlyName(const std::string& value) { friendlyName = value; }
    bool GetEnabled() const { return enabled; }
    void SetEnabled(bool value) { enabled = value; }
    bool GetRequirePIN() const { return requirePIN; }
    void SetRequirePIN(bool value) { requirePIN = value; }
    bool GetLinkwiseEnabled() const { return linkwiseEnabled; }
    void SetLinkwiseEnabled(bool value) { linkwiseEnabled = value; }
    const std::vector<PairedDeviceData>& GetPairedDevices() const { return pairedDevices; }
    std::vector<PairedDeviceData>& GetPairedDevices() { return pairedDevices; }
    void SetPairedDevices(const std::vector<PairedDeviceData>& value) { pairedDevices = value; }

private:
    std::string friendlyName;
    bool enabled = false;
    bool requirePIN = false;
    bool linkwiseEnabled = false;
    std::vector<PairedDeviceData> pairedDevices;
};

// Printer-wide settings.
struct PrinterSettings {
    std::string pin;
};
