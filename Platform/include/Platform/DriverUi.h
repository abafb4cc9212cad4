// The printer driver's user-interface side of a plug-in: the common
// property-sheet structures (pages, option items, their callbacks), the
// parameters the driver hands to a user-interface plug-in, and the plug-in
// and helper interfaces. Our own layout of what the plug-ins use; sizes
// are those of this build (sizeof), never fixed figures. The driver host
// (DriverHost.h) plays the driver's user interface.
#pragma once

#include "Platform/Ddi.h"
#include "Platform/Resource.h"

// ----- Option items

// Option item flags.
constexpr DWORD OPTIF_COLLAPSE = 0x00000001;
constexpr DWORD OPTIF_HIDE = 0x00000002;
constexpr DWORD OPTIF_CHANGED = 0x00000008;
constexpr DWORD OPTIF_DISABLED = 0x00000020;
constexpr DWORD OPTIF_EXT_HIDE = 0x00000080;
constexpr DWORD OPTIF_EXT_DISABLED = 0x00000100;

// Option types.
constexpr BYTE TVOT_2STATES = 0;
constexpr BYTE TVOT_3STATES = 1;
constexpr BYTE TVOT_UDARROW = 2;
constexpr BYTE TVOT_TRACKBAR = 3;
constexpr BYTE TVOT_SCROLLBAR = 4;
constexpr BYTE TVOT_LISTBOX = 5;
constexpr BYTE TVOT_COMBOBOX = 6;

// Public settings ids of the driver's own document options.
constexpr BYTE DMPUB_NONE = 0;
constexpr BYTE DMPUB_ORIENTATION = 1;
constexpr BYTE DMPUB_SCALE = 2;
constexpr BYTE DMPUB_COPIES_COLLATE = 3;
constexpr BYTE DMPUB_DEFSOURCE = 4;
constexpr BYTE DMPUB_PRINTQUALITY = 5;
constexpr BYTE DMPUB_COLOR = 6;
constexpr BYTE DMPUB_DUPLEX = 7;
constexpr BYTE DMPUB_NUP = 16;
constexpr BYTE DMPUB_PAGEORDER = 17;

// One choice of an option type. For TVOT_UDARROW the first entry's pData
// names the unit and the second gives the range: IconID the lowest,
// lParam the highest value.
struct OPTPARAM {
    WORD cbSize;
    BYTE Flags;
    BYTE Style;
    LPWSTR pData;
    ULONG_PTR IconID;
    LPARAM lParam;
};
using POPTPARAM = OPTPARAM*;

struct OPTTYPE {
    WORD cbSize;
    BYTE Type;  // TVOT_*
    BYTE Flags;
    WORD Count;  // entries at pOptParam
    WORD BegCtrlID;
    POPTPARAM pOptParam;
    WORD Style;
};
using POPTTYPE = OPTTYPE*;

struct OPTITEM {
    WORD cbSize;
    BYTE Level;
    BYTE DlgPageIdx;
    DWORD Flags;  // OPTIF_*
    ULONG_PTR UserData;
    LPWSTR pName;
    LONG Sel;  // index into the type's entries, or the value of a number
    POPTTYPE pOptType;
    DWORD HelpIndex;
    BYTE DMPubID;  // DMPUB_* of a driver's own option, DMPUB_NONE else
    BYTE UserItemID;
};
using POPTITEM = OPTITEM*;

// ----- Callbacks of pages and items

constexpr WORD CPSUICB_REASON_SEL_CHANGED = 0;
constexpr WORD CPSUICB_REASON_APPLYNOW = 6;
constexpr WORD CPSUICB_REASON_SETACTIVE = 10;
constexpr WORD CPSUICB_REASON_KILLACTIVE = 11;

constexpr LONG CPSUICB_ACTION_NONE = 0;
constexpr LONG CPSUICB_ACTION_OPTIF_CHANGED = 1;
constexpr LONG CPSUICB_ACTION_ITEMS_APPLIED = 4;

constexpr LONG CPSUI_CANCEL = 0;
constexpr LONG CPSUI_OK = 1;

struct CPSUICBPARAM {
    WORD cbSize;
    WORD Reason;  // CPSUICB_REASON_*
    HWND hDlg;
    POPTITEM pOptItem;  // the block's items
    WORD cOptItem;
    WORD Flags;
    POPTITEM pCurItem;  // the item concerned
    LONG OldSel;
    ULONG_PTR UserData;  // the block's UserData
    ULONG_PTR Result;
};
using PCPSUICBPARAM = CPSUICBPARAM*;
using PFNCPSUICALLBACK = LONG (*)(PCPSUICBPARAM param);

// ----- Pages and blocks of pages

// A dialog page. With DPF_USE_HDLGTEMPLATE, hDlgTemplate is what
// LockResource gives for a dialog resource (RT_DIALOG); else DlgTemplateID
// names a dialog of the block's hInstCaller. The dialog procedure's
// WM_INITDIALOG carries a PROPSHEETPAGEW whose lParam is the block's
// UserData.
constexpr WORD DPF_ICONID_AS_HICON = 0x0001;
constexpr WORD DPF_USE_HDLGTEMPLATE = 0x0002;

using INT_PTR = std::intptr_t;
using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

struct DLGPAGE {
    WORD cbSize;
    WORD Flags;  // DPF_*
    DLGPROC DlgProc;
    LPWSTR pTabName;
    ULONG_PTR IconID;
    WORD DlgTemplateID;
    HANDLE hDlgTemplate;
};
using PDLGPAGE = DLGPAGE*;

struct PROPSHEETPAGEW {
    DWORD dwSize;
    DWORD dwFlags;
    HINSTANCE hInstance;
    DLGPROC pfnDlgProc;
    LPARAM lParam;
};
using LPPROPSHEETPAGEW = PROPSHEETPAGEW*;

constexpr DWORD CPSUIF_UPDATE_PERMISSION = 0x0001;

// A block of pages and items added to a sheet at once.
struct COMPROPSHEETUI {
    WORD cbSize;
    WORD Flags;  // CPSUIF_*
    HINSTANCE hInstCaller;
    LPWSTR pCallerName;
    ULONG_PTR UserData;
    LPWSTR pHelpFile;
    PFNCPSUICALLBACK pfnCallBack;
    POPTITEM pOptItem;
    PDLGPAGE pDlgPage;
    WORD cOptItem;
    WORD cDlgPage;
    ULONG_PTR IconID;
    LPWSTR pOptItemName;
    WORD CallerVersion;
    WORD OptItemVersion;
};
using PCOMPROPSHEETUI = COMPROPSHEETUI*;

// ----- The sheet's functions and the sheet operations

// Functions of the sheet a plug-in may call through pfnComPropSheet. Adding
// a block returns a handle of the added pages (non-zero), 0 on failure;
// setting the result takes the handle and the result (CPSUI_OK).
constexpr UINT CPSFUNC_ADD_PCOMPROPSHEETUIW = 3;
constexpr UINT CPSFUNC_SET_RESULT = 9;

using PFNCOMPROPSHEET = LONG_PTR (*)(HANDLE sheet, UINT function, LPARAM param1, LPARAM param2);

constexpr WORD PROPSHEETUI_INFO_VERSION = 0x0100;

constexpr WORD PROPSHEETUI_REASON_INIT = 0;
constexpr WORD PROPSHEETUI_REASON_GET_INFO_HEADER = 1;
constexpr WORD PROPSHEETUI_REASON_DESTROY = 2;
constexpr WORD PROPSHEETUI_REASON_SET_RESULT = 3;
constexpr WORD PROPSHEETUI_REASON_GET_ICON = 4;

// Given with PROPSHEETUI_REASON_SET_RESULT.
struct SETRESULT_INFO {
    WORD cbSize;
    WORD wReserved;
    HANDLE hSetResult;
    LRESULT Result;
};
using PSETRESULT_INFO = SETRESULT_INFO*;

struct PROPSHEETUI_INFO {
    WORD cbSize;
    WORD Version;  // PROPSHEETUI_INFO_VERSION
    WORD Flags;
    WORD Reason;  // PROPSHEETUI_REASON_*
    HANDLE hComPropSheet;
    PFNCOMPROPSHEET pfnComPropSheet;
    LPARAM lParamInit;  // the driver's page parameters (POEMUIPSPARAM)
    ULONG_PTR UserData;
    ULONG_PTR Result;
};
using PPROPSHEETUI_INFO = PROPSHEETUI_INFO*;

// ----- What the driver hands to a user-interface plug-in

// The page parameters of a sheet that is being built. pOEMDM is the
// document's plug-in settings block in a document sheet, null in the
// printer sheet.
struct OEMUIPSPARAM {
    DWORD cbSize;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    DWORD dwFlags;
};
using POEMUIPSPARAM = OEMUIPSPARAM*;

constexpr DWORD OEMCUIP_DOCPROP = 1;
constexpr DWORD OEMCUIP_PRNPROP = 2;

struct OEMCUIPPARAM;
using OEMCUIPCALLBACK = LONG (*)(PCPSUICBPARAM param, OEMCUIPPARAM* oemParam);

// The option lists of CommonUIProp. Asked with pOEMOptItems null, the
// plug-in sets cOEMOptItems to the number of items it wants; asked again
// with that many zeroed items, it fills them.
struct OEMCUIPPARAM {
    DWORD cbSize;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    DWORD dwFlags;
    POPTITEM pDrvOptItems;
    DWORD cDrvOptItems;
    POPTITEM pOEMOptItems;
    DWORD cOEMOptItems;
    PVOID pOEMUserData;
    OEMCUIPCALLBACK OEMCUIPCallback;
};
using POEMCUIPPARAM = OEMCUIPPARAM*;

// The driver's heap (hOEMHeap): blocks stay until freed or until the heap
// ends with its sheet. A handle that names no live heap fails.
constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
LPVOID HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// ----- The interfaces

// Opaque to the plug-in.
struct OEMUIOBJ;
using POEMUIOBJ = OEMUIOBJ*;

// The driver's helper interface for a user-interface plug-in; the plug-in
// only keeps it.
inline constexpr IID IID_IPrintOemDriverUI{
    0x92B05D50, 0x78BC, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

class IPrintOemDriverUI : public IUnknown {
protected:
    ~IPrintOemDriverUI() = default;
};

// The user-interface plug-in interface, in slot order.
inline constexpr IID IID_IPrintOemUI{0xC6A7A9D0, 0x774C, 0x11D1, {0x94, 0x7F, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

class IPrintOemUI : public IUnknown {
public:
    virtual HRESULT GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) = 0;
    virtual HRESULT DevMode(DWORD mode, POEM_DMPARAM param) = 0;
    virtual HRESULT PublishDriverInterface(IUnknown* driver) = 0;
    virtual HRESULT CommonUIProp(DWORD mode, POEMCUIPPARAM param) = 0;
    virtual HRESULT DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM param) = 0;
    virtual HRESULT DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM param) = 0;
    virtual HRESULT DevQueryPrintEx(POEMUIOBJ object, PVOID query, PDEVMODEW publicDM, PVOID oemDM) = 0;
    virtual HRESULT DeviceCapabilities(POEMUIOBJ object, HANDLE printer, PWSTR deviceName, WORD capability,
                                       PVOID output, PDEVMODEW publicDM, PVOID oemDM, DWORD oldResult,
                                       DWORD* result) = 0;
    virtual HRESULT UpgradePrinter(DWORD level, PBYTE upgradeInfo) = 0;
    virtual HRESULT PrinterEvent(PWSTR printerName, int driverEvent, DWORD flags, LPARAM param) = 0;
    virtual HRESULT DriverEvent(DWORD driverEvent, DWORD level, LPBYTE driverInfo, LPARAM param) = 0;
    virtual HRESULT QueryColorProfile(HANDLE printer, POEMUIOBJ object, PDEVMODEW publicDM, PVOID oemDM,
                                      ULONG queryMode, PVOID profile, ULONG* size, FLONG* flags) = 0;
    virtual HRESULT FontInstallerDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT UpdateExternalFonts(HANDLE printer, HANDLE heap, PWSTR cartridges) = 0;

protected:
    ~IPrintOemUI() = default;
};

namespace Platform {

// A driver's heap for one sheet: HeapAlloc and HeapFree on its handle; what
// is left is freed with it.
class DriverHeap {
public:
    DriverHeap();
    ~DriverHeap();
    DriverHeap(const DriverHeap&) = delete;
    DriverHeap& operator=(const DriverHeap&) = delete;

    HANDLE Handle() const { return handle_; }
    // Blocks allocated and not yet freed.
    std::size_t Blocks() const;

private:
    HANDLE handle_;
};

}  // namespace Platform
