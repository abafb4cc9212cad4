// Which Wi-Fi channels a country may use: country name -> ISO code ->
// regulatory domain -> channel set, read once from the regulatory-domain
// document.
#pragma once

#include <map>
#include <string>
#include <vector>

class RegulatoryDomainExpert {
public:
    // Reads the document at path (a path of the system). Throws
    // TSRuntimeError "Error parsing XML file" when it cannot be read or
    // breaks the grammar.
    explicit RegulatoryDomainExpert(const std::string& path);
    ~RegulatoryDomainExpert();

    RegulatoryDomainExpert(const RegulatoryDomainExpert&) = delete;
    RegulatoryDomainExpert& operator=(const RegulatoryDomainExpert&) = delete;

    // A country is named by its name or, when no country has that name, by
    // its ISO code. Unknown: TSDomainError "Invalid/unknown country name".
    std::string GetCountryCode(const std::string& countryName) const;
    // TSLogicError when the code has no domain.
    std::string GetRegulatoryDomain(const std::string& countryName) const;
    // Channels in document order; TSLogicError when the domain has no set.
    std::vector<unsigned> GetChannelList(const std::string& countryName) const;

    class RegulatoryDomainCollectionState;
    class ChannelSetCollectionState;

private:
    std::map<std::string, std::string> countryCodes;           // name -> ISO code
    std::map<std::string, std::string> regulatoryDomains;      // ISO code -> domain
    std::map<std::string, std::vector<unsigned>> channelSets;  // domain -> channels
};
