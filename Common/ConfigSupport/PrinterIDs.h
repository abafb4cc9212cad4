// The printer-id document maps the manufacturer and model names of a
// printer's IEEE 1284 device id to USB vendor and product ids.
#pragma once

#include <map>
#include <string>

#include "Tessary/i8n/I8NString.h"
#include "Tessary/xerces-xmlparser/XercesXMLParsingState.h"

using PrinterIDMap = std::map<std::string, int>;  // 1284 name -> USB id

// The document level of the printer-id document; owned by the caller.
class PrinterIDsDocumentState : public Tessary::XMLNoTextState {
public:
    PrinterIDsDocumentState(PrinterIDMap& manufacturers, PrinterIDMap& models)
        : manufacturers_(manufacturers), models_(models) {}

    XercesXMLParsingState* StartElement(const std::string& name,
                                        const std::map<std::string, std::string>& attributes) override;

private:
    PrinterIDMap& manufacturers_;
    PrinterIDMap& models_;
};

// Install directory + "\ORVIDs.xml".
Tessary::I8NString GetPrinterIDsPath();

// Replaces both maps with the document's entries: manufacturer name ->
// vendor id, model name -> product id. False when the document cannot be
// read or breaks a rule; the entries read before the fault stay.
bool LoadPrinterIDs(const Tessary::I8NString& path, PrinterIDMap& manufacturers, PrinterIDMap& models);
