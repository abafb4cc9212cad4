// One print queue of the spooler and what the system asks about it.
#pragma once

#include "Platform/Spooler.h"
#include "Platform/Win32.h"

class PrinterConfig;

class RodizuzUzezProperties {
public:
    // Opens the queue by its spooler name; a queue that does not open leaves
    // a null handle, which every question answers as "no".
    explicit RodizuzUzezProperties(const WCHAR* queueName);
    // Wraps a handle the driver supplies; never closes it.
    explicit RodizuzUzezProperties(HANDLE driverPrinter);
    virtual ~RodizuzUzezProperties();

    RodizuzUzezProperties(const RodizuzUzezProperties&) = delete;
    RodizuzUzezProperties& operator=(const RodizuzUzezProperties&) = delete;

    // Opens the queue to use it: reading its port and data needs no more,
    // so an ordinary user gets the same answers as an administrator. A
    // handle this object opened before is closed first. Returns the
    // spooler's result.
    BOOL Open(const WCHAR* queueName);

    // True unless the queue's port name begins with "USB" (capitals only).
    // A queue that is not open, or whose port cannot be read, is not a
    // network one.
    bool IsNetworkPort();

    // The driver plug-ins' printer data values. Results: 0 on success, the
    // spooler's error code, or -1 for a null out argument or no handle.
    int ReadPrinterData(const WCHAR* name, BYTE* buffer, DWORD size);
    int WritePrinterData(const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes);
    // "DEVICE_ID" as narrow text, at most size - 1 bytes, always terminated.
    int GetDeviceID(char* buffer, unsigned size);
    // The model record of the printer that answers the queue's device id.
    bool IdentifyPrinter(PrinterConfig& out);
    int GetCCIndex(int* out);
    int GetCCFilter(char* buffer, unsigned size);
    // The stored filter data, else the model's default LUT reference for
    // the printer's head. The model lookups may throw TSException.
    int GetCCFilterData(char* buffer, unsigned size);
    int GetPinSticky(int* out);
    int GetPinValue(unsigned* out);
    int SetCCIndex(int value);
    int SetCCFilter(const char* text);
    int SetCCFilterData(const char* text);
    int SetPinSticky(int value);
    int SetPinValue(int value);
    HANDLE Handle() const { return printer; }

protected:
    HANDLE printer;
    BOOL opened;  // 1 when this object opened the handle and must close it
};
