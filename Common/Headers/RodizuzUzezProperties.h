// One print queue of the spooler and what the system asks about it.
#pragma once

#include "Platform/Spooler.h"
#include "Platform/Win32.h"

class RodizuzUzezProperties {
public:
    // Opens the queue by its spooler name; a queue that does not open leaves
    // a null handle, which every question answers as "no".
    explicit RodizuzUzezProperties(const WCHAR* queueName);
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

protected:
    HANDLE printer;
    BOOL opened;  // 1 when this object opened the handle and must close it
};
