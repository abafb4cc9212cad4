#include "MachineStore.h"

#include "Platform/DockLink.h"
#include "Platform/Machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace Platform::detail {
namespace {

constexpr off_t kMaxFileSize = 64 << 20;

std::runtime_error SystemError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

WriteError SystemWriteError(const std::string& what, const std::string& path) {
    return WriteError(what + " " + path + ": " + std::strerror(errno));
}

FileStamp StampOf(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

struct ProcessLock {
    std::recursive_mutex mutex;
    int depth = 0;
    int fd = -1;
};

ProcessLock& TheProcessLock() {
    static auto* lock = new ProcessLock;
    return *lock;
}

void CreateFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw WriteError("cannot create the machine folder " + folder + ": " + error.message());
}

}  // namespace

BoundFile::BoundFile(std::string path) : path_(std::move(path)) {}

std::string BoundFile::Folder() const {
    const auto slash = path_.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path_.substr(0, slash);
}

bool BoundFile::Changed() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return stamp_.has_value();
    return !stamp_ || !(*stamp_ == StampOf(st));
}

FileContents BoundFile::Read() const {
    FileContents contents;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return contents;
        throw SystemError("cannot open", path_);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const auto error = SystemError("cannot read", path_);
        ::close(fd);
        throw error;
    }
    if (st.st_size > kMaxFileSize) {
        ::close(fd);
        throw MachineFileError(path_ + ": larger than 64 MiB");
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const auto error = SystemError("cannot read", path_);
            ::close(fd);
            throw error;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxFileSize)) {
            ::close(fd);
            throw MachineFileError(path_ + ": larger than 64 MiB");
        }
    }
    ::close(fd);
    contents.text = std::move(text);
    contents.stamp = StampOf(st);
    return contents;
}

void BoundFile::Write(const std::string& text) {
    CreateFolder(Folder());
    const std::string temporary = path_ + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw SystemWriteError("cannot write", temporary);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const auto error = SystemWriteError("cannot write", temporary);
            ::close(fd);
            ::unlink(temporary.c_str());
            throw error;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        const auto error = SystemWriteError("cannot write", path_);
        ::unlink(temporary.c_str());
        throw error;
    }
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) throw SystemWriteError("cannot read", path_);
    stamp_ = StampOf(st);
}

FolderLock::FolderLock(const std::string& folder) {
    auto& lock = TheProcessLock();
    lock.mutex.lock();
    if (lock.depth == 0) {
        try {
            CreateFolder(folder);
        } catch (...) {
            lock.mutex.unlock();
            throw;
        }
        const std::string path = folder + "/.machine.lock";
        lock.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock.fd < 0) {
            const auto error = SystemWriteError("cannot open", path);
            lock.mutex.unlock();
            throw error;
        }
        while (::flock(lock.fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const auto error = SystemWriteError("cannot lock", path);
            ::close(lock.fd);
            lock.fd = -1;
            lock.mutex.unlock();
            throw error;
        }
    }
    ++lock.depth;
}

FolderLock::~FolderLock() {
    auto& lock = TheProcessLock();
    if (--lock.depth == 0) {
        ::flock(lock.fd, LOCK_UN);
        ::close(lock.fd);
        lock.fd = -1;
    }
    lock.mutex.unlock();
}

DWORD MachineFileFailure(const std::exception& error) {
    std::fprintf(stderr, "simulated machine: %s\n", error.what());
    if (dynamic_cast<const WriteError*>(&error) != nullptr) return ERROR_CANTWRITE;
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_REGISTRY_CORRUPT;
}

}  // namespace Platform::detail

namespace Platform {
namespace {

// Two names of one folder (relative, through links, with a trailing '/')
// name one machine.
std::string FullFolderName(const std::string& folder) {
    std::error_code error;
    auto full = std::filesystem::absolute(folder, error);
    if (!error) full = std::filesystem::weakly_canonical(full, error);
    if (error) return folder;
    std::string name = full.string();
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    return name;
}

}  // namespace

std::optional<int> StartProgram(int argc, char** argv, const char* name, const char* usage) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    try {
        LoadMachine();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
    return std::nullopt;
}

namespace {

constexpr unsigned kMaxDockPort = 127;

// The docks of a machine kept on disk as the device tree holds them: each
// walk of the USB tree first brings them in line with docks.txt, so a dock
// attached or detached while a program runs is seen by its next walk.
class LinkedDocks {
public:
    LinkedDocks(std::string folder, detail::BoundFile file, DEVINST rootHub)
        : folder_(std::move(folder)), file_(std::move(file)), rootHub_(rootHub) {}

    void PlugIn(const std::vector<DockEntry>& docks) {
        std::lock_guard lock(mutex_);
        Replace(docks);
    }

    void Refresh() {
        std::lock_guard lock(mutex_);
        if (!file_.Changed()) return;
        try {
            const auto contents = file_.Read();
            const auto docks = contents.text ? ParseDocksText(*contents.text, file_.Path()) : std::vector<DockEntry>{};
            file_.Accept(contents);
            Replace(docks);
        } catch (const std::exception& error) {
            // A list broken by hand leaves the docks as they were, and is
            // told each walk until it is mended.
            detail::MachineFileFailure(error);
        }
    }

private:
    void Replace(const std::vector<DockEntry>& docks) {
        auto& devices = GetMachine().Devices();
        for (const auto& dock : plugged_)
            if (std::find(docks.begin(), docks.end(), dock) == docks.end()) devices.Detach(rootHub_, dock.port);
        for (const auto& dock : docks)
            if (std::find(plugged_.begin(), plugged_.end(), dock) == plugged_.end())
                devices.AttachDevice(rootHub_, dock.port, std::make_shared<LinkedDock>(dock, DockSocketPath(folder_)));
        plugged_ = docks;
    }

    std::mutex mutex_;
    const std::string folder_;
    detail::BoundFile file_;
    const DEVINST rootHub_;
    std::vector<DockEntry> plugged_;
};

}  // namespace

void LoadMachine(const std::string& folder) {
    detail::BoundFile settingsFile(folder + "/machine.txt");
    const auto contents = settingsFile.Read();
    const MachineSettings settings =
        contents.text ? ParseMachineSettingsText(*contents.text, settingsFile.Path()) : MachineSettings{};
    // Read before anything is bound, so a broken list changes nothing.
    detail::BoundFile docksFile(folder + "/docks.txt");
    const auto docksText = docksFile.Read();
    const auto docks = docksText.text ? ParseDocksText(*docksText.text, docksFile.Path()) : std::vector<DockEntry>{};

    auto& machine = GetMachine();
    machine.Registry().BindFile(folder + "/registry.txt");
    try {
        machine.Spooler().BindFile(folder + "/spooler.txt");
        machine.Drivers().BindFile(folder + "/drivers.txt");
    } catch (...) {
        machine.Registry().BindFile("");
        machine.Spooler().BindFile("");
        throw;
    }
    machine.SetFolder(FullFolderName(folder));
    machine.SetUserIsAdministrator(settings.administrator);
    machine.SetVersion(settings.version);
    machine.Wireless().SetAccessPoints(settings.networks);

    // The docks the simulator serves, each on its port of one controller,
    // which has every port docks.txt may name, since docks come and go while
    // the program runs.
    docksFile.Accept(docksText);
    auto linked = std::make_shared<LinkedDocks>(folder, std::move(docksFile),
                                                machine.Devices().AddHostController(kMaxDockPort).rootHub);
    linked->PlugIn(docks);
    machine.Devices().SetHubWalkHook([linked] { linked->Refresh(); });
}

void SaveMachine(const std::string& folder) {
    auto& machine = GetMachine();
    MachineSettings settings;
    settings.administrator = machine.UserIsAdministrator();
    settings.version = machine.Version();
    settings.networks = machine.Wireless().AccessPoints();
    const std::string registry = FormatRegistryText(machine.Registry().Snapshot());
    const std::string spooler = FormatSpoolerText(machine.Spooler().Snapshot());
    const std::string drivers = FormatDriverStoreText(machine.Drivers().Snapshot());
    detail::FolderLock lock(folder);
    detail::BoundFile(folder + "/registry.txt").Write(registry);
    detail::BoundFile(folder + "/spooler.txt").Write(spooler);
    detail::BoundFile(folder + "/drivers.txt").Write(drivers);
    detail::BoundFile(folder + "/machine.txt").Write(FormatMachineSettingsText(settings));
}

}  // namespace Platform
