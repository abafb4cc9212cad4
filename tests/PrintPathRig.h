// The whole print path on the simulated machine, for the end-to-end test
// and the demo: an install folder with the printer description, a queue on
// USB001 with the dock behind it, the language monitor loaded and bound to
// the queue, and the driver host printing page images into a spool sink
// that offers the data to the monitor's port as the spooler does.
#pragma once

#include "Platform/DriverHost.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/PrintMonitor.h"
#include "Platform/Registry.h"
#include "Platform/Resource.h"
#include "Platform/Spooler.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Windows/Common/ResourceDLL.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace PrintPath {

inline constexpr const char16_t* kQueue = u"Velmo Glimmer Dock";
inline constexpr const char16_t* kPort = u"USB001";
inline constexpr CLSID kRenderClass{0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// REG_SZ as the plug-ins store it: UTF-16 without a terminating zero.
inline Platform::RegValue Text(std::u16string_view text) {
    Platform::RegValue value;
    value.type = REG_SZ;
    for (char16_t unit : text) {
        value.data.push_back(static_cast<BYTE>(unit));
        value.data.push_back(static_cast<BYTE>(unit >> 8));
    }
    return value;
}

inline std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Offers what the plug-in writes to the language monitor's port the way the
// spooler does: in pieces, offering held data again until it is taken, and
// giving up when the job was deleted or the port keeps failing.
class PortSpoolSink final : public Platform::SpoolSink {
public:
    static constexpr DWORD kPiece = 16384;
    // Offers taking nothing in a row before the spooler gives up (each is a
    // held second or more on the clock).
    static constexpr int kMaxIdleOffers = 2000;
    // Real time the monitor's poller gets to read the printer's status
    // after a held offer; only a poller that stopped takes that long.
    static constexpr std::chrono::seconds kPollerSilence{60};

    // whileHeld, when set, runs between held offers (a user at the printer).
    PortSpoolSink(const MONITOR& monitor, HANDLE port, DWORD job, Simulators::DockPrinter& dock,
                  std::function<void(DWORD job)> whileHeld = {})
        : monitor_(monitor), port_(port), job_(job), dock_(dock), whileHeld_(std::move(whileHeld)) {}

    DWORD Write(const BYTE* data, DWORD size) override {
        DWORD taken = 0;
        int idle = 0;
        while (taken < size) {
            if (!Platform::GetMachine().Spooler().FindJob(job_)) {
                jobGone = true;
                break;
            }
            DWORD written = 0;
            const DWORD piece = std::min(size - taken, kPiece);
            ++offers;
            const BOOL ok = monitor_.pfnWritePort(port_, const_cast<BYTE*>(data) + taken, piece, &written);
            if (!ok) ++failedOffers;
            if (written == 0) {
                if (ok) ++holds;
                if (++idle > kMaxIdleOffers) break;
                // On a manual clock the monitor's hold is over at once, so
                // the data is offered again only once the poller has seen
                // what the printer did meanwhile: the first status read
                // after the hold shows it, and the poller has acted on it
                // when it reads again.
                if (!dock_.WaitForStatusReads(dock_.StatusReads() + 2, kPollerSilence)) break;
                if (whileHeld_) whileHeld_(job_);
                continue;
            }
            idle = 0;
            taken += written;
        }
        return taken;
    }

    std::size_t offers = 0;
    std::size_t holds = 0;
    std::size_t failedOffers = 0;
    bool jobGone = false;

private:
    const MONITOR& monitor_;
    HANDLE port_;
    DWORD job_;
    Simulators::DockPrinter& dock_;
    std::function<void(DWORD job)> whileHeld_;
};

struct JobOutcome {
    DWORD job = 0;
    BOOL printed = FALSE;  // the driver host's answer for the document
    std::size_t holds = 0;
    bool jobGone = false;                              // the spooler stopped offering: the job was deleted
    std::optional<std::u16string> pagesPrintedAnswer;  // "CUR_JOB_PAGES_PRINTED" before the job ended
};

struct RigOptions {
    std::filesystem::path dataFolder;     // the shipped documents (ORV.xml, ORVIDs.xml)
    std::filesystem::path installFolder;  // made afresh
    std::string outputFolder;             // the dock's PNG files; empty: the dock's default
    bool testFilter = false;              // the swapping colour filter as "CC_FILTER"
};

// Needs a fresh machine; leaves the machine's state to its owner.
class PrintPathRig {
public:
    explicit PrintPathRig(const RigOptions& options) : install_(options.installFolder) {
        // The job status texts the monitor shows come from the resource
        // library; without them it sets no text and deletes no job.
        ResourceDLL::Reset();
        Platform::ResourceTable texts;
        for (UINT id : {1u, 2u, 3u, 4u, 5u, 8u, 9u, 24u, 25u, 26u, 27u})
            texts.strings[id] = u"Printer error " + Wide(std::to_string(id));
        texts.strings[19] = u"Printing";
        texts.strings[30] = u"Printer busy";
        resources_ = Platform::RegisterResourceModule(u"ORVRES.DLL", std::move(texts));
        std::filesystem::remove_all(install_);
        std::filesystem::create_directories(install_);
        for (const char* document : {"ORV.xml", "ORVIDs.xml"})
            std::filesystem::copy_file(options.dataFolder / document, install_ / document);
        auto& registry = Platform::GetMachine().Registry();
        registry.CreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300");
        registry.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                          Platform::RegValue::String(Wide(install_.string())));

        const auto nodes = Platform::GetMachine().Devices().AddHostController(2);
        dock = std::make_shared<Simulators::DockPrinter>();
        if (!options.outputFolder.empty()) dock->SetOutputFolder(options.outputFolder);
        // A page is megabytes; the transcript need not keep them.
        dock->SetRecordPrintData(false);
        dock->Attach(nodes.rootHub, 1);

        Spooler().AddPrinter(kQueue, kPort, u"Velmo Glimmer Driver");
        if (options.testFilter) {
            const std::filesystem::path filter =
                std::filesystem::path(Platform::ProgramDirectory()) / "libVelmoTestFilter.so";
            std::filesystem::copy_file(filter, install_ / "libVelmoTestFilter.so");
            SetData(u"CC_FILTER", Text(u"VelmoTestFilter.dll"));
            SetData(u"CC_FILTER_DATA", Text(u"natural"));
        }

        monitor_ = std::make_unique<Platform::LoadedPrintMonitor>(u"Kemblin.dll");
        std::u16string port = kPort, printer = kQueue;
        MONITOR portMonitor = Platform::UsbPortMonitor();
        if (!Monitor().pfnOpenPortEx(port.data(), printer.data(), &port_, &portMonitor))
            throw std::runtime_error("the language monitor did not open " + std::string(port.begin(), port.end()));
        binding_ = std::make_unique<Platform::LanguageMonitorBinding>(kQueue, Monitor(), port_);
    }

    ~PrintPathRig() {
        binding_.reset();
        if (port_ != nullptr) Monitor().pfnClosePort(port_);
        monitor_.reset();
        resources_.Reset();
        ResourceDLL::Reset();
        std::error_code ignored;
        std::filesystem::remove_all(install_, ignored);
    }
    PrintPathRig(const PrintPathRig&) = delete;
    PrintPathRig& operator=(const PrintPathRig&) = delete;

    static Platform::PrintSpooler& Spooler() { return Platform::GetMachine().Spooler(); }
    void SetData(std::u16string_view name, Platform::RegValue value) {
        Spooler().SetPrinterData(kQueue, Platform::kPrinterDriverDataKey, name, std::move(value));
    }
    const MONITOR& Monitor() const { return monitor_->Table(); }
    HANDLE Port() const { return port_; }

    static DEVMODEW Settings(SHORT orientation, SHORT copies) {
        DEVMODEW settings{};
        const std::u16string name = kQueue;
        std::memcpy(settings.dmDeviceName, name.data(),
                    std::min<std::size_t>(name.size(), CCHDEVICENAME - 1) * sizeof(char16_t));
        settings.dmSize = sizeof settings;
        settings.dmOrientation = orientation;
        settings.dmPaperWidth = 1056;  // the 6x4 inch sheet
        settings.dmCopies = copies;
        return settings;
    }

    // One job of one page, as the spooler runs it: the job, the port's
    // document, the driver rendering into it, the document's end. The
    // document's own plug-in settings, when given, are those a document
    // sheet left.
    JobOutcome Print(const Platform::PageImage& page, SHORT orientation = DMORIENT_PORTRAIT, SHORT copies = 1,
                     const std::vector<BYTE>& documentSettings = {}) {
        JobOutcome outcome;
        outcome.job = Spooler().AddJob(kQueue, u"Photo");
        std::u16string printer = kQueue;
        DOC_INFO_1W info{nullptr, nullptr, nullptr};
        if (!Monitor().pfnStartDocPort(port_, printer.data(), outcome.job, 1, reinterpret_cast<LPBYTE>(&info)))
            throw std::runtime_error("the language monitor did not start the document");
        PortSpoolSink sink(Monitor(), port_, outcome.job, *dock, whileHeld);
        {
            Platform::DriverHost host(sink);
            if (host.Load(u"Hesbane.dll", kRenderClass) != S_OK) throw std::runtime_error("Hesbane.dll did not load");
            if (host.Open(kQueue, Settings(orientation, copies), documentSettings) != S_OK)
                throw std::runtime_error("the rendering plug-in did not open the queue");
            outcome.printed = host.PrintDocument({page});
            host.Close();
        }
        outcome.pagesPrintedAnswer = QueueText(u"CUR_JOB_PAGES_PRINTED");
        Monitor().pfnEndDocPort(port_);
        outcome.holds = sink.holds;
        outcome.jobGone = sink.jobGone;
        return outcome;
    }

    // A text value of the queue as a reader of printer data sees it.
    static std::optional<std::u16string> QueueText(LPCWSTR name) {
        HANDLE queue = nullptr;
        if (!OpenPrinterW(kQueue, &queue, nullptr)) return std::nullopt;
        std::vector<BYTE> data(512, 0);
        DWORD type = 0, needed = 0;
        const DWORD result =
            GetPrinterDataW(queue, name, &type, data.data(), static_cast<DWORD>(data.size() - 2), &needed);
        ClosePrinter(queue);
        if (result != ERROR_SUCCESS) return std::nullopt;
        return std::u16string(reinterpret_cast<const char16_t*>(data.data()));
    }

    std::shared_ptr<Simulators::DockPrinter> dock;
    // Runs between held offers of a job, on the printing thread.
    std::function<void(DWORD job)> whileHeld;

private:
    std::filesystem::path install_;
    Platform::ResourceRegistration resources_;
    std::unique_ptr<Platform::LoadedPrintMonitor> monitor_;
    HANDLE port_ = nullptr;
    std::unique_ptr<Platform::LanguageMonitorBinding> binding_;
};

}  // namespace PrintPath
