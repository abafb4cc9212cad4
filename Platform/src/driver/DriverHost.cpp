#include "Platform/DriverHost.h"

#include "HostHelper.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace Platform {

// ---- Portable pixmaps ----

namespace {

constexpr int kMaxImageSide = 16384;

void SkipBlanksAndComments(std::string_view bytes, std::size_t& at) {
    while (at < bytes.size()) {
        const char c = bytes[at];
        if (c == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++at;
        } else {
            return;
        }
    }
}

int ReadHeaderNumber(std::string_view bytes, std::size_t& at, const char* what) {
    SkipBlanksAndComments(bytes, at);
    long value = 0;
    std::size_t digits = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
        value = value * 10 + (bytes[at] - '0');
        if (value > kMaxImageSide) throw std::invalid_argument(std::string("PPM ") + what + " too large");
        ++at;
        ++digits;
    }
    if (digits == 0) throw std::invalid_argument(std::string("PPM ") + what + " missing");
    return static_cast<int>(value);
}

}  // namespace

PageImage ParsePpm(std::string_view bytes) {
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') throw std::invalid_argument("not a binary PPM");
    std::size_t at = 2;
    const int width = ReadHeaderNumber(bytes, at, "width");
    const int height = ReadHeaderNumber(bytes, at, "height");
    const int maxValue = ReadHeaderNumber(bytes, at, "maximum value");
    if (width == 0 || height == 0) throw std::invalid_argument("PPM image is empty");
    if (maxValue != 255) throw std::invalid_argument("PPM maximum value must be 255");
    if (at >= bytes.size() || (bytes[at] != ' ' && bytes[at] != '\n' && bytes[at] != '\t' && bytes[at] != '\r'))
        throw std::invalid_argument("PPM header not ended by a blank");
    ++at;
    PageImage image(width, height);
    if (bytes.size() - at < image.rgb.size()) throw std::invalid_argument("PPM pixel data truncated");
    std::memcpy(image.rgb.data(), bytes.data() + at, image.rgb.size());
    return image;
}

PageImage LoadPpm(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::invalid_argument("cannot open " + path);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return ParsePpm(bytes);
}

std::string EncodePpm(const PageImage& image) {
    std::string out = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    out.append(reinterpret_cast<const char*>(image.rgb.data()), image.rgb.size());
    return out;
}

void SavePpm(const PageImage& image, const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    const std::string bytes = EncodePpm(image);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

DWORD MemorySpoolSink::Write(const BYTE* data, DWORD size) {
    ++writes;
    const std::size_t room = limit > bytes.size() ? limit - bytes.size() : 0;
    const DWORD taken = static_cast<DWORD>(std::min<std::size_t>(size, room));
    bytes.insert(bytes.end(), data, data + taken);
    return taken;
}

// ---- The host ----

struct DriverHost::HostDevice {
    DEVOBJ device;  // first: the plug-in only sees this part
    DriverHost* host;
};

class DriverHost::Helper final : public detail::HostHelper<IPrintOemDriverUni, IID_IPrintOemDriverUni> {
public:
    explicit Helper(SpoolSink& sink) : sink_(sink) {}
    HRESULT DrvWriteSpoolBuf(PDEVOBJ, PVOID buffer, DWORD size, DWORD* written) override {
        if (written != nullptr) *written = 0;
        if (buffer == nullptr && size != 0) return E_POINTER;
        const DWORD taken = size == 0 ? 0 : sink_.Write(static_cast<const BYTE*>(buffer), size);
        if (written != nullptr) *written = taken;
        return S_OK;
    }

private:
    SpoolSink& sink_;
};

// The driver's own implementations: they count their calls; NextBand also
// renders the band into rows for FilterGraphics, as the driver does.
struct DriverFunctions {
    static DriverHost* HostOf(DHPDEV device) {
        // DEVOBJ is the first member of the host's device record.
        return device == nullptr ? nullptr : reinterpret_cast<DriverHost::HostDevice*>(device)->host;
    }
    static void Count(DHPDEV device, ULONG index) {
        if (DriverHost* host = HostOf(device)) ++host->calls_[index];
    }
    static BOOL StartDoc(SURFOBJ* s, LPWSTR, DWORD) {
        Count(s->dhpdev, INDEX_DrvStartDoc);
        return TRUE;
    }
    static BOOL EndDoc(SURFOBJ* s, FLONG) {
        Count(s->dhpdev, INDEX_DrvEndDoc);
        return TRUE;
    }
    static BOOL StartPage(SURFOBJ* s) {
        Count(s->dhpdev, INDEX_DrvStartPage);
        return TRUE;
    }
    static BOOL SendPage(SURFOBJ* s) {
        Count(s->dhpdev, INDEX_DrvSendPage);
        return TRUE;
    }
    static BOOL StartBanding(SURFOBJ* s, POINTL* origin) {
        Count(s->dhpdev, INDEX_DrvStartBanding);
        DriverHost* host = HostOf(s->dhpdev);
        host->bandTop_ = 0;
        if (origin != nullptr) *origin = POINTL{0, 0};
        return TRUE;
    }
    static BOOL NextBand(SURFOBJ* s, POINTL* origin) {
        Count(s->dhpdev, INDEX_DrvNextBand);
        DriverHost* host = HostOf(s->dhpdev);
        const PageImage* image = host->bandImage_;
        if (image == nullptr || origin == nullptr) return FALSE;
        const int end = std::min(image->height, host->bandTop_ + host->bandHeight_);
        host->bandRow_.resize(static_cast<std::size_t>(image->width) * 3);
        for (int y = host->bandTop_; y < end; ++y) {
            for (int x = 0; x < image->width; ++x) {
                const BYTE* p = image->Pixel(x, y);
                BYTE* q = host->bandRow_.data() + static_cast<std::size_t>(x) * 3;
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
            }
            host->plugin_->FilterGraphics(&host->device_->device, host->bandRow_.data(),
                                          static_cast<DWORD>(host->bandRow_.size()));
        }
        host->bandTop_ = end;
        *origin = end >= image->height ? POINTL{-1, -1} : POINTL{0, end};
        return TRUE;
    }
    static ULONG Escape(SURFOBJ* s, ULONG, ULONG, PVOID, ULONG, PVOID) {
        Count(s->dhpdev, INDEX_DrvEscape);
        return 0;
    }
    static BOOL RealizeBrush(PVOID, SURFOBJ* s, SURFOBJ*, SURFOBJ*, PVOID, ULONG) {
        Count(s->dhpdev, INDEX_DrvRealizeBrush);
        return TRUE;
    }
    static DHPDEV DeviceOf(SURFOBJ* s) { return s == nullptr ? nullptr : s->dhpdev; }
    static DHPDEV DeviceOf(DHPDEV device) { return device; }
    // An argument's bits, widened without sign.
    template <typename T>
    static std::uintptr_t Bits(T value) {
        if constexpr (std::is_pointer_v<T>) {
            return reinterpret_cast<std::uintptr_t>(value);
        } else {
            return static_cast<std::uintptr_t>(static_cast<std::make_unsigned_t<T>>(value));
        }
    }
    // Every other function counts its call, keeps its arguments and answers
    // success (a null pointer where it returns one).
    template <ULONG Index, typename Result, typename First, typename... Rest>
    static Result Recorded(First first, Rest... rest) {
        if (DriverHost* host = HostOf(DeviceOf(first))) {
            ++host->calls_[Index];
            host->arguments_[Index] = {Bits(first), Bits(rest)...};
        }
        if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else {
            return Result{1};
        }
    }
    template <ULONG Index, typename Result, typename First, typename... Rest>
    static PFN RecordedFunction(Result (*)(First, Rest...)) {
        return reinterpret_cast<PFN>(&Recorded<Index, Result, First, Rest...>);
    }
    // Without a surface only the escape query comes; of the font escapes
    // this driver knows that query alone.
    static ULONG FontManagement(SURFOBJ* s, FONTOBJ* font, ULONG mode, ULONG inSize, PVOID in, ULONG outSize,
                                PVOID out) {
        if (s != nullptr) return Recorded<INDEX_DrvFontManagement, ULONG>(s, font, mode, inSize, in, outSize, out);
        if (mode != QUERYESCSUPPORT || in == nullptr || inSize < sizeof(ULONG)) return 0;
        ULONG escape = 0;
        std::memcpy(&escape, in, sizeof escape);
        return escape == QUERYESCSUPPORT ? 1 : 0;
    }
};

PFN DriverHost::DriverFunction(ULONG index) {
    switch (index) {
        case INDEX_DrvStartDoc:
            return reinterpret_cast<PFN>(&DriverFunctions::StartDoc);
        case INDEX_DrvEndDoc:
            return reinterpret_cast<PFN>(&DriverFunctions::EndDoc);
        case INDEX_DrvStartPage:
            return reinterpret_cast<PFN>(&DriverFunctions::StartPage);
        case INDEX_DrvSendPage:
            return reinterpret_cast<PFN>(&DriverFunctions::SendPage);
        case INDEX_DrvStartBanding:
            return reinterpret_cast<PFN>(&DriverFunctions::StartBanding);
        case INDEX_DrvNextBand:
            return reinterpret_cast<PFN>(&DriverFunctions::NextBand);
        case INDEX_DrvEscape:
            return reinterpret_cast<PFN>(&DriverFunctions::Escape);
        case INDEX_DrvRealizeBrush:
            return reinterpret_cast<PFN>(&DriverFunctions::RealizeBrush);
        case INDEX_DrvFontManagement:
            return reinterpret_cast<PFN>(&DriverFunctions::FontManagement);
#define VELMO_RECORDED(name) \
    case INDEX_##name:       \
        return DriverFunctions::RecordedFunction<INDEX_##name>(PFN_##name{});
            VELMO_RECORDED(DrvDitherColor)
            VELMO_RECORDED(DrvStrokePath)
            VELMO_RECORDED(DrvFillPath)
            VELMO_RECORDED(DrvStrokeAndFillPath)
            VELMO_RECORDED(DrvPaint)
            VELMO_RECORDED(DrvBitBlt)
            VELMO_RECORDED(DrvCopyBits)
            VELMO_RECORDED(DrvStretchBlt)
            VELMO_RECORDED(DrvTextOut)
            VELMO_RECORDED(DrvQueryFont)
            VELMO_RECORDED(DrvQueryFontTree)
            VELMO_RECORDED(DrvQueryFontData)
            VELMO_RECORDED(DrvLineTo)
            VELMO_RECORDED(DrvGetGlyphMode)
            VELMO_RECORDED(DrvQueryAdvanceWidths)
            VELMO_RECORDED(DrvGradientFill)
            VELMO_RECORDED(DrvStretchBltROP)
            VELMO_RECORDED(DrvPlgBlt)
            VELMO_RECORDED(DrvAlphaBlend)
            VELMO_RECORDED(DrvTransparentBlt)
#undef VELMO_RECORDED
        default:
            return nullptr;
    }
}

DriverHost::DriverHost(SpoolSink& sink) : helper_(std::make_unique<Helper>(sink)) {
    for (ULONG index = 0; index < 128; ++index)
        if (PFN f = DriverFunction(index)) driverTable_.push_back(DRVFN{index, f});
}

DriverHost::~DriverHost() {
    Close();
    if (plugin_ != nullptr) {
        plugin_->DisableDriver();
        plugin_->Release();
        plugin_ = nullptr;
    }
}

HRESULT DriverHost::Load(const std::u16string& moduleName, REFCLSID clsid) {
    if (plugin_ != nullptr) return E_UNEXPECTED;
    if (!module_.Load(moduleName)) return E_FAIL;
    void* object = nullptr;
    HRESULT result = module_.CreateInstance(clsid, IID_IPrintOemUni, &object);
    if (FAILED(result)) return result;
    plugin_ = static_cast<IPrintOemUni*>(object);
    result = plugin_->PublishDriverInterface(static_cast<IPrintOemDriverUni*>(helper_.get()));
    if (FAILED(result)) return result;
    return plugin_->EnableDriver(DRIVER_VERSION_HOOKS, sizeof hooks_, &hooks_);
}

PDEVOBJ DriverHost::Device() {
    return device_ ? &device_->device : nullptr;
}

HRESULT DriverHost::Open(const std::u16string& queueName, const DEVMODEW& publicSettings,
                         const std::vector<BYTE>& documentSettings) {
    if (plugin_ == nullptr) return E_UNEXPECTED;
    Close();
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
    if (!OpenPrinterW(queueName.c_str(), &printer_, &defaults)) return E_FAIL;
    publicSettings_ = publicSettings;

    OEM_DMPARAM param{};
    param.cbSize = sizeof param;
    param.hPrinter = printer_;
    HRESULT result = plugin_->DevMode(OEMDM_SIZE, &param);
    if (FAILED(result)) return result;
    privateSettings_.assign(param.cbBufSize, 0);
    param.pPublicDMIn = &publicSettings_;
    param.pOEMDMOut = privateSettings_.data();
    result = plugin_->DevMode(OEMDM_DEFAULT, &param);
    if (FAILED(result)) return result;
    if (!documentSettings.empty()) {
        // Never more than the plug-in's own block size is read from it.
        std::vector<BYTE> document(documentSettings);
        document.resize(std::max(document.size(), privateSettings_.size()), 0);
        param.pOEMDMIn = document.data();
        param.cbBufSize = static_cast<DWORD>(privateSettings_.size());
        result = plugin_->DevMode(OEMDM_MERGE, &param);
        if (FAILED(result)) return result;
    }

    device_ = std::make_unique<HostDevice>();
    device_->host = this;
    device_->device.dwSize = sizeof(DEVOBJ);
    device_->device.hPrinter = printer_;
    device_->device.pPublicDM = &publicSettings_;
    device_->device.pOEMDM = privateSettings_.data();

    WCHAR name[PRINTER_NAME_BUFFER_UNITS] = {};
    const std::size_t units = std::min<std::size_t>(queueName.size(), PRINTER_NAME_BUFFER_UNITS - 1);
    std::copy_n(queueName.data(), units, name);
    DRVENABLEDATA driver{DRIVER_VERSION_HOOKS, static_cast<ULONG>(driverTable_.size()), driverTable_.data()};
    PVOID pluginDevice = nullptr;
    result = plugin_->EnablePDEV(&device_->device, name, 0, nullptr, 0, nullptr, 0, nullptr, &driver, &pluginDevice);
    if (FAILED(result) || pluginDevice == nullptr) {
        device_.reset();
        return FAILED(result) ? result : E_FAIL;
    }
    device_->device.pdevOEM = pluginDevice;
    return S_OK;
}

void DriverHost::Close() {
    if (device_ && plugin_ != nullptr) plugin_->DisablePDEV(&device_->device);
    device_.reset();
    if (printer_ != nullptr) ClosePrinter(printer_);
    printer_ = nullptr;
}

int DriverHost::DriverCalls(ULONG index) const {
    const auto found = calls_.find(index);
    return found == calls_.end() ? 0 : found->second;
}

std::vector<std::uintptr_t> DriverHost::DriverArguments(ULONG index) const {
    const auto found = arguments_.find(index);
    return found == arguments_.end() ? std::vector<std::uintptr_t>{} : found->second;
}

PFN DriverHost::Hooked(ULONG index) const {
    for (ULONG i = 0; i < hooks_.c && hooks_.pdrvfn != nullptr; ++i)
        if (hooks_.pdrvfn[i].iFunc == index) return hooks_.pdrvfn[i].pfn;
    return DriverFunction(index);
}

void DriverHost::DrawImage(const PageImage& image, SURFOBJ& surface) {
    auto* scan0 = static_cast<BYTE*>(surface.pvScan0);
    const int rows = std::min<int>(image.height, surface.sizlBitmap.cy);
    const int columns = std::min<int>(image.width, surface.sizlBitmap.cx);
    for (int y = 0; y < rows; ++y) {
        BYTE* row = scan0 + static_cast<std::ptrdiff_t>(y) * surface.lDelta;
        for (int x = 0; x < columns; ++x) {
            const BYTE* p = image.Pixel(x, y);
            row[x * 3] = p[2];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
        }
    }
}

BOOL DriverHost::PrintPage(const PageImage& image, SURFOBJ& surface, const PrintOptions& options) {
    if (!reinterpret_cast<PFN_DrvStartPage>(Hooked(INDEX_DrvStartPage))(&surface)) return FALSE;
    if (options.feed == PageFeed::Surface) {
        // The page is erased to white before the application draws on it.
        std::memset(surface.pvBits, 0xFF, surface.cjBits);
        DrawImage(image, surface);
        return reinterpret_cast<PFN_DrvSendPage>(Hooked(INDEX_DrvSendPage))(&surface);
    }
    bandImage_ = &image;
    bandHeight_ = std::max(1, options.bandHeight);
    POINTL origin{};
    if (!reinterpret_cast<PFN_DrvStartBanding>(Hooked(INDEX_DrvStartBanding))(&surface, &origin)) return FALSE;
    for (;;) {
        if (!reinterpret_cast<PFN_DrvNextBand>(Hooked(INDEX_DrvNextBand))(&surface, &origin)) return FALSE;
        if (origin.x == -1 && origin.y == -1) break;
    }
    bandImage_ = nullptr;
    return TRUE;
}

BOOL DriverHost::PrintDocument(const std::vector<PageImage>& pages, const PrintOptions& options) {
    if (!device_ || pages.empty()) return FALSE;
    int width = 0, height = 0;
    for (const auto& page : pages) {
        width = std::max(width, page.width);
        height = std::max(height, page.height);
    }
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    std::vector<BYTE> bits(stride * height, 0xFF);
    SURFOBJ surface{};
    surface.dhpdev = &device_->device;
    surface.sizlBitmap = SIZEL{width, height};
    surface.cjBits = static_cast<ULONG>(bits.size());
    surface.pvBits = bits.data();
    surface.iBitmapFormat = BMF_24BPP;
    if (options.bottomUp) {
        surface.pvScan0 = bits.data() + stride * (height - 1);
        surface.lDelta = -static_cast<LONG>(stride);
    } else {
        surface.pvScan0 = bits.data();
        surface.lDelta = static_cast<LONG>(stride);
    }
    WCHAR documentName[] = u"Photo";
    if (!reinterpret_cast<PFN_DrvStartDoc>(Hooked(INDEX_DrvStartDoc))(&surface, documentName, 1)) return FALSE;
    BOOL result = TRUE;
    for (const auto& page : pages) {
        if (!PrintPage(page, surface, options)) {
            result = FALSE;
            break;
        }
    }
    if (!reinterpret_cast<PFN_DrvEndDoc>(Hooked(INDEX_DrvEndDoc))(&surface, 0)) result = FALSE;
    return result;
}

}  // namespace Platform
