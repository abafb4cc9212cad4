#include "Common/NetConfig/RegulatoryDomainExpert.h"

#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

using Tessary::XercesXMLParsingState;
using Attributes = std::map<std::string, std::string>;

// The grammar is strict: an element out of place fails the whole read.
[[noreturn]] void Unexpected(const std::string& name) {
    TS_THROW(Tessary::TSRuntimeError, "Unexpected element '" + name + "'");
}

}  // namespace

class RegulatoryDomainExpert::RegulatoryDomainCollectionState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit RegulatoryDomainCollectionState(RegulatoryDomainExpert& expert) : expert_(expert) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override;

    void EndElement() override {
        // A country or code seen twice keeps its first entry.
        expert_.countryCodes.insert(countryCodes_.begin(), countryCodes_.end());
        expert_.regulatoryDomains.insert(regulatoryDomains_.begin(), regulatoryDomains_.end());
        SelfDestruct();
    }

    void AddCountry(const std::string& name, const std::string& isoCode, const std::string& domain) {
        countryCodes_.emplace(name, isoCode);
        regulatoryDomains_.emplace(isoCode, domain);
    }

private:
    RegulatoryDomainExpert& expert_;
    std::map<std::string, std::string> countryCodes_;
    std::map<std::string, std::string> regulatoryDomains_;
};

class RegulatoryDomainExpert::ChannelSetCollectionState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit ChannelSetCollectionState(RegulatoryDomainExpert& expert) : expert_(expert) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override;

    void EndElement() override {
        expert_.channelSets.insert(channelSets_.begin(), channelSets_.end());
        SelfDestruct();
    }

    void AddChannelSet(const std::string& domain, std::vector<unsigned> channels) {
        channelSets_.emplace(domain, std::move(channels));
    }

private:
    RegulatoryDomainExpert& expert_;
    std::map<std::string, std::vector<unsigned>> channelSets_;
};

namespace {

class CountryState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    CountryState(RegulatoryDomainExpert::RegulatoryDomainCollectionState& collection, const std::string& domain)
        : collection_(collection), domain_(domain) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "isoCode") return new Tessary::XMLStringSetState(&isoCode_);
        if (name == "name") return new Tessary::XMLStringSetState(&name_);
        Unexpected(name);
    }

    void EndElement() override {
        collection_.AddCountry(name_, isoCode_, domain_);
        SelfDestruct();
    }

private:
    RegulatoryDomainExpert::RegulatoryDomainCollectionState& collection_;
    std::string domain_;
    std::string isoCode_;
    std::string name_;
};

class RegulatoryDomainState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    RegulatoryDomainState(RegulatoryDomainExpert::RegulatoryDomainCollectionState& collection,
                          const std::string& domain)
        : collection_(collection), domain_(domain) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "country") return new CountryState(collection_, domain_);
        Unexpected(name);
    }

private:
    RegulatoryDomainExpert::RegulatoryDomainCollectionState& collection_;
    std::string domain_;
};

class ChannelSetState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    ChannelSetState(RegulatoryDomainExpert::ChannelSetCollectionState& collection, const std::string& domain)
        : collection_(collection), domain_(domain) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "channel")
            return new Tessary::XMLSetIntDataState<ChannelSetState, unsigned>(this, &ChannelSetState::AddChannel);
        Unexpected(name);
    }

    void EndElement() override {
        collection_.AddChannelSet(domain_, std::move(channels_));
        SelfDestruct();
    }

    void AddChannel(unsigned channel) { channels_.push_back(channel); }

private:
    RegulatoryDomainExpert::ChannelSetCollectionState& collection_;
    std::string domain_;
    std::vector<unsigned> channels_;
};

class RegulatoryDomainDataState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit RegulatoryDomainDataState(RegulatoryDomainExpert& expert) : expert_(expert) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "regulatoryDomains") return new RegulatoryDomainExpert::RegulatoryDomainCollectionState(expert_);
        if (name == "channelSets") return new RegulatoryDomainExpert::ChannelSetCollectionState(expert_);
        Unexpected(name);
    }

private:
    RegulatoryDomainExpert& expert_;
};

class RegulatoryDomainDataDocumentState : public Tessary::XMLNoTextState {
public:
    explicit RegulatoryDomainDataDocumentState(RegulatoryDomainExpert& expert) : expert_(expert) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "regDomainData") return new RegulatoryDomainDataState(expert_);
        Unexpected(name);
    }

private:
    RegulatoryDomainExpert& expert_;
};

}  // namespace

XercesXMLParsingState* RegulatoryDomainExpert::RegulatoryDomainCollectionState::StartElement(
    const std::string& name, const Attributes& attributes) {
    if (name == "domain")
        return new RegulatoryDomainState(*this, Tessary::GetRequiredStringAttribute(attributes, "name"));
    Unexpected(name);
}

XercesXMLParsingState* RegulatoryDomainExpert::ChannelSetCollectionState::StartElement(const std::string& name,
                                                                                       const Attributes& attributes) {
    if (name == "channelSet")
        return new ChannelSetState(*this, Tessary::GetRequiredStringAttribute(attributes, "domain"));
    Unexpected(name);
}

RegulatoryDomainExpert::RegulatoryDomainExpert(const std::string& path) {
    RegulatoryDomainDataDocumentState document(*this);
    Tessary::XercesXMLParser parser;
    if (!parser.ParseFile(path, &document)) {
        countryCodes.clear();
        regulatoryDomains.clear();
        channelSets.clear();
        TS_THROW(Tessary::TSRuntimeError, "Error parsing XML file");
    }
}

RegulatoryDomainExpert::~RegulatoryDomainExpert() = default;

std::string RegulatoryDomainExpert::GetCountryCode(const std::string& countryName) const {
    const auto byName = countryCodes.find(countryName);
    if (byName != countryCodes.end()) return byName->second;
    // Callers also name a country by its code ("US").
    if (regulatoryDomains.count(countryName) != 0) return countryName;
    TS_THROW(Tessary::TSDomainError, "Invalid/unknown country name");
}

std::string RegulatoryDomainExpert::GetRegulatoryDomain(const std::string& countryName) const {
    const std::string code = GetCountryCode(countryName);
    const auto domain = regulatoryDomains.find(code);
    if (domain == regulatoryDomains.end())
        TS_THROW(Tessary::TSLogicError, "Regulatory domain not found for country code '" + code + "'");
    return domain->second;
}

std::vector<unsigned> RegulatoryDomainExpert::GetChannelList(const std::string& countryName) const {
    const std::string domain = GetRegulatoryDomain(countryName);
    const auto channels = channelSets.find(domain);
    if (channels == channelSets.end())
        TS_THROW(Tessary::TSLogicError, "Channel set not found for regulatory domain '" + domain + "'");
    return channels->second;
}
