#include "Platform/Kernel.h"

#include "Platform/Clock.h"
#include "Platform/InstanceChannel.h"
#include "Platform/Machine.h"

#include "Utf.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unordered_map>

namespace Platform {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Handles are multiples of 4 and never reused within a process run, so a
    // stale handle cannot name a newer object.
    std::uintptr_t next = 0x1000;
};

// Process-wide state is never destroyed: detached threads may still use it
// while the process exits.
HandleTable& Table() {
    static auto* table = new HandleTable;
    return *table;
}

// A lock file held for the life of a named event, so that other processes
// of the same user see the name as taken; the system drops the lock when
// this process dies.
class NameLock {
public:
    explicit NameLock(int fd) : fd_(fd) {}
    ~NameLock() { ::close(fd_); }
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;

private:
    int fd_;
};

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}
    std::unique_ptr<NameLock> nameLock;
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return signaled_; }
    void OnWaitSatisfied() override {
        if (!manualReset_) signaled_ = false;
    }
    void Set(bool value) { signaled_ = value; }
    bool ManualReset() const { return manualReset_; }
    // A waiter notes the generation when it starts; a pulse moves it on, so
    // exactly the threads already waiting see it.
    std::uint64_t PulseGeneration() const { return pulses_; }
    void Pulse() {
        ++pulses_;
        signaled_ = false;
    }

private:
    bool manualReset_;
    bool signaled_;
    std::uint64_t pulses_ = 0;
};

class Semaphore final : public KernelObject {
public:
    Semaphore(LONG count, LONG maximum) : count_(count), maximum_(maximum) {}
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return count_ > 0; }
    void OnWaitSatisfied() override { --count_; }
    bool Release(LONG count, LONG& previous) {
        previous = count_;
        if (count <= 0 || count > maximum_ - count_) return false;
        count_ += count;
        return true;
    }

private:
    LONG count_;
    LONG maximum_;
};

std::mutex& NamedEventsLock() {
    static auto* m = new std::mutex;
    return *m;
}

// Why `folder` (made here when missing) may not hold the user's names: it
// must be a folder, not a link, of this user and closed to everyone else.
// Null when it may.
const char* PrivateFolderFault(const std::string& folder) {
    ::mkdir(folder.c_str(), 0700);
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) return "cannot be made";
    if (S_ISLNK(status.st_mode)) return "is a link";
    if (!S_ISDIR(status.st_mode)) return "is no folder";
    if (status.st_uid != ::geteuid()) return "belongs to another user";
    if ((status.st_mode & 077) != 0) return "is open to other users";
    return nullptr;
}

// `folder`, or empty when it may not hold the user's names (said once).
std::string PrivateFolder(const std::string& folder) {
    const char* fault = PrivateFolderFault(folder);
    if (fault == nullptr) return folder;
    static std::once_flag told;
    std::call_once(told, [&] {
        std::fprintf(stderr, "%s %s: this program's named events and instance channel stay within the process\n",
                     folder.c_str(), fault);
    });
    return {};
}

// 64-bit FNV-1a: short enough for a socket path below it.
std::string HashName(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

}  // namespace

// $XDG_RUNTIME_DIR, else a folder of the user's own under /tmp. Anyone may
// have made that one first, so it is used only when private; otherwise the
// answer is empty.
std::string UserRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') return runtime;
    return PrivateFolder("/tmp/velmo-" + std::to_string(::getuid()));
}

// Named objects are the machine's: one folder a machine folder, inside the
// user's. Empty for a machine in memory, or when the user's folder cannot
// be trusted: names then count within the process.
std::string NamedObjectFolder() {
    const std::string machine = GetMachine().Folder();
    if (machine.empty()) return {};
    const std::string user = UserRuntimeFolder();
    if (user.empty()) return {};
    return PrivateFolder(user + "/velmo-" + HashName(machine));
}

namespace {

// Takes the machine's lock of an event name. Null with `taken` set when
// another process holds it; null without when no lock file can be made
// (the name then counts within this process only).
std::unique_ptr<NameLock> LockEventName(std::u16string_view name, bool& taken) {
    taken = false;
    const std::string folder = NamedObjectFolder();
    if (folder.empty()) return nullptr;
    std::string file = folder + "/event-";
    // The name may hold any character: the file name carries its UTF-8 bytes
    // in hex.
    const auto utf8 = Utf16ToUtf8(name);
    for (unsigned char c : utf8) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", c);
        file += hex;
    }
    if (file.size() > 4000) return nullptr;
    const int fd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        taken = errno == EWOULDBLOCK;
        ::close(fd);
        return nullptr;
    }
    // The holder answers the other processes of the machine from now on.
    ServeInstanceRequests();
    return std::make_unique<NameLock>(fd);
}

std::map<std::u16string, std::weak_ptr<Event>>& NamedEvents() {
    static auto* events = new std::map<std::u16string, std::weak_ptr<Event>>;
    return *events;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

std::mutex& KernelLock() {
    static auto* m = new std::mutex;
    return *m;
}

std::condition_variable& KernelSignal() {
    static auto* cv = new std::condition_variable;
    return *cv;
}

void NotifyKernelWaiters() {
    KernelSignal().notify_all();
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    const std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

std::size_t OpenHandleCount() {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    return table.objects.size();
}

}  // namespace Platform

using namespace Platform;

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;  // destroyed outside the table lock
    {
        auto& table = Table();
        std::lock_guard lock(table.mutex);
        auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        released = std::move(it->second);
        table.objects.erase(it);
    }
    return TRUE;
}

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name != nullptr && *name != 0) {
        std::lock_guard lock(NamedEventsLock());
        auto& events = NamedEvents();
        std::u16string key(name);
        if (auto existing = events[key].lock()) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return InsertHandle(existing);
        }
        auto event = std::make_shared<Event>(manualReset != FALSE, initialState != FALSE);
        bool taken = false;
        event->nameLock = LockEventName(key, taken);
        events[key] = event;
        // Another process of this user has the name: the event is its, as
        // far as the caller can tell.
        SetLastError(taken ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return InsertHandle(event);
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

static BOOL SetEventState(HANDLE handle, bool value) {
    auto event = LookupHandleAs<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard lock(KernelLock());
        event->Set(value);
    }
    if (value) NotifyKernelWaiters();
    return TRUE;
}

BOOL SetEvent(HANDLE event) {
    return SetEventState(event, true);
}
BOOL PulseEvent(HANDLE handle) {
    auto event = LookupHandleAs<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!event->ManualReset()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    {
        std::lock_guard lock(KernelLock());
        event->Pulse();
    }
    NotifyKernelWaiters();
    return TRUE;
}

HANDLE CreateSemaphoreW(void*, LONG initialCount, LONG maximumCount, LPCWSTR) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<Semaphore>(initialCount, maximumCount));
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount) {
    auto semaphore = LookupHandleAs<Semaphore>(handle);
    if (!semaphore) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    LONG previous = 0;
    bool released;
    {
        std::lock_guard lock(KernelLock());
        released = semaphore->Release(releaseCount, previous);
    }
    if (!released) {
        SetLastError(releaseCount <= 0 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previousCount != nullptr) *previousCount = previous;
    NotifyKernelWaiters();
    return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->impl = new std::recursive_mutex;
}
void EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    return static_cast<std::recursive_mutex*>(section->impl)->try_lock() ? TRUE : FALSE;
}
void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}
BOOL ResetEvent(HANDLE event) {
    return SetEventState(event, false);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = LookupHandle(handle);
    if (!object || !object->IsWaitable()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock lock(KernelLock());
    const auto* event = dynamic_cast<const Event*>(object.get());
    const std::uint64_t pulses = event != nullptr ? event->PulseGeneration() : 0;
    auto signaled = [&] { return object->IsSignaled() || (event != nullptr && event->PulseGeneration() != pulses); };
    bool done;
    if (milliseconds == INFINITE) {
        KernelSignal().wait(lock, signaled);
        done = true;
    } else {
        auto& clock = GetClock();
        done = clock.WaitUntil(lock, KernelSignal(), clock.Now() + Milliseconds(milliseconds), signaled);
    }
    if (!done) return WAIT_TIMEOUT;
    if (object->IsSignaled()) object->OnWaitSatisfied();
    return WAIT_OBJECT_0;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetClock().Now().count());
}
std::uint64_t GetTickCount64() {
    return static_cast<std::uint64_t>(GetClock().Now().count());
}
void Sleep(DWORD milliseconds) {
    GetClock().SleepFor(Milliseconds(milliseconds));
}
