// The printer driver's side of the rendering and settings plug-ins: the
// public and plug-in settings blocks, the driver's device object, surfaces,
// the hook table and the two plug-in interfaces. Our own layout of what the
// plug-ins use; the driver host (DriverHost.h) plays the driver.
#pragma once

#include "Platform/Com.h"
#include "Platform/Spooler.h"
#include "Platform/Win32.h"

using SHORT = std::int16_t;
using PVOID = void*;
using PBYTE = BYTE*;
using PDWORD = DWORD*;
using PSTR = char*;
using PWSTR = WCHAR*;
using FLONG = ULONG;

constexpr int CCHDEVICENAME = 32;
constexpr SHORT DMORIENT_PORTRAIT = 1;
constexpr SHORT DMORIENT_LANDSCAPE = 2;

// The part of the public settings block the plug-ins read. Paper sizes are
// in tenths of a millimetre.
struct DEVMODEW {
    WCHAR dmDeviceName[CCHDEVICENAME];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    SHORT dmOrientation;
    SHORT dmPaperSize;
    SHORT dmPaperLength;
    SHORT dmPaperWidth;
    SHORT dmScale;
    SHORT dmCopies;
};
using PDEVMODEW = DEVMODEW*;

// Plug-in settings block requests (DevMode).
constexpr DWORD OEMDM_SIZE = 1;
constexpr DWORD OEMDM_DEFAULT = 2;
constexpr DWORD OEMDM_CONVERT = 3;
constexpr DWORD OEMDM_MERGE = 4;

struct OEM_DMPARAM {
    DWORD cbSize;
    PVOID pdriverobj;
    HANDLE hPrinter;
    HANDLE hModule;
    PDEVMODEW pPublicDMIn;
    PDEVMODEW pPublicDMOut;
    PVOID pOEMDMIn;
    PVOID pOEMDMOut;
    DWORD cbBufSize;  // size of the plug-in block at pOEMDMOut
};
using POEM_DMPARAM = OEM_DMPARAM*;

// GetInfo requests.
constexpr DWORD OEMGI_GETSIGNATURE = 1;
constexpr DWORD OEMGI_GETINTERFACEVERSION = 2;
constexpr DWORD OEMGI_GETVERSION = 3;
constexpr DWORD OEMGI_GETPUBLISHERINFO = 4;

// The driver's device object as a plug-in sees it.
struct DEVOBJ {
    DWORD dwSize;
    PVOID pdevOEM;  // the plug-in's own device, from EnablePDEV
    HANDLE hPrinter;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;  // the plug-in settings block of the document
};
using PDEVOBJ = DEVOBJ*;
using DHPDEV = PDEVOBJ;  // the driver's device handed to every drawing call

struct POINTL {
    LONG x;
    LONG y;
};
struct SIZEL {
    LONG cx;
    LONG cy;
};

constexpr ULONG BMF_24BPP = 4;

// A drawing surface. Rows are lDelta bytes apart starting at pvScan0; a
// bottom-up surface has a negative lDelta and pvScan0 on its last row in
// memory. Pixels of a 24-bit surface are blue, green, red.
struct SURFOBJ {
    DHPDEV dhpdev;
    SIZEL sizlBitmap;
    ULONG cjBits;
    PVOID pvBits;
    PVOID pvScan0;
    LONG lDelta;
    ULONG iBitmapFormat;
};

// A function of any signature, as the hook tables hold it.
using PFN = void (*)();
struct DRVFN {
    ULONG iFunc;
    PFN pfn;
};
struct DRVENABLEDATA {
    ULONG iDriverVersion;
    ULONG c;
    DRVFN* pdrvfn;
};
using PDRVENABLEDATA = DRVENABLEDATA*;

constexpr ULONG DRIVER_VERSION_HOOKS = 0x10000;

// Drawing function indexes.
constexpr ULONG INDEX_DrvRealizeBrush = 12;
constexpr ULONG INDEX_DrvDitherColor = 13;
constexpr ULONG INDEX_DrvStrokePath = 14;
constexpr ULONG INDEX_DrvFillPath = 15;
constexpr ULONG INDEX_DrvStrokeAndFillPath = 16;
constexpr ULONG INDEX_DrvPaint = 17;
constexpr ULONG INDEX_DrvBitBlt = 18;
constexpr ULONG INDEX_DrvCopyBits = 19;
constexpr ULONG INDEX_DrvStretchBlt = 20;
constexpr ULONG INDEX_DrvTextOut = 23;
constexpr ULONG INDEX_DrvEscape = 24;
constexpr ULONG INDEX_DrvQueryFont = 26;
constexpr ULONG INDEX_DrvQueryFontTree = 27;
constexpr ULONG INDEX_DrvQueryFontData = 28;
constexpr ULONG INDEX_DrvLineTo = 31;
constexpr ULONG INDEX_DrvSendPage = 32;
constexpr ULONG INDEX_DrvStartPage = 33;
constexpr ULONG INDEX_DrvEndDoc = 34;
constexpr ULONG INDEX_DrvStartDoc = 35;
constexpr ULONG INDEX_DrvGetGlyphMode = 37;
constexpr ULONG INDEX_DrvFontManagement = 47;
constexpr ULONG INDEX_DrvQueryAdvanceWidths = 53;
constexpr ULONG INDEX_DrvStartBanding = 57;
constexpr ULONG INDEX_DrvNextBand = 58;
constexpr ULONG INDEX_DrvGradientFill = 68;
constexpr ULONG INDEX_DrvStretchBltROP = 69;
constexpr ULONG INDEX_DrvPlgBlt = 70;
constexpr ULONG INDEX_DrvAlphaBlend = 71;
constexpr ULONG INDEX_DrvTransparentBlt = 74;

// What the drawing and font functions pass by pointer. The plug-ins and the
// driver host only hand these on, so their contents are not declared.
struct RECTL;
struct POINTFIX;
struct CLIPOBJ;
struct XLATEOBJ;
struct BRUSHOBJ;
struct STROBJ;
struct FONTOBJ;
struct PATHOBJ;
struct XFORMOBJ;
struct LINEATTRS;
struct COLORADJUSTMENT;
struct GLYPHDATA;
struct IFIMETRICS;
struct BLENDOBJ;
struct TRIVERTEX;
using MIX = ULONG;
using ROP4 = ULONG;
using HGLYPH = ULONG;

// DrvFontManagement's query whether an escape is supported; it comes
// without a surface, the escape number at the input.
constexpr ULONG QUERYESCSUPPORT = 8;

// The driver functions a plug-in can hook, each in its own type.
using PFN_DrvStartDoc = BOOL (*)(SURFOBJ* surface, LPWSTR documentName, DWORD jobId);
using PFN_DrvEndDoc = BOOL (*)(SURFOBJ* surface, FLONG flags);
using PFN_DrvStartPage = BOOL (*)(SURFOBJ* surface);
using PFN_DrvSendPage = BOOL (*)(SURFOBJ* surface);
using PFN_DrvStartBanding = BOOL (*)(SURFOBJ* surface, POINTL* origin);
using PFN_DrvNextBand = BOOL (*)(SURFOBJ* surface, POINTL* origin);
using PFN_DrvEscape = ULONG (*)(SURFOBJ* surface, ULONG escape, ULONG inSize, PVOID in, ULONG outSize, PVOID out);
using PFN_DrvRealizeBrush = BOOL (*)(PVOID brush, SURFOBJ* target, SURFOBJ* pattern, SURFOBJ* mask, PVOID translate,
                                     ULONG hatch);
using PFN_DrvDitherColor = ULONG (*)(DHPDEV device, ULONG mode, ULONG rgb, ULONG* indexes);
using PFN_DrvCopyBits = BOOL (*)(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* translate,
                                 RECTL* targetRect, POINTL* sourceOrigin);
using PFN_DrvBitBlt = BOOL (*)(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                               RECTL* targetRect, POINTL* sourceOrigin, POINTL* maskOrigin, BRUSHOBJ* brush,
                               POINTL* brushOrigin, ROP4 rop);
using PFN_DrvStretchBlt = BOOL (*)(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                                   COLORADJUSTMENT* adjustment, POINTL* halftoneOrigin, RECTL* targetRect,
                                   RECTL* sourceRect, POINTL* maskOrigin, ULONG mode);
using PFN_DrvTextOut = BOOL (*)(SURFOBJ* surface, STROBJ* text, FONTOBJ* font, CLIPOBJ* clip, RECTL* extra,
                                RECTL* opaqueRect, BRUSHOBJ* foreground, BRUSHOBJ* opaque, POINTL* brushOrigin,
                                MIX mix);
using PFN_DrvStrokePath = BOOL (*)(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* transform, BRUSHOBJ* brush,
                                   POINTL* brushOrigin, LINEATTRS* line, MIX mix);
using PFN_DrvFillPath = BOOL (*)(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush, POINTL* brushOrigin,
                                 MIX mix, FLONG options);
using PFN_DrvStrokeAndFillPath = BOOL (*)(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* transform,
                                          BRUSHOBJ* stroke, LINEATTRS* line, BRUSHOBJ* fill, POINTL* brushOrigin,
                                          MIX fillMix, FLONG options);
using PFN_DrvPaint = BOOL (*)(SURFOBJ* surface, CLIPOBJ* clip, BRUSHOBJ* brush, POINTL* brushOrigin, MIX mix);
using PFN_DrvLineTo = BOOL (*)(SURFOBJ* surface, CLIPOBJ* clip, BRUSHOBJ* brush, LONG x1, LONG y1, LONG x2, LONG y2,
                               RECTL* bounds, MIX mix);
using PFN_DrvQueryFont = IFIMETRICS* (*)(DHPDEV device, ULONG_PTR file, ULONG face, ULONG_PTR* id);
using PFN_DrvQueryFontTree = PVOID (*)(DHPDEV device, ULONG_PTR file, ULONG face, ULONG mode, ULONG_PTR* id);
using PFN_DrvQueryFontData = LONG (*)(DHPDEV device, FONTOBJ* font, ULONG mode, HGLYPH glyph, GLYPHDATA* data,
                                      PVOID buffer, ULONG size);
using PFN_DrvQueryAdvanceWidths = BOOL (*)(DHPDEV device, FONTOBJ* font, ULONG mode, HGLYPH* glyphs, PVOID widths,
                                           ULONG count);
// The surface is null for QUERYESCSUPPORT.
using PFN_DrvFontManagement = ULONG (*)(SURFOBJ* surface, FONTOBJ* font, ULONG mode, ULONG inSize, PVOID in,
                                        ULONG outSize, PVOID out);
using PFN_DrvGetGlyphMode = ULONG (*)(DHPDEV device, FONTOBJ* font);
using PFN_DrvStretchBltROP = BOOL (*)(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                                      XLATEOBJ* translate, COLORADJUSTMENT* adjustment, POINTL* halftoneOrigin,
                                      RECTL* targetRect, RECTL* sourceRect, POINTL* maskOrigin, ULONG mode,
                                      BRUSHOBJ* brush, ROP4 rop);
using PFN_DrvPlgBlt = BOOL (*)(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                               COLORADJUSTMENT* adjustment, POINTL* brushOrigin, POINTFIX* corners, RECTL* sourceRect,
                               POINTL* maskOrigin, ULONG mode);
using PFN_DrvTransparentBlt = BOOL (*)(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* translate,
                                       RECTL* targetRect, RECTL* sourceRect, ULONG transparentColour, ULONG reserved);
using PFN_DrvAlphaBlend = BOOL (*)(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* translate,
                                   RECTL* targetRect, RECTL* sourceRect, BLENDOBJ* blend);
using PFN_DrvGradientFill = BOOL (*)(SURFOBJ* target, CLIPOBJ* clip, XLATEOBJ* translate, TRIVERTEX* vertices,
                                     ULONG vertexCount, PVOID mesh, ULONG meshCount, RECTL* extents,
                                     POINTL* ditherOrigin, ULONG mode);

// The type of the function behind a function index: a table entry's PFN is
// called only after a cast to this.
template <ULONG Index>
struct DdiFunction;
#define VELMO_DDI_FUNCTION(name)       \
    template <>                        \
    struct DdiFunction<INDEX_##name> { \
        using type = PFN_##name;       \
    };
VELMO_DDI_FUNCTION(DrvStartDoc)
VELMO_DDI_FUNCTION(DrvEndDoc)
VELMO_DDI_FUNCTION(DrvStartPage)
VELMO_DDI_FUNCTION(DrvSendPage)
VELMO_DDI_FUNCTION(DrvStartBanding)
VELMO_DDI_FUNCTION(DrvNextBand)
VELMO_DDI_FUNCTION(DrvEscape)
VELMO_DDI_FUNCTION(DrvRealizeBrush)
VELMO_DDI_FUNCTION(DrvDitherColor)
VELMO_DDI_FUNCTION(DrvCopyBits)
VELMO_DDI_FUNCTION(DrvBitBlt)
VELMO_DDI_FUNCTION(DrvStretchBlt)
VELMO_DDI_FUNCTION(DrvTextOut)
VELMO_DDI_FUNCTION(DrvStrokePath)
VELMO_DDI_FUNCTION(DrvFillPath)
VELMO_DDI_FUNCTION(DrvStrokeAndFillPath)
VELMO_DDI_FUNCTION(DrvPaint)
VELMO_DDI_FUNCTION(DrvLineTo)
VELMO_DDI_FUNCTION(DrvQueryFont)
VELMO_DDI_FUNCTION(DrvQueryFontTree)
VELMO_DDI_FUNCTION(DrvQueryFontData)
VELMO_DDI_FUNCTION(DrvQueryAdvanceWidths)
VELMO_DDI_FUNCTION(DrvFontManagement)
VELMO_DDI_FUNCTION(DrvGetGlyphMode)
VELMO_DDI_FUNCTION(DrvStretchBltROP)
VELMO_DDI_FUNCTION(DrvPlgBlt)
VELMO_DDI_FUNCTION(DrvTransparentBlt)
VELMO_DDI_FUNCTION(DrvAlphaBlend)
VELMO_DDI_FUNCTION(DrvGradientFill)
#undef VELMO_DDI_FUNCTION
template <ULONG Index>
using DdiFunctionType = typename DdiFunction<Index>::type;

// Capacity of the printer name buffer handed to EnablePDEV, with its zero.
constexpr DWORD PRINTER_NAME_BUFFER_UNITS = 256;

// The driver's helper interface for a rendering plug-in.
inline constexpr IID IID_IPrintOemDriverUni{
    0xD67EBBF1, 0x78BF, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

class IPrintOemDriverUni : public IUnknown {
public:
    // Hands bytes to the spooler's job; *written gets what was taken.
    virtual HRESULT DrvWriteSpoolBuf(PDEVOBJ device, PVOID buffer, DWORD size, DWORD* written) = 0;

protected:
    ~IPrintOemDriverUni() = default;
};

// The rendering plug-in interface, in slot order.
inline constexpr IID IID_IPrintOemUni{0xD67EBBF0, 0x78BF, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

class IPrintOemUni : public IUnknown {
public:
    virtual HRESULT GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) = 0;
    virtual HRESULT DevMode(DWORD mode, POEM_DMPARAM param) = 0;
    virtual HRESULT EnableDriver(DWORD driverVersion, DWORD size, PDRVENABLEDATA enableData) = 0;
    virtual HRESULT DisableDriver() = 0;
    virtual HRESULT EnablePDEV(PDEVOBJ device, PWSTR printerName, ULONG patternCount, PVOID patterns, ULONG gdiInfoSize,
                               PVOID gdiInfo, ULONG devInfoSize, PVOID devInfo, DRVENABLEDATA* driverFunctions,
                               PVOID* pluginDevice) = 0;
    virtual HRESULT DisablePDEV(PDEVOBJ device) = 0;
    virtual HRESULT ResetPDEV(PDEVOBJ oldDevice, PDEVOBJ newDevice) = 0;
    virtual HRESULT PublishDriverInterface(IUnknown* driver) = 0;
    virtual HRESULT GetImplementedMethod(PSTR methodName) = 0;
    virtual HRESULT DriverDMS(PVOID device, PVOID buffer, DWORD size, PDWORD needed) = 0;
    virtual HRESULT CommandCallback(PDEVOBJ device, DWORD command, DWORD count, PDWORD params, int* result) = 0;
    virtual HRESULT ImageProcessing(PDEVOBJ device, PBYTE bitmap, PVOID header, PBYTE colorTable, DWORD callbackId,
                                    PVOID info, PBYTE* result) = 0;
    virtual HRESULT FilterGraphics(PDEVOBJ device, PBYTE row, DWORD bytes) = 0;
    virtual HRESULT Compression(PDEVOBJ device, PBYTE in, PBYTE out, DWORD inSize, DWORD outSize, int* result) = 0;
    virtual HRESULT HalftonePattern(PDEVOBJ device, PBYTE in, PBYTE out, DWORD width, DWORD height, DWORD size,
                                    DWORD resourceId) = 0;
    virtual HRESULT MemoryUsage(PDEVOBJ device, PVOID usage) = 0;
    virtual HRESULT DownloadFontHeader(PDEVOBJ device, PVOID font, PVOID fontInfo, DWORD* result) = 0;
    virtual HRESULT DownloadCharGlyph(PDEVOBJ device, PVOID font, PVOID fontInfo, HANDLE glyph, PDWORD width,
                                      DWORD* result) = 0;
    virtual HRESULT TTDownloadMethod(PDEVOBJ device, PVOID font, PVOID fontInfo, DWORD* result) = 0;
    virtual HRESULT OutputCharStr(PDEVOBJ device, PVOID font, PVOID fontInfo, DWORD type, DWORD count,
                                  PVOID glyphs) = 0;
    virtual HRESULT SendFontCmd(PDEVOBJ device, PVOID font, PVOID fontInfo, PVOID command) = 0;
    virtual HRESULT TextOutAsBitmap(SURFOBJ* surface, PVOID text, PVOID font, PVOID clip, PVOID extra, PVOID opaque,
                                    PVOID foreground, PVOID background, POINTL* origin, ULONG mix) = 0;
    virtual HRESULT TTYGetInfo(PDEVOBJ device, DWORD mode, PVOID buffer, DWORD size, DWORD* needed) = 0;

protected:
    ~IPrintOemUni() = default;
};
