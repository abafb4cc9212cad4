// Test support for document readers: scratch files, and a parse that keeps
// the first exception a state threw (the reader itself only reports false).
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "Platform/ScopedEnv.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace TestSupport {

// A folder of its own under the temporary folder, removed with its files.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Writes the file and returns its path.
    std::string Write(const std::string& file, const std::string& contents) const {
        const auto target = path_ / file;
        std::ofstream(target, std::ios::binary) << contents;
        return target.string();
    }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// A scratch folder that the environment variable `variable` names while the
// object lives; the variable's earlier value, or its absence, comes back
// after.
class ScratchFolderVariable {
public:
    ScratchFolderVariable(const char* variable, const std::string& name)
        : folder_(name), variable_(variable, folder_.Path().c_str()) {}

    std::string Path() const { return folder_.Path(); }

private:
    ScratchFolder folder_;
    Platform::Testing::EnvOverride variable_;
};

// What the first state to throw said.
struct StateFailure {
    std::string message;
    bool parserException = false;
};

// Stands between the reader and a state: forwards every call and notes the
// first exception before letting it go on. Wraps the states the inner one
// returns, so the whole grammar is watched.
class RecordingState : public Tessary::XercesXMLParsingState {
public:
    RecordingState(Tessary::XercesXMLParsingState* inner, StateFailure* failure, bool ownedByReader)
        : inner_(inner), failure_(failure), ownedByReader_(ownedByReader) {}

    XercesXMLParsingState* StartElement(const std::string& name,
                                        const std::map<std::string, std::string>& attributes) override {
        XercesXMLParsingState* child = nullptr;
        Forward([&] { child = inner_->StartElement(name, attributes); });
        return child ? new RecordingState(child, failure_, true) : nullptr;
    }
    void Characters(const std::string& text) override {
        Forward([&] { inner_->Characters(text); });
    }
    // A state whose end throws stays open and is aborted by the reader.
    void EndElement() override {
        Forward([&] { inner_->EndElement(); });
        if (ownedByReader_) delete this;
    }
    void Abort() override {
        inner_->Abort();
        if (ownedByReader_) delete this;
    }

private:
    template <class F>
    void Forward(F&& call) {
        try {
            call();
        } catch (const Tessary::TSException& e) {
            Note(e.what(), dynamic_cast<const Tessary::ParserException*>(&e) != nullptr);
            throw;
        } catch (const std::exception& e) {
            Note(e.what(), false);
            throw;
        }
    }
    void Note(const std::string& message, bool parserException) {
        if (!failure_->message.empty()) return;
        failure_->message = message;
        failure_->parserException = parserException;
    }

    Tessary::XercesXMLParsingState* inner_;
    StateFailure* failure_;
    bool ownedByReader_;
};

// Parses text with the document state under watch; the reader's result.
inline bool ParseWatched(const std::string& xml, Tessary::XercesXMLParsingState& document, StateFailure& failure) {
    RecordingState watched(&document, &failure, false);
    Tessary::XercesXMLParser parser;
    return parser.ParseBuffer(xml.data(), static_cast<unsigned>(xml.size()), &watched);
}

}  // namespace TestSupport
