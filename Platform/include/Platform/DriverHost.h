// The printer driver stand-in that hosts a rendering plug-in: it loads the
// plug-in as an in-process server, hands it the driver's helper interface,
// takes its hook table and feeds page images through the hooked page
// functions as the driver would, either as one full-page surface or band by
// band through FilterGraphics. What the plug-in writes to the spooler goes
// to a sink the caller supplies.
#pragma once

#include "Platform/Ddi.h"
#include "Platform/DriverUi.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// A page picture, red, green, blue per pixel, rows top to bottom.
struct PageImage {
    int width = 0;
    int height = 0;
    std::vector<BYTE> rgb;

    PageImage() = default;
    PageImage(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3, 0) {}
    BYTE* Pixel(int x, int y) { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    const BYTE* Pixel(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    bool operator==(const PageImage&) const = default;
};

// Binary portable pixmap ("P6", maximum value 255, at most 16384 x 16384).
// Anything else throws std::invalid_argument naming the fault.
PageImage ParsePpm(std::string_view bytes);
PageImage LoadPpm(const std::string& path);
std::string EncodePpm(const PageImage& image);
void SavePpm(const PageImage& image, const std::string& path);

// Where the spool-write helper delivers the print data: the spooler's job,
// or a test. Returns how many bytes it took.
class SpoolSink {
public:
    virtual ~SpoolSink() = default;
    virtual DWORD Write(const BYTE* data, DWORD size) = 0;
};

// Keeps everything in memory. A write limit makes later writes short.
class MemorySpoolSink : public SpoolSink {
public:
    DWORD Write(const BYTE* data, DWORD size) override;

    std::vector<BYTE> bytes;
    std::size_t writes = 0;
    // Total bytes accepted before writes start coming up short.
    std::size_t limit = static_cast<std::size_t>(-1);
};

enum class PageFeed {
    Surface,  // the whole page at DrvSendPage
    Bands,    // rows through FilterGraphics at each DrvNextBand
};

struct PrintOptions {
    PageFeed feed = PageFeed::Surface;
    int bandHeight = 128;
    bool bottomUp = false;  // surface rows stored last row first (negative stride)
};

class DriverHost {
public:
    explicit DriverHost(SpoolSink& sink);
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // Loads the plug-in, creates its object, publishes the helper and takes
    // the hook table.
    HRESULT Load(const std::u16string& moduleName, REFCLSID clsid);
    IPrintOemUni* Plugin() const { return plugin_; }
    const ComServerModule& Module() const { return module_; }

    // Opens the queue, asks the plug-in for its settings block (size, then
    // defaults for this queue and public settings) and enables the device.
    // A document's own block, when given, is merged over the defaults first,
    // as the driver does with the block a document carries.
    HRESULT Open(const std::u16string& queueName, const DEVMODEW& publicSettings,
                 const std::vector<BYTE>& documentSettings = {});
    // The plug-in's settings block of the document; change it before printing.
    std::vector<BYTE>& PrivateSettings() { return privateSettings_; }
    DEVMODEW& PublicSettings() { return publicSettings_; }
    PDEVOBJ Device();

    // One document, one page per image. FALSE when a page function fails.
    BOOL PrintDocument(const std::vector<PageImage>& pages, const PrintOptions& options = {});

    // Disables the device and closes the queue.
    void Close();

    // Calls of the driver's own functions, by function index.
    int DriverCalls(ULONG index) const;
    // The arguments of the last call of one of the driver's drawing and font
    // functions (not the page functions), each as its bits widened without
    // sign.
    std::vector<std::uintptr_t> DriverArguments(ULONG index) const;

    // The driver's own implementation of one function (for the plug-in's
    // hook table to forward to).
    static PFN DriverFunction(ULONG index);

private:
    struct HostDevice;
    class Helper;
    friend struct DriverFunctions;

    PFN Hooked(ULONG index) const;
    BOOL PrintPage(const PageImage& image, SURFOBJ& surface, const PrintOptions& options);
    void DrawImage(const PageImage& image, SURFOBJ& surface);

    ComServerModule module_;
    IPrintOemUni* plugin_ = nullptr;
    std::unique_ptr<Helper> helper_;
    DRVENABLEDATA hooks_{};
    std::unique_ptr<HostDevice> device_;
    HANDLE printer_ = nullptr;
    DEVMODEW publicSettings_{};
    std::vector<BYTE> privateSettings_;
    std::vector<DRVFN> driverTable_;
    std::map<ULONG, int> calls_;
    std::map<ULONG, std::vector<std::uintptr_t>> arguments_;
    // Band feeding state.
    const PageImage* bandImage_ = nullptr;
    int bandTop_ = 0;
    int bandHeight_ = 0;
    std::vector<BYTE> bandRow_;
};

// One CPSFUNC_ADD_PCOMPROPSHEETUIW call: the block as the plug-in gave it
// (its items, pages and user data stay the plug-in's), and the handle the
// add returned.
struct SheetBlock {
    COMPROPSHEETUI block{};
    std::vector<DLGPAGE> pages;
    LONG_PTR handle = 0;
};

// Every call of the sheet's function, in order.
struct SheetCall {
    UINT function = 0;
    LPARAM param1 = 0;
    LPARAM param2 = 0;
    LONG_PTR result = 0;
};

// The driver's user interface for a user-interface plug-in: it loads the
// plug-in, hands it the helper interface, keeps the document's settings
// blocks, asks for the plug-in's option items (CommonUIProp) beside the
// driver's own and builds the document or printer sheet with it, recording
// what the plug-in adds and the results it sets. Showing the pages is the
// dialog layer's (Mfc/DriverSheet.h).
class PrinterUiHost {
public:
    PrinterUiHost();
    ~PrinterUiHost();
    PrinterUiHost(const PrinterUiHost&) = delete;
    PrinterUiHost& operator=(const PrinterUiHost&) = delete;

    // Loads the plug-in by module name, creates its object and publishes
    // the helper.
    HRESULT Load(const std::u16string& moduleName, REFCLSID clsid);
    // The same with an object at hand (tests); the host takes a reference.
    HRESULT Attach(IPrintOemUI* plugin);
    IPrintOemUI* Plugin() const { return plugin_; }
    // References the plug-in holds on the helper.
    int HelperReferences() const;

    // Opens the queue (administer access) and asks the plug-in for its
    // settings block: size, then defaults for the queue.
    HRESULT Open(const std::u16string& queueName);
    HANDLE Printer() const { return printer_; }
    const std::u16string& PrinterName() const { return printerName_; }
    std::vector<BYTE>& PrivateSettings() { return privateSettings_; }
    DEVMODEW& PublicSettings() { return publicSettings_; }
    DriverHeap& Heap() { return *heap_; }

    // The driver's own option list; DMPUB_COLOR, DMPUB_NUP and
    // DMPUB_PAGEORDER, among others, by default.
    std::vector<OPTITEM>& DriverItems() { return driverItems_; }
    // CommonUIProp for OEMCUIP_DOCPROP or OEMCUIP_PRNPROP: first for the
    // count of the plug-in's items, then with that many zeroed items.
    HRESULT CommonUIProp(DWORD mode);
    std::vector<OPTITEM>& PluginItems() { return pluginItems_; }
    // Calls the plug-in's item callback for one of its items, as the
    // driver does when the user applies (CPSUICB_REASON_APPLYNOW) or enters
    // or leaves the page; 0 when the plug-in gave no callback.
    LONG ItemCallback(std::size_t item, WORD reason);

    // Builds the document sheet (the page parameters carry the settings
    // block) or the printer sheet (no block): PROPSHEETUI_REASON_INIT with
    // the page parameters.
    HRESULT DocumentPropertySheets();
    HRESULT DevicePropertySheets();
    // Any other reason to the sheet operation of the last sheet built;
    // with PROPSHEETUI_REASON_SET_RESULT, `result` is the one set.
    HRESULT SheetEvent(WORD reason, LRESULT result = CPSUI_OK);
    // The request of the last sheet operation (its Result after the call).
    const PROPSHEETUI_INFO& SheetInfo() const { return sheetInfo_; }
    const OEMUIPSPARAM& PageParameters() const { return pageParameters_; }

    const std::vector<SheetBlock>& Blocks() const { return blocks_; }
    const std::vector<SheetCall>& Calls() const { return calls_; }
    // Calls a block's callback as the sheet does (CPSUICB_REASON_SETACTIVE,
    // KILLACTIVE, APPLYNOW) for its dialog; 0 when it has none.
    LONG BlockCallback(std::size_t block, WORD reason, HWND dialog);

    // Ends the sheet's blocks and closes the queue; the plug-in stays.
    void Close();

    // A plug-in may call the sheet function with what it was given; forged
    // sheet handles fail (0).
    static LONG_PTR ComPropSheet(HANDLE sheet, UINT function, LPARAM param1, LPARAM param2);

private:
    class Helper;

    HRESULT Sheets(bool document);
    LONG_PTR Record(UINT function, LPARAM param1, LPARAM param2);

    ComServerModule module_;
    IPrintOemUI* plugin_ = nullptr;
    std::unique_ptr<Helper> helper_;
    std::unique_ptr<DriverHeap> heap_;
    HANDLE printer_ = nullptr;
    std::u16string printerName_;
    DEVMODEW publicSettings_{};
    std::vector<BYTE> privateSettings_;
    std::vector<OPTITEM> driverItems_;
    std::vector<OPTITEM> pluginItems_;
    OEMCUIPPARAM commonParam_{};
    OEMUIPSPARAM pageParameters_{};
    PROPSHEETUI_INFO sheetInfo_{};
    bool documentSheet_ = false;
    std::vector<SheetBlock> blocks_;
    std::vector<SheetCall> calls_;
};

}  // namespace Platform
