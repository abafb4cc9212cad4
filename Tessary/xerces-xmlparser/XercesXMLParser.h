// The one XML reader of the system: Xerces SAX events turned into calls on a
// stack of parse states. No tree is built.
#pragma once

#include <string>

#include <xercesc/util/XercesDefs.hpp>

#include "Tessary/i8n/I8NString.h"
#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"
#include "Tessary/xerces-xmlparser/XercesXMLParsingState.h"

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
XERCES_CPP_NAMESPACE_END

namespace Tessary {

class XercesXMLParser {
public:
    // How pending text is handed to states. All on; the system changes none.
    struct Options {
        bool dropWhiteSpace = true;  // white-space-only runs and ignorable white space are dropped
        bool joinText = true;        // the chunks of one run of text reach the state as one
        bool reserved = true;        // kept, never consulted
    };

    XercesXMLParser();
    // The platform stays initialised for the life of the process.
    ~XercesXMLParser() = default;

    // Initialises Xerces the first time, and counts every call.
    static void InitializePlatform();

    // The document state is pushed when the document starts and gets
    // EndElement at its end, or Abort when the parse fails after it started.
    // True only when the document was read without any parser error and no
    // exception left a state.
    bool ParseBuffer(const char* data, unsigned length, XercesXMLParsingState* documentState);
    // A path of the system (a Windows path, or a native one), in UTF-8 or as
    // wide text; the platform maps it onto the disk.
    bool ParseFile(const std::string& path, XercesXMLParsingState* documentState);
    bool ParseFile(const I8NStringT<char16_t*, Win32StringMgr>& path, XercesXMLParsingState* documentState);
    bool Parse(const xercesc::InputSource& source, XercesXMLParsingState* documentState);

private:
    bool ParseDiskFile(const std::string& diskPath, XercesXMLParsingState* documentState);

    Options options_;
};

}  // namespace Tessary
