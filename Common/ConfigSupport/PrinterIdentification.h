// Deciding from a printer's IEEE 1284 device id which model it is and
// whether the configuration utility supports it.
#pragma once

#include <string>

#include "Common/Headers/PrinterConfig.h"
#include "Tessary/i8n/I8NString.h"

// The model name of the first dock, the one model whose firmware version is
// checked before it is configured.
extern const char* const BaseDockModelName;

// Where the installation keeps them: the printer description and the
// printer-id document of the install directory.
bool IdentifyPrinterFromDeviceID(const char* id);

// The printer description record of the printer that reports these 1284
// names: the names give the USB ids through the printer-id document, the
// ids give the record. False when either document fails to load or a name
// or the ids are not found (out is then unchanged).
bool LookupPrinterByDeviceNames(const Tessary::I8NString& descriptionPath, const Tessary::I8NString& idsPath,
                                const std::string& manufacturer, const std::string& model, PrinterConfig& out);

// True when the printer with this device id can be configured: it reports
// a version, its model is described and reachable over the network, and a
// base dock runs firmware 3.01 or later. A base dock's version that is not
// a number throws boost::bad_lexical_cast.
bool IdentifyPrinterFromDeviceID(const char* id, const Tessary::I8NString& descriptionPath,
                                 const Tessary::I8NString& idsPath);
