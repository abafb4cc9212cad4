#include "PrinterDescription.h"

#include "Common/Source/PrinterStates.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

bool LoadPrinterConfig(const Tessary::I8NString& path, std::vector<PrinterConfig>& printers) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            printers.clear();
            Tessary::XercesXMLParser parser;
            TambaDocumentState document(&printers);
            return parser.ParseFile(path, &document);
        },
        [](const char*) { return false; });
}

bool LoadPrinterConfigByVidPid(const Tessary::I8NString& path, unsigned vendorId, unsigned productId,
                               PrinterConfig& out) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            std::vector<PrinterConfig> printers;
            if (!LoadPrinterConfig(path, printers)) return false;
            for (const PrinterConfig& printer : printers) {
                if (static_cast<unsigned>(printer.vendorId) == vendorId &&
                    static_cast<unsigned>(printer.productId) == productId) {
                    PrinterConfig copy(printer);
                    out.swap(copy);
                    return true;
                }
            }
            return false;
        },
        [](const char*) { return false; });
}
