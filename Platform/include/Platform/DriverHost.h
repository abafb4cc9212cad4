// The printer driver stand-in that hosts a rendering plug-in: it loads the
// plug-in as an in-process server, hands it the driver's helper interface,
// takes its hook table and feeds page images through the hooked page
// functions as the driver would, either as one full-page surface or band by
// band through FilterGraphics. What the plug-in writes to the spooler goes
// to a sink the caller supplies.
#pragma once

#include "Platform/Ddi.h"

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
    HRESULT Open(const std::u16string& queueName, const DEVMODEW& publicSettings);
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

}  // namespace Platform
