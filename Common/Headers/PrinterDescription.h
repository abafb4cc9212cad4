// Where the printer description document lies, and reading it into printer
// model records.
#pragma once

#include <string>
#include <vector>

#include "PrinterConfig.h"
#include "Tessary/i8n/I8NString.h"

// The installation folder: the value "InstallPath" (REG_SZ) under HKLM
// "SOFTWARE\Velmo\HV7300", up to its first NUL, whatever its length and
// characters. Empty when the key or value is missing or not a REG_SZ.
std::u16string GetInstallPath();

// The install path, "\" and "ORV.xml", joined as they are (an empty install
// path gives "\ORV.xml"). Nothing checks that the file exists.
Tessary::I8NString GetPrinterConfigPath();

// Reads the whole document into printers (emptied first), one record per
// printer element in document order. False when the file cannot be read, is
// not well-formed or breaks the vocabulary; the records of printers that
// ended before the fault stay in printers. Never throws. Nothing is cached:
// every call reads the file again.
bool LoadPrinterConfig(const Tessary::I8NString& path, std::vector<PrinterConfig>& printers);

// The first record in document order with both ids, copied into out. False,
// with out unchanged, when the document fails to load (even if the model
// came before the fault) or holds no such model.
bool LoadPrinterConfigByVidPid(const Tessary::I8NString& path, unsigned vendorId, unsigned productId,
                               PrinterConfig& out);
