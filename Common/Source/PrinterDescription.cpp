#include "PrinterDescription.h"

#include "Common/Source/PrinterStates.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

bool LoadPrinterConfig(const Tessary::I8NString& path, std::vector<PrinterConfig>& printers) {
    try {
        printers.clear();
        Tessary::XercesXMLParser parser;
        TambaDocumentState document(&printers);
        return parser.ParseFile(path, &document);
    } catch (const Tessary::TSException&) {
        return false;
    } catch (const std::exception&) {
        return false;
    } catch (...) {
        return false;
    }
}

bool LoadPrinterConfigByVidPid(const Tessary::I8NString& path, unsigned vendorId, unsigned productId,
                               PrinterConfig& out) {
    try {
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
    } catch (const Tessary::TSException&) {
        return false;
    } catch (const std::exception&) {
        return false;
    } catch (...) {
        return false;
    }
}
