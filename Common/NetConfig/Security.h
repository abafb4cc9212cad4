// Key material of a Wi-Fi network, one variant per kind of key. A stored
// security object is never changed in place: callers clone it, change the
// clone and hand that to WiFiSettings::SetSecurity.
//
// The text forms show keys in clear: fine for a message to the user, never
// for a log.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Tessary/xml-utilities/XMLUtilities.h"

class Security : public Tessary::XMLPrintable {
public:
    ~Security() override;

    virtual void SetKey(int index, const std::string& key) = 0;
    virtual std::unique_ptr<Security> Clone() const = 0;
    virtual int GetKeyCount() const = 0;
    virtual std::string GetKey(int index) const = 0;

protected:
    Security() = default;
    Security(const Security&) = default;
    Security& operator=(const Security&) = default;
};

// Open network without encryption: no keys at all.
class NullSecurity : public Security {
public:
    void PrintText(std::ostream& stream) const override;
    void PrintXML(std::ostream& stream) const override;

    // Always throws TSLogicError: an open network has no keys.
    void SetKey(int index, const std::string& key) override;
    std::unique_ptr<Security> Clone() const override;
    int GetKeyCount() const override { return 0; }
    // Always throws TSLogicError.
    std::string GetKey(int index) const override;
};

// Four WEP keys, numbered 1 to 4 everywhere. Keys are kept as given
// (hexadecimal or pass-phrase), never converted here.
class WepSecurity : public Security {
public:
    static constexpr int kKeyCount = 4;

    WepSecurity();

    void PrintText(std::ostream& stream) const override;
    void PrintXML(std::ostream& stream) const override;

    // index 1..4; TSException "Invalid key index" otherwise.
    void SetKey(int index, const std::string& key) override;
    std::unique_ptr<Security> Clone() const override;
    int GetKeyCount() const override { return kKeyCount; }
    // index 1..4; TSLogicError "Invalid key index" otherwise.
    std::string GetKey(int index) const override;

private:
    std::vector<std::string> keys;
};

// One pre-shared key, set exactly once. GetKey takes index 0; SetKey ignores
// its index.
class WpaPskSecurity : public Security {
public:
    void PrintText(std::ostream& stream) const override;
    void PrintXML(std::ostream& stream) const override;

    // TSException "Key has already been set" once a non-empty key is held.
    void SetKey(int index, const std::string& key) override;
    std::unique_ptr<Security> Clone() const override;
    int GetKeyCount() const override { return 1; }
    std::string GetKey(int index) const override;

private:
    std::string key;
};
