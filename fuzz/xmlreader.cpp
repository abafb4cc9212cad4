// Feeds arbitrary bytes to the XML reader through a small grammar in the
// shape of the printer's profile answers. Any crash, leak, or state left
// alive or ended twice is a bug.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Tessary/StrToL.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

using namespace Tessary;

namespace {

int g_live = 0;  // grammar states alive

struct Profile {
    int id = 0;
    std::string country, domain, name, ssid;
    int channel = 11;
    int count = 0;
    unsigned flags = 0;
    double level = 0;
    bool automatic = false;
    std::string keys[4];

    void SetName(const std::string& text) { name = text; }
    void SetChannel(int value) { channel = value; }
    void SetKey(int index, const std::string& text) { keys[index] = text; }
};

struct Counted {
    Counted() { ++g_live; }
    Counted(const Counted&) = delete;
    ~Counted() { --g_live; }
};

class LevelState : public XMLFloatState, Counted {
public:
    explicit LevelState(Profile& profile) : profile_(profile) {}
    void EndElement() override {
        profile_.level = StrToD(GetText());
        XMLFloatState::EndElement();
    }

private:
    Profile& profile_;
};

class FlagsState : public XMLIntegerState<unsigned>, Counted {
public:
    explicit FlagsState(Profile& profile) : profile_(profile) {}
    void EndElement() override {
        profile_.flags = static_cast<unsigned>(StrToL(GetText()));
        XMLIntegerState<unsigned>::EndElement();
    }

private:
    Profile& profile_;
};

class KeysState : public XMLNoTextStateSelfDestruct, Counted {
public:
    explicit KeysState(Profile& profile) : profile_(profile) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& attributes) override {
        if (name != "key") return nullptr;
        const int index = GetRequiredIntAttribute(attributes, "index");
        if (index < 1 || index > 4) TS_THROW(TSRuntimeError, "Invalid value for attribute 'index'");
        return new XMLSetIndexedStringDataState<Profile>(&profile_, index - 1, &Profile::SetKey);
    }

private:
    Profile& profile_;
};

class WifiState : public XMLNoTextStateSelfDestruct, Counted {
public:
    explicit WifiState(Profile& profile) : profile_(profile) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "ssid") return new XMLStringSetState(&profile_.ssid);
        if (name == "channel") return new XMLSetIntDataState<Profile, int>(&profile_, &Profile::SetChannel);
        if (name == "wepKeys") return new KeysState(profile_);
        return nullptr;
    }

private:
    Profile& profile_;
};

class ProfileState : public XMLNoTextStateSelfDestruct, Counted {
public:
    explicit ProfileState(Profile& profile) : profile_(profile) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& attributes) override {
        if (name == "profileName") return new XMLSetStringDataState<Profile>(&profile_, &Profile::SetName);
        if (name == "wifi") {
            const std::string mode = GetRequiredStringAttribute(attributes, "mode");
            if (mode != "infrastructure" && mode != "adhoc") TS_THROW(TSRuntimeError, "bad mode");
            return new WifiState(profile_);
        }
        if (name == "ipSettings") {
            profile_.automatic = GetRequiredBoolAttribute(attributes, "automatic");
            return new XMLTextState;
        }
        if (name == "count") return new XMLIntegerSetState<int>(&profile_.count);
        if (name == "level") return new LevelState(profile_);
        if (name == "flags") return new FlagsState(profile_);
        return nullptr;
    }

private:
    Profile& profile_;
};

class ProfileSetState : public XMLNoTextStateSelfDestruct, Counted {
public:
    explicit ProfileSetState(std::vector<Profile>& profiles) : profiles_(profiles) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& attributes) override {
        if (name != "profile") TS_THROW(TSRuntimeError, "Unexpected element '" + name + "'");
        if (hasPending_) profiles_.push_back(pending_);
        pending_ = Profile{};
        hasPending_ = true;
        pending_.id = GetRequiredIntAttribute(attributes, "id");
        GetOptionalStringAttribute(attributes, "country", pending_.country);
        pending_.domain = GetRequiredStringAttribute(attributes, "domain");
        return new ProfileState(pending_);
    }
    void EndElement() override {
        if (hasPending_) profiles_.push_back(pending_);
        XMLNoTextStateSelfDestruct::EndElement();
    }

private:
    std::vector<Profile>& profiles_;
    Profile pending_;
    bool hasPending_ = false;
};

class RootState : public XMLNoTextStateSelfDestruct, Counted {
public:
    explicit RootState(std::vector<Profile>& profiles) : profiles_(profiles) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& attributes) override {
        if (name != "getAllProfilesResponse") return nullptr;
        int status = 0;
        GetOptionalIntAttribute(attributes, "status", status);
        if (status != 0) TS_THROW(TSRuntimeError, "failed");
        return new ProfileSetState(profiles_);
    }

private:
    std::vector<Profile>& profiles_;
};

class DocumentState : public XMLNoTextState {
public:
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& attributes) override {
        if (name != "dockConfig") TS_THROW(TSRuntimeError, "Unexpected element '" + name + "'");
        bool flag = false;
        GetOptionalBoolAttribute(attributes, "beta", flag);
        return new RootState(profiles);
    }
    void EndElement() override { ++ended; }
    void Abort() override { ++aborted; }

    std::vector<Profile> profiles;
    int ended = 0;
    int aborted = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static XercesXMLParser parser;
    DocumentState document;
    const bool ok = parser.ParseBuffer(reinterpret_cast<const char*>(data), static_cast<unsigned>(size), &document);
    if (g_live != 0) std::abort();
    if (document.ended + document.aborted > 1) std::abort();
    if (ok && document.ended != 1) std::abort();
    return 0;
}
