// Loading a large printer description (100 models) from a file, as every
// program does, against raw Xerces SAX with empty handlers on the same file.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/XMLString.hpp>

#include "DocumentWriter.h"
#include "PrinterDescription.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

constexpr int kModels = 100;
constexpr int kPapers = 40;

using BenchDocuments::Decimal;
using BenchDocuments::Writer;

// prefix followed by the number. (Written out: GCC 12 warns wrongly about
// "text" + std::to_string(n) at -O3.)
std::string Numbered(const char* prefix, int number) {
    std::string text(prefix);
    text += std::to_string(number);
    return text;
}

std::string MakeDescription() {
    using std::to_string;
    Writer w;
    w.Open("velmo_printing");
    w.Open("papers");
    for (int p = 1; p <= kPapers; ++p) {
        w.Open("paper", {{"id", to_string(p)}, {"resourceId", to_string(3000 + p)}, {"name", "Paper " + to_string(p)}});
        w.Open("sizes");
        const double width = 3.5 + p % 4, height = 5.0 + p % 5;
        for (const char* units : {"inches", "pixels", "mm_tenths"}) {
            const double scale = units[0] == 'i' ? 1 : units[0] == 'p' ? 300 : 254;
            w.Open("size", {{"units", units}});
            w.Text("width", Decimal(width * scale));
            w.Text("height", Decimal(height * scale));
            w.Close();
        }
        w.Close();
        w.Open("offsets");
        w.Open("offset", {{"units", "points"}});
        w.Text("top", "1.5");
        w.Text("bottom", "1.5");
        w.Text("left", "2.25");
        w.Text("right", "2.25");
        w.Close();
        w.Close();
        w.Close();
    }
    w.Close();
    w.Open("printers");
    for (int m = 1; m <= kModels; ++m) {
        const std::string n = to_string(m);
        w.Open("printer", {{"vid", "0x3B7D"}, {"pid", "0x" + to_string(1000 + m)}});
        w.Open("names");
        w.Text("productname", "Glimmer " + n, {{"resourceId", to_string(1000 + 3 * m)}});
        w.Text("longname", "Velmo Glimmer photo printer " + n, {{"resourceId", to_string(1001 + 3 * m)}});
        w.Text("shortname", "G" + n, {{"resourceId", to_string(1002 + 3 * m)}});
        w.Close();
        w.Text("icon", "glimmer" + n + ".ico");
        if (m % 3 == 0) w.Leaf("rotate");
        w.Leaf("drag-and-drop", {{"supported", "true"}});
        w.Leaf("firmware-crc-verify", {{"supported", m % 2 ? "true" : "false"}});
        w.Leaf("mediaRemaining", {{"supported", "true"}});
        w.Leaf("firmware", {{"stripVersionBytes", "false"}, {"requires-reboot", "true"}});
        w.Open("protocols");
        w.Leaf("usb", {{"format", "cmy-cmd-planar"}});
        w.Leaf("network", {{"format", "jpeg"}, {"discovery-model", m % 2 ? "rendezvous" : "udp-mw"}});
        w.Close();
        w.Open("paperRefs");
        for (int r = 0; r < 12; ++r) {
            const std::string id = to_string((m + r) % kPapers + 1);
            w.Leaf("paperRef",
                   {{"paperId", id}, {"sendToPrinterAs", to_string(r)}, {"sizeReportedByPrinterAs", "S" + id}});
        }
        w.Close();
        w.Open("mediaCapacities");
        for (int c = 0; c < 8; ++c) {
            w.Text("mediaCapacity", to_string(20 * (c + 1)), {{"capacityCodeFromPrinter", Numbered("C", c)}});
        }
        w.Close();
        w.Open("customProperties");
        for (int c = 0; c < 5; ++c) w.Text("property", Numbered("value ", c * m), {{"name", Numbered("key", c)}});
        w.Close();
        w.Open("heads", {{"default", "H1"}});
        for (int h = 1; h <= 3; ++h) {
            w.Open("head", {{"id", Numbered("H", h)}});
            w.Open("lutmodules");
            for (int l = 0; l < 8; ++l) {
                Writer::Attributes a = {{"lutref", Numbered("lut", l % 6)},
                                        {"name", Numbered("h", h) + Numbered("_", l)}};
                if (l >= 6) {
                    a.emplace_back("donor", to_string(l));
                    a.emplace_back("media", to_string(l + 1));
                }
                w.Leaf("lutmodule", a);
            }
            w.Close();
            w.Open("firmware-file-name-specs");
            for (int f = 0; f < 2; ++f) {
                w.Open("file-name-spec");
                w.Text("prefix", "FW" + n + "_" + to_string(h) + "_");
                w.Text("extension", f ? ".bin" : ".img");
                w.Text("version-format", to_string(f + 1));
                w.Close();
            }
            w.Close();
            w.Close();
        }
        w.Close();
        w.Open("lutnames", {{"default", "lut0"}});
        for (int l = 0; l < 6; ++l) w.Leaf("lut", {{"id", Numbered("lut", l)}, {"resourceId", to_string(600 + l)}});
        w.Close();
        w.Open("donorMediaMappings");
        for (int d = 0; d < 10; ++d) {
            w.Open("donorMediaMapping");
            w.Text("idCode", to_string(d));
            w.Text("donor", to_string(d % 4));
            w.Text("media", to_string(d % 5));
            w.Close();
        }
        w.Close();
        w.Close();
    }
    w.Close();
    w.Close();
    return w.Xml();
}

// The document lies in a file of its own for the life of the program.
class DescriptionFile {
public:
    DescriptionFile() {
        std::string folder = (std::filesystem::temp_directory_path() / "velmo-bench-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) std::abort();
        folder_ = folder;
        path_ = folder_ / "ORV.xml";
        xml_ = MakeDescription();
        std::ofstream(path_, std::ios::binary) << xml_;
    }
    ~DescriptionFile() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::size_t Size() const { return xml_.size(); }

private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    std::string xml_;
};

const DescriptionFile& File() {
    static const DescriptionFile file;
    return file;
}

// The records are freed outside the timed part: that is the caller's work.
void BM_LoadPrinterConfig(benchmark::State& state) {
    const Tessary::I8NString path(File().Path().string());
    for (auto _ : state) {
        auto printers = std::make_unique<std::vector<PrinterConfig>>();
        if (!LoadPrinterConfig(path, *printers) || printers->size() != kModels) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(printers);
        state.PauseTiming();
        printers.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(File().Size()));
    state.counters["document_bytes"] = static_cast<double>(File().Size());
}

// Raw Xerces as a plain caller uses it: a new parser per document, default
// settings, handlers that do nothing, the same file.
void BM_RawSaxFile(benchmark::State& state) {
    Tessary::XercesXMLParser::InitializePlatform();
    XMLCh* path = xercesc::XMLString::transcode(File().Path().c_str());
    xercesc::HandlerBase handler;
    for (auto _ : state) {
        xercesc::SAXParser parser;
        parser.setDocumentHandler(&handler);
        parser.setErrorHandler(&handler);
        parser.setValidationScheme(xercesc::SAXParser::Val_Never);
        xercesc::LocalFileInputSource source(path);
        parser.parse(source);
        if (parser.getErrorCount() != 0) {
            state.SkipWithError("parse failed");
            break;
        }
    }
    xercesc::XMLString::release(&path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(File().Size()));
}

// Takes every element and ignores it: the reader's own cost on the file,
// without the grammar.
class IgnoringState : public Tessary::XercesXMLParsingState {
public:
    XercesXMLParsingState* StartElement(const std::string&, const std::map<std::string, std::string>&) override {
        return this;
    }
    void Characters(const std::string&) override {}
};

void BM_ReaderIgnoringFile(benchmark::State& state) {
    const std::string path = File().Path().string();
    Tessary::XercesXMLParser parser;
    for (auto _ : state) {
        IgnoringState document;
        if (!parser.ParseFile(path, &document)) {
            state.SkipWithError("parse failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(File().Size()));
}

BENCHMARK(BM_LoadPrinterConfig)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSaxFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderIgnoringFile)->Unit(benchmark::kMillisecond);

}  // namespace
