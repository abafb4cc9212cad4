#include "RodizuzUzezProperties.h"

#include <cstring>

namespace {

constexpr DWORD kPortBufferBytes = 2048;

}  // namespace

RodizuzUzezProperties::RodizuzUzezProperties(const WCHAR* queueName) : printer(nullptr), opened(FALSE) {
    Open(queueName);
}

RodizuzUzezProperties::~RodizuzUzezProperties() {
    if (opened == TRUE && printer != nullptr) ClosePrinter(printer);
}

BOOL RodizuzUzezProperties::Open(const WCHAR* queueName) {
    if (opened == TRUE && printer != nullptr) ClosePrinter(printer);
    printer = nullptr;
    opened = FALSE;
    // Administer access would fail for an ordinary user and make a network
    // queue look like a USB one.
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
    const BOOL result = OpenPrinterW(queueName, &printer, &defaults);
    if (result == TRUE) {
        opened = TRUE;
    } else {
        printer = nullptr;
    }
    return result;
}

bool RodizuzUzezProperties::IsNetworkPort() {
    if (printer == nullptr) return false;
    BYTE buffer[kPortBufferBytes];
    std::memset(buffer, 0, sizeof buffer);
    DWORD needed = 0;
    if (GetPrinterDataExW(printer, u"\\", u"Port", nullptr, buffer, sizeof buffer, &needed) != ERROR_SUCCESS) {
        return false;
    }
    WCHAR port[3];
    std::memcpy(port, buffer, sizeof port);
    return !(port[0] == u'U' && port[1] == u'S' && port[2] == u'B');
}
