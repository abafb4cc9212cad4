#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <new>
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
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>

namespace Tessary {

namespace {

// The system's documents declare no entities of their own, so a small cap on
// expansions costs nothing and stops exponential entity bombs early.
constexpr XMLSize_t kEntityExpansionLimit = 100;

std::once_flag g_platformOnce;
std::atomic<int> g_platformUseCount{0};

// Stands for a skipped element and everything inside it: the same object is
// pushed once per nested element and dies when the outermost one ends.
class SkipState final : public XercesXMLParsingState {
public:
    explicit SkipState(const std::string& name) : name_(name) {}
    XercesXMLParsingState* StartElement(const std::string&, const std::map<std::string, std::string>&) override {
        ++depth_;
        return this;
    }
    void Characters(const std::string&) override {}
    void EndElement() override {
        if (--depth_ == 0) delete this;
    }
    void Abort() override { EndElement(); }
    const std::string& Name() const { return name_; }

private:
    int depth_ = 1;
    std::string name_;
};

// Converts UTF-16 from the parser into UTF-8 with one transcoder per parse.
class Utf8Transcoder {
public:
    Utf8Transcoder() {
        xercesc::XMLTransService::Codes code = xercesc::XMLTransService::Ok;
        transcoder_.reset(xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor("UTF-8", code, 16 * 1024));
        if (!transcoder_ || code != xercesc::XMLTransService::Ok) {
            TS_THROW(TSRuntimeError, "No UTF-8 transcoder");
        }
    }

    void Convert(const XMLCh* text, XMLSize_t length, std::string& out) {
        // ASCII reads the same in UTF-8 and is what nearly every name,
        // value and text is made of.
        XMLSize_t i = 0;
        while (i < length && text[i] < 0x80) ++i;
        if (i == length) {
            out.resize(length);
            for (XMLSize_t k = 0; k < length; ++k) out[k] = static_cast<char>(text[k]);
            return;
        }
        const xercesc::TranscodeToStr utf8(text, length, transcoder_.get());
        out.assign(reinterpret_cast<const char*>(utf8.str()), utf8.length());
    }

    std::string Convert(const XMLCh* text) {
        std::string out;
        Convert(text, xercesc::XMLString::stringLen(text), out);
        return out;
    }

private:
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
        FlushText();

        std::map<std::string, std::string> map;
        const XMLSize_t count = attributes.getLength();
        for (XMLSize_t i = 0; i < count; ++i) {
            map[utf8_.Convert(attributes.getName(i))] = utf8_.Convert(attributes.getValue(i));
        }
        const std::string elementName = utf8_.Convert(name);
        XercesXMLParsingState* next = stack_.back()->StartElement(elementName, map);
        if (!next) {
            next = new (std::nothrow) SkipState(elementName);
            if (!next) TS_THROW(TSException, "Couldn't allocate skip state!");
        }
        stack_.push_back(next);
    }

    void endElement(const XMLCh* const) override {
        FlushText();
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
    // Chunks are not terminated and may end between the two halves of a
    // surrogate pair, so text stays UTF-16 until it is flushed.
    void AppendText(const XMLCh* chars, XMLSize_t length) {
        if (length == 0) return;
        const bool pairSplit = !pending_.empty() && pending_.back() >= 0xD800 && pending_.back() <= 0xDBFF;
        pending_.append(chars, length);
        if (!options_.joinText) {
            if (pairSplit && !chunkEnds_.empty()) chunkEnds_.pop_back();
            chunkEnds_.push_back(pending_.size());
        }
    }

    static bool IsBlank(XMLCh c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

    void FlushText() {
        if (stack_.empty()) throw xercesc::SAXException("Invalid context state (no current state)");
        XercesXMLParsingState* state = stack_.back();
        if (!state || pending_.empty()) {
            ClearText();
            return;
        }
        if (options_.dropWhiteSpace) {
            bool blank = true;
            for (const XMLCh c : pending_) {
                if (!IsBlank(c)) {
                    blank = false;
                    break;
                }
            }
            if (blank) {
                ClearText();
                return;
            }
        }
        if (options_.joinText) {
            utf8_.Convert(pending_.data(), pending_.size(), text_);
            ClearText();
            state->Characters(text_);
            return;
        }
        std::vector<std::string> chunks;
        std::size_t begin = 0;
        for (const std::size_t end : chunkEnds_) {
            chunks.emplace_back();
            utf8_.Convert(pending_.data() + begin, end - begin, chunks.back());
            begin = end;
        }
        ClearText();
        for (const std::string& chunk : chunks) state->Characters(chunk);
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
    } catch (const xercesc::OutOfMemoryException&) {
        return false;
    }
    return Parse(*source, documentState);
}

bool XercesXMLParser::ParseFile(const std::string& path, XercesXMLParsingState* documentState) {
    std::unique_ptr<xercesc::LocalFileInputSource> source;
    try {
        const xercesc::TranscodeFromStr widePath(reinterpret_cast<const XMLByte*>(path.data()), path.size(), "UTF-8");
        source = std::make_unique<xercesc::LocalFileInputSource>(widePath.str());
    } catch (const xercesc::OutOfMemoryException&) {
        return false;
    } catch (const xercesc::XMLException&) {
        return false;  // a path that is not UTF-8, or one the platform cannot make absolute
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
        xercesc::SecurityManager security;
        security.setEntityExpansionLimit(kEntityExpansionLimit);

        const auto parser = std::make_unique<xercesc::SAXParser>();
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
        parser->setSecurityManager(&security);

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
