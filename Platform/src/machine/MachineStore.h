// Keeping parts of the machine in files under the machine folder: change
// detection, atomic writes and the folder's lock (see Platform/MachineFile.h).
#pragma once

#include "Platform/MachineFile.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace Platform::detail {

// A file or the folder's lock could not be written.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// What a file held when read; stamp is nullopt when it was missing.
struct FileContents {
    std::optional<std::string> text;
    std::optional<FileStamp> stamp;
};

// A file the machine keeps part of itself in.
class BoundFile {
public:
    explicit BoundFile(std::string path);
    const std::string& Path() const { return path_; }
    std::string Folder() const;

    // True when the file is not what was last accepted or written.
    bool Changed() const;
    // Reads it (at most 64 MiB); throws std::runtime_error when it cannot.
    FileContents Read() const;
    // Remembers what was read as the current state of the file.
    void Accept(const FileContents& contents) { stamp_ = contents.stamp; }
    // Replaces the file at once (a temporary file renamed over it), creating
    // the folder when needed; throws WriteError when it cannot.
    void Write(const std::string& text);

private:
    std::string path_;
    std::optional<FileStamp> stamp_;
};

// Holds the folder's lock file for the scope (exclusive flock). Nests
// within a process; other threads of the process wait. Throws WriteError.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
};

// Data kept in memory and, when bound, in one file. Callers hold their own
// mutex around every call.
template <class Data>
class Persisted {
public:
    using Parse = Data (*)(std::string_view, const std::string&);
    using Format = std::string (*)(const Data&);

    Persisted(Parse parse, Format format) : parse_(parse), format_(format) {}

    Data& Get() { return data_; }

    void Reset() {
        file_.reset();
        data_ = Data{};
    }

    // Binds to a file (empty path: unbinds) and reads it; on failure
    // nothing changes.
    void Bind(const std::string& path) {
        if (path.empty()) {
            file_.reset();
            return;
        }
        BoundFile file(path);
        const auto contents = file.Read();
        Data data = contents.text ? parse_(*contents.text, path) : Data{};
        file.Accept(contents);
        data_ = std::move(data);
        file_ = std::move(file);
    }

    // Reads the file again when another program changed it. Throws
    // MachineFileError (the data stays as it was) or std::runtime_error.
    void Refresh() {
        if (!file_ || !file_->Changed()) return;
        const auto contents = file_->Read();
        Data data = contents.text ? parse_(*contents.text, file_->Path()) : Data{};
        file_->Accept(contents);
        data_ = std::move(data);
    }

    // Applies change to fresh data under the folder's lock and writes the
    // result when it differs; a failed write puts the data back and throws.
    template <class F>
    auto Change(F&& change) -> decltype(change(std::declval<Data&>())) {
        if (!file_) return change(data_);
        FolderLock lock(file_->Folder());
        Refresh();
        Data before = data_;
        auto result = change(data_);
        if (!(data_ == before)) {
            try {
                file_->Write(format_(data_));
            } catch (...) {
                data_ = std::move(before);
                throw;
            }
        }
        return result;
    }

private:
    Parse parse_;
    Format format_;
    Data data_;
    std::optional<BoundFile> file_;
};

// The error a Win32 call reports for a failure of the machine's files:
// ERROR_CANTWRITE when writing failed, ERROR_NOT_ENOUGH_MEMORY, else
// ERROR_REGISTRY_CORRUPT (to its callers the spooler's state is registry
// state, so a broken store reads as a broken registry). The reason goes to
// standard error.
DWORD MachineFileFailure(const std::exception& error);

}  // namespace Platform::detail
