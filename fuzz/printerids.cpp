// The printer-id and plug-in mapping documents. The first byte picks the
// reader, the rest is the document. Any crash, leak or state left alive is
// a bug.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Common/ConfigSupport/PluginMapping.h"
#include "Common/ConfigSupport/PrinterIDs.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Tessary::XercesXMLParser parser;
    if (size < 1) return 0;
    const char* xml = reinterpret_cast<const char*>(data + 1);
    const auto length = static_cast<unsigned>(size - 1);
    if (data[0] & 1) {
        PluginMap plugins;
        PDConfigDocState document(plugins);
        parser.ParseBuffer(xml, length, &document);
    } else {
        PrinterIDMap manufacturers, models;
        PrinterIDsDocumentState document(manufacturers, models);
        parser.ParseBuffer(xml, length, &document);
    }
    return 0;
}
