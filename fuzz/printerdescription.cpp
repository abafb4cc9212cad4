// Arbitrary bytes through the printer description grammar. Besides crashes
// and leaks (a state left alive shows as one), every record that comes out
// must hold only what the grammar lets in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Common/Source/PrinterStates.h"
#include "PrinterConfig.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckRecord(const PrinterConfig& record) {
    for (const auto& connection : record.connections) {
        Check(connection != nullptr);
        Check(connection->outputFormat == 1 || connection->outputFormat == 2);
        if (connection->kind == ConnectionType::kNetwork) {
            const auto* network = dynamic_cast<const NetworkConnection*>(connection.get());
            Check(network != nullptr);
            Check(network->discoveryProtocol == 1 || network->discoveryProtocol == 2);
        } else {
            Check(connection->kind == ConnectionType::kUsb);
        }
    }
    for (int flag : {record.dragAndDropSupported, record.firmwareCrcVerifySupported, record.mediaRemainingSupported}) {
        Check(flag >= -1 && flag <= 1);
    }
    Check(record.rotate == 0 || record.rotate == 2);
    for (const auto& [id, head] : record.heads) {
        Check(id == head.id);
        for (const FirmwareNameSpec& spec : head.firmwareNameSpecs) {
            Check(!spec.prefix.empty() || !spec.extension.empty());
        }
        for (const LutModule& module : head.luts) {
            try {
                // Some module with this reference and codes exists, so the
                // lookup must find one.
                Check(head.GetLut(module.lutRef, module.donor, module.media).lutRef == module.lutRef);
            } catch (const Tessary::TSException&) {
                Check(false);
            }
        }
    }
    for (const PaperDefinition& paper : record.papers) {
        for (const auto& [slot, value] : paper.dimensions) Check(slot >= WidthInches && slot <= RightPoints);
    }
    for (const auto& [size, paperId] : record.paperIdsByReportedSize) {
        Check(record.papers.count(PaperDefinition{paperId, {}, 0, {}}) == 1);
    }
    for (const auto& [paperId, number] : record.sendToPrinterAs) {
        Check(record.papers.count(PaperDefinition{paperId, {}, 0, {}}) == 1);
    }
    for (const auto& [name, text] : record.customProperties) Check(!name.empty());
    for (const auto& [code, capacity] : record.mediaCapacities) Check(!code.empty());
    try {
        record.GetDefaultHead();
    } catch (const Tessary::TSException&) {
        Check(record.heads.count(record.defaultHead) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Tessary::XercesXMLParser parser;
    std::vector<PrinterConfig> printers;
    TambaDocumentState document(&printers);
    parser.ParseBuffer(reinterpret_cast<const char*>(data), static_cast<unsigned>(size), &document);
    for (const PrinterConfig& record : printers) CheckRecord(record);
    return 0;
}
