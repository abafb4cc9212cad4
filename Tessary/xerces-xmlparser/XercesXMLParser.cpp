#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "Platform/Paths.h"

namespace Tessary {

namespace {

std::once_flag g_platformOnce;
std::atomic<int> g_platformUseCount{0};

// Stands for a skipped element and everything inside it: pushed once per
// nested element, idle again when the outermost one ends. It never asks a
// grammar state anything, so no two skips are ever open at once and the
// handler keeps a single one.
class SkipState final : public XercesXMLParsingState {
public:
    void Begin(const std::string& name) {
        depth_ = 1;
        name_ = name;
    }
    bool Idle() const { return depth_ == 0; }
    XercesXMLParsingState* StartElement(const std::string&, const std::map<std::string, std::string>&) override {
        ++depth_;
        return this;
    }
    void Characters(const std::string&) override {}
    void EndElement() override { --depth_; }
    void Abort() override { EndElement(); }
    const std::string& Name() const { return name_; }

private:
    int depth_ = 0;
    std::string name_;
};

// Converts UTF-16 from the parser into UTF-8. The Xerces transcoder is made
// once per parse, and only when text outside ASCII turns up.
class Utf8Transcoder {
public:
    void Convert(const XMLCh* text, XMLSize_t length, std::string& out) {
        // ASCII reads the same in UTF-8 and is what nearly every name,
        // value and text is made of: copy it while checking for anything else.
        out.resize(length);
        char* bytes = out.data();
        XMLCh any = 0;
        for (XMLSize_t k = 0; k < length; ++k) {
            any |= text[k];
            bytes[k] = static_cast<char>(text[k]);
        }
        if (any < 0x80) return;
        const xercesc::TranscodeToStr utf8(text, length, Transcoder());
        out.assign(reinterpret_cast<const char*>(utf8.str()), utf8.length());
    }

    void Convert(const XMLCh* text, std::string& out) { Convert(text, xercesc::XMLString::stringLen(text), out); }

private:
    xercesc::XMLTranscoder* Transcoder() {
        if (!transcoder_) {
            xercesc::XMLTransService::Codes code = xercesc::XMLTransService::Ok;
            transcoder_.reset(
                xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor("UTF-8", code, 16 * 1024));
            if (!transcoder_ || code != xercesc::XMLTransService::Ok) {
                transcoder_.reset();
                TS_THROW(TSRuntimeError, "No UTF-8 transcoder");
            }
        }
        return transcoder_.get();
    }

    std::unique_ptr<xercesc::XMLTranscoder> transcoder_;
};

class EventHandler final : public xercesc::HandlerBase, public xercesc::XMLEntityResolver {
public:
    EventHandler(const XercesXMLParser::Options& options, XercesXMLParsingState* documentState)
        : options_(options), documentState_(documentState) {}

    // Empties the stack from the top once the parse is over: EndElement for
    // what is left after a good parse, Abort after a failed one. Every state
    // gets its call even when another one throws, so none is leaked.
    void Finish(bool success) {
        while (!stack_.empty()) {
            XercesXMLParsingState* state = stack_.back();
            stack_.pop_back();
            if (!state) continue;
            try {
                if (success) {
                    state->EndElement();
                } else {
                    state->Abort();
                }
            } catch (...) {
                // The parse has already failed or ended; nothing to report to.
            }
        }
    }

    void startDocument() override {
        if (!stack_.empty()) throw xercesc::SAXException("Invalid context state");
        stack_.push_back(documentState_);
    }

    void endDocument() override {
        if (stack_.size() != 1) throw xercesc::SAXException("Invalid context state");
        if (stack_.back()) stack_.back()->EndElement();
        stack_.pop_back();
    }

    void startElement(const XMLCh* const name, xercesc::AttributeList& attributes) override {
        if (stack_.empty()) throw xercesc::SAXException("Invalid context state (context stack is empty)");
        if (!stack_.back()) throw xercesc::SAXException("Invalid context state (current state is NULL)");
        if (!pending_.empty()) FlushText();

        ReadAttributes(attributes);
        utf8_.Convert(name, elementName_);
        XercesXMLParsingState* next = stack_.back()->StartElement(elementName_, attributes_);
        if (!next) {
            if (!skip_.Idle()) TS_THROW(TSLogicError, "Skipped element still open");
            skip_.Begin(elementName_);
            next = &skip_;
        }
        stack_.push_back(next);
    }

    void endElement(const XMLCh* const) override {
        if (stack_.empty()) throw xercesc::SAXException("Invalid context state (no current state)");
        if (!pending_.empty()) FlushText();
        // The state leaves the stack only after EndElement returns: one that
        // throws stays and is aborted with the rest.
        if (stack_.back()) stack_.back()->EndElement();
        stack_.pop_back();
    }

    void characters(const XMLCh* const chars, const XMLSize_t length) override {
        if (stack_.empty()) throw xercesc::SAXException("Invalid context state (context stack is empty)");
        AppendText(chars, length);
    }

    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) override {
        if (stack_.empty()) throw xercesc::SAXException("Invalid context state (context stack is empty)");
        if (!options_.dropWhiteSpace) AppendText(chars, length);
    }

    // A document must not make the reader read anything but itself: every
    // external entity and DTD is answered with nothing.
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override {
        static const XMLByte kNothing[1] = {0};
        const XMLCh* systemId = resource ? resource->getSystemId() : nullptr;
        static const XMLCh kEmptyId[1] = {0};
        return new xercesc::MemBufInputSource(kNothing, 0, systemId ? systemId : kEmptyId, false);
    }
    using xercesc::HandlerBase::resolveEntity;

private:
    using AttributeMap = std::map<std::string, std::string>;

    // Refills the one attribute map of the handler, reusing its nodes and
    // their strings: no allocation once the map has held as many attributes.
    void ReadAttributes(xercesc::AttributeList& list) {
        const XMLSize_t count = list.getLength();
        if (count != 0 && count == attributes_.size()) {
            // Runs of like elements carry the same names: only the values
            // change. The parser refuses an attribute given twice, so finding
            // every name means the map holds exactly this element's names.
            bool same = true;
            for (XMLSize_t i = 0; i < count && same; ++i) {
                const auto it = FindAscii(list.getName(i));
                same = it != attributes_.end();
                if (same) utf8_.Convert(list.getValue(i), it->second);
            }
            if (same) return;
        }
        if (count == 0 && attributes_.empty()) return;
        RefillAttributes(list, count);
    }

    [[gnu::noinline]] void RefillAttributes(xercesc::AttributeList& list, XMLSize_t count) {
        while (!attributes_.empty()) spareNodes_.push_back(attributes_.extract(attributes_.begin()));
        for (XMLSize_t i = 0; i < count; ++i) {
            if (spareNodes_.empty()) {
                std::string key, value;
                utf8_.Convert(list.getName(i), key);
                utf8_.Convert(list.getValue(i), value);
                attributes_[std::move(key)] = std::move(value);
                continue;
            }
            AttributeMap::node_type node = std::move(spareNodes_.back());
            spareNodes_.pop_back();
            utf8_.Convert(list.getName(i), node.key());
            utf8_.Convert(list.getValue(i), node.mapped());
            auto inserted = attributes_.insert(std::move(node));
            if (!inserted.inserted) {
                inserted.position->second.swap(inserted.node.mapped());
                spareNodes_.push_back(std::move(inserted.node));
            }
        }
    }

    // The entry whose name is the given one, looked up without converting
    // it; names outside ASCII are never found (the caller then rebuilds).
    AttributeMap::iterator FindAscii(const XMLCh* name) {
        for (auto it = attributes_.begin(); it != attributes_.end(); ++it) {
            const std::string& key = it->first;
            std::size_t k = 0;
            while (k < key.size() && name[k] == static_cast<unsigned char>(key[k]) && name[k] < 0x80) ++k;
            if (k == key.size() && name[k] == 0) return it;
        }
        return attributes_.end();
    }

    // Chunks are not terminated and may end between the two halves of a
    // surrogate pair, so text stays UTF-16 until it is flushed.
    void AppendText(const XMLCh* chars, XMLSize_t length) {
        if (length == 0) return;
        if (options_.joinText) {
            pending_.append(chars, length);
            return;
        }
        // A chunk that starts with the second half of a pair joins the one
        // before it, so that no chunk handed on splits a pair.
        const bool pairSplit = !pending_.empty() && pending_.back() >= 0xD800 && pending_.back() <= 0xDBFF;
        pending_.append(chars, length);
        if (pairSplit && !chunkEnds_.empty()) chunkEnds_.pop_back();
        chunkEnds_.push_back(pending_.size());
    }

    // Blank, tab, line feed and carriage return, as one test per character.
    static bool IsBlank(XMLCh c) {
        constexpr std::uint64_t kBlanks = (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');
        return c <= u' ' && ((kBlanks >> c) & 1) != 0;
    }

    void FlushText() {
        if (stack_.empty()) throw xercesc::SAXException("Invalid context state (no current state)");
        XercesXMLParsingState* state = stack_.back();
        if (!state || pending_.empty()) {
            ClearText();
            return;
        }
        if (options_.dropWhiteSpace &&
            std::all_of(pending_.begin(), pending_.end(), [](XMLCh c) { return IsBlank(c); })) {
            ClearText();
            return;
        }
        if (!options_.joinText) {
            DeliverChunks(*state);
            return;
        }
        utf8_.Convert(pending_.data(), pending_.size(), text_);
        ClearText();
        state->Characters(text_);
    }

    [[gnu::noinline]] void DeliverChunks(XercesXMLParsingState& state) {
        std::vector<std::string> chunks;
        std::size_t begin = 0;
        for (const std::size_t end : chunkEnds_) {
            chunks.emplace_back();
            utf8_.Convert(pending_.data() + begin, end - begin, chunks.back());
            begin = end;
        }
        ClearText();
        for (const std::string& chunk : chunks) state.Characters(chunk);
    }

    void ClearText() {
        pending_.clear();
        chunkEnds_.clear();
    }

    XercesXMLParser::Options options_;
    XercesXMLParsingState* documentState_;
    std::vector<XercesXMLParsingState*> stack_;
    std::u16string pending_;
    std::vector<std::size_t> chunkEnds_;  // only kept when chunks are not joined
    std::string text_;
    std::string elementName_;
    AttributeMap attributes_;
    std::vector<AttributeMap::node_type> spareNodes_;
    SkipState skip_;
    Utf8Transcoder utf8_;
};

}  // namespace

XercesXMLParser::XercesXMLParser() {
    InitializePlatform();
}

void XercesXMLParser::InitializePlatform() {
    std::call_once(g_platformOnce, [] {
        try {
            xercesc::XMLPlatformUtils::Initialize();
        } catch (const xercesc::XMLException&) {
            TS_THROW(TSRuntimeError, "Error during initialization");
        }
    });
    ++g_platformUseCount;
}

bool XercesXMLParser::ParseBuffer(const char* data, unsigned length, XercesXMLParsingState* documentState) {
    std::unique_ptr<xercesc::MemBufInputSource> source;
    try {
        source = std::make_unique<xercesc::MemBufInputSource>(reinterpret_cast<const XMLByte*>(data), length,
                                                              "prodInfo", false);
        // The caller's buffer outlives the parse; no need for Xerces to copy it.
        source->setCopyBufToStream(false);
    } catch (const xercesc::OutOfMemoryException&) {
        return false;
    }
    return Parse(*source, documentState);
}

bool XercesXMLParser::ParseFile(const std::string& path, XercesXMLParsingState* documentState) {
    std::string diskPath;
    try {
        const xercesc::TranscodeFromStr widePath(reinterpret_cast<const XMLByte*>(path.data()), path.size(), "UTF-8");
        diskPath = Platform::MapPath(widePath.str());
    } catch (const xercesc::OutOfMemoryException&) {
        return false;
    } catch (const xercesc::XMLException&) {
        return false;  // not UTF-8
    }
    return ParseDiskFile(diskPath, documentState);
}

// The wide path goes to the platform as it is: narrowing it through the
// locale first could lose characters the locale lacks.
bool XercesXMLParser::ParseFile(const I8NStringT<char16_t*, Win32StringMgr>& path,
                                XercesXMLParsingState* documentState) {
    return ParseDiskFile(Platform::MapPath(path.c_str()), documentState);
}

bool XercesXMLParser::ParseDiskFile(const std::string& diskPath, XercesXMLParsingState* documentState) {
    // Only regular files: Xerces leaks when asked to read a folder.
    std::error_code error;
    if (!std::filesystem::is_regular_file(diskPath, error)) return false;
    std::unique_ptr<xercesc::LocalFileInputSource> source;
    try {
        const xercesc::TranscodeFromStr widePath(reinterpret_cast<const XMLByte*>(diskPath.data()), diskPath.size(),
                                                 "UTF-8");
        source = std::make_unique<xercesc::LocalFileInputSource>(widePath.str());
    } catch (const xercesc::OutOfMemoryException&) {
        return false;
    } catch (const xercesc::XMLException&) {
        return false;  // a path the platform cannot make absolute
    }
    return Parse(*source, documentState);
}

bool XercesXMLParser::Parse(const xercesc::InputSource& source, XercesXMLParsingState* documentState) {
    std::unique_ptr<EventHandler> handler;
    try {
        handler = std::make_unique<EventHandler>(options_, documentState);
    } catch (...) {
        return false;  // nothing was pushed yet
    }

    bool success = false;
    try {
        // The well-formedness scanner skips a document type declaration without
        // reading it: no DTD is ever processed, only the predefined entities exist
        // and a reference to any other fails the parse. Predefined references are
        // not capped, since printer answers escape every "&" and "<" in names and
        // keys. The resolver that answers with nothing and the DTD switches stay set
        // as a second line, should the scanner ever change.
        const auto parser = std::make_unique<xercesc::SAXParser>();
        parser->useScanner(xercesc::XMLUni::fgWFXMLScanner);
        parser->setDocumentHandler(handler.get());
        parser->setErrorHandler(handler.get());
        parser->setXMLEntityResolver(handler.get());
        parser->setValidationScheme(xercesc::SAXParser::Val_Never);
        parser->setDoNamespaces(false);
        parser->setDoSchema(false);
        parser->setValidationSchemaFullChecking(false);
        parser->setExitOnFirstFatalError(false);
        parser->setValidationConstraintFatal(true);
        parser->setLoadExternalDTD(false);
        parser->setDisableDefaultEntityResolution(true);

        parser->parse(source);
        success = parser->getErrorCount() <= 0;
    } catch (const xercesc::OutOfMemoryException&) {
        success = false;
    } catch (const xercesc::XMLException&) {
        success = false;
    } catch (const xercesc::SAXException&) {
        success = false;
    } catch (const TSException&) {
        success = false;  // before std::exception: TSBadAlloc is not one unambiguously
    } catch (const std::exception&) {
        success = false;
    } catch (...) {
        success = false;
    }

    handler->Finish(success);
    return success;
}

}  // namespace Tessary
