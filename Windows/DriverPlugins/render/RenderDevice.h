// The rendering plug-in's device: the driver's functions it hooks, the
// page planes and the outside colour filter, and the hooked page functions.
#pragma once

#include <string>

#include "ColourFilter.h"
#include "PagePlanes.h"
#include "Platform/Ddi.h"

constexpr ULONG kHookCount = 29;

// The hook table's function indexes, in table order.
inline constexpr ULONG kHookIndexes[kHookCount] = {INDEX_DrvEscape,         INDEX_DrvStartDoc,
                                                   INDEX_DrvEndDoc,         INDEX_DrvStartPage,
                                                   INDEX_DrvSendPage,       INDEX_DrvNextBand,
                                                   INDEX_DrvStartBanding,   INDEX_DrvRealizeBrush,
                                                   INDEX_DrvDitherColor,    INDEX_DrvCopyBits,
                                                   INDEX_DrvBitBlt,         INDEX_DrvStretchBlt,
                                                   INDEX_DrvTextOut,        INDEX_DrvStrokePath,
                                                   INDEX_DrvFillPath,       INDEX_DrvStrokeAndFillPath,
                                                   INDEX_DrvPaint,          INDEX_DrvLineTo,
                                                   INDEX_DrvQueryFont,      INDEX_DrvQueryFontTree,
                                                   INDEX_DrvQueryFontData,  INDEX_DrvQueryAdvanceWidths,
                                                   INDEX_DrvFontManagement, INDEX_DrvGetGlyphMode,
                                                   INDEX_DrvStretchBltROP,  INDEX_DrvPlgBlt,
                                                   INDEX_DrvTransparentBlt, INDEX_DrvAlphaBlend,
                                                   INDEX_DrvGradientFill};

struct RenderDevice {
    RenderDevice() = default;
    ~RenderDevice();
    RenderDevice(const RenderDevice&) = delete;
    RenderDevice& operator=(const RenderDevice&) = delete;

    PFN driverFunctions[kHookCount] = {};
    PagePlanes planes;
    HMODULE filterLibrary = nullptr;
    ColourFilter* filter = nullptr;  // owned by the library
    IPrintOemDriverUni* helper = nullptr;
    // What the filter was given, for diagnostics.
    std::string filterDataPath;
};

// The hook table handed to the driver.
DRVFN* RenderHookTable();

// Builds the device for the driver's device object: takes the printer
// name, finds the driver's own functions and loads the colour filter named
// in the private settings. Null when the arguments do not allow a device.
// A filter that cannot be had (no library, export or object, a device id
// that cannot be read, a head that is not described) leaves the device
// without one.
RenderDevice* CreateRenderDevice(PDEVOBJ device, PWSTR printerName, const DRVENABLEDATA* driver,
                                 IPrintOemDriverUni* helper);
void DeleteRenderDevice(RenderDevice* device);

// A row from the driver's banding: filtered, then placed.
HRESULT FilterGraphicsRow(PDEVOBJ device, PBYTE row, DWORD bytes);

// Writes the page through the driver's spool-write helper, once per copy.
BOOL SendRenderedPage(PDEVOBJ device);
