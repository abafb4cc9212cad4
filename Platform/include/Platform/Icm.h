// Colour profiles associated with devices, kept in the driver store.
#pragma once

#include "Platform/Win32.h"

// Local machine only (a machine name: ERROR_NOT_SUPPORTED); the device is
// a print queue's name (ERROR_INVALID_PRINTER_NAME when there is none).
BOOL AssociateColorProfileWithDeviceW(LPCWSTR machineName, LPCWSTR profileName, LPCWSTR deviceName);
