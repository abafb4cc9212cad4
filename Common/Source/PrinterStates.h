// The grammar of the printer description document: one parse state per
// element that has children or needs checking. The states check as they go
// and throw on the first fault; LoadPrinterConfig turns that into false.
#pragma once

#include <vector>

#include "PrinterConfig.h"
#include "Tessary/xerces-xmlparser/XercesXMLParsingState.h"

// The document itself. Owned by the caller; every state below it makes
// itself and dies with its element. Printers are appended to the list as
// their elements end, so those read before a fault stay in it.
class TambaDocumentState : public Tessary::XMLNoTextState {
public:
    explicit TambaDocumentState(std::vector<PrinterConfig>* printers) : printers_(printers) {}

    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const std::map<std::string, std::string>& attributes) override;

private:
    std::vector<PrinterConfig>* printers_;
};
