// The language monitor library's one export.
#pragma once

#include "Platform/PrintMonitor.h"

extern "C" LPMONITOREX InitializePrintMonitor(LPWSTR registryRoot);
