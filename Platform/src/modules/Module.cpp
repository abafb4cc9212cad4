#include "Platform/Paths.h"
#include "Platform/Resource.h"

#include "Utf.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace Platform {
namespace {

// The program's own module; never loaded or freed.
constexpr std::uintptr_t kMainModule = 0x00400000;

struct Module {
    std::u16string key;  // see ModuleKey
    std::string file;    // where it came from (for in-memory modules, where it would be)
    void* library = nullptr;
    std::shared_ptr<const ResourceTable> resources;
    unsigned references = 1;
};

struct ModuleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, Module> modules;
    // Like kernel handles, module handles are never reused within a run.
    std::uintptr_t next = 0x10000000;
};

// Process-wide state is never destroyed: libraries and detached threads
// may still use it while the process exits.
ModuleTable& Modules() {
    static auto* table = new ModuleTable;
    return *table;
}

struct Registration {
    std::uint64_t token;
    bool main;
    std::u16string key;
    std::shared_ptr<const ResourceTable> table;
};

struct Registry {
    std::mutex mutex;
    std::vector<Registration> entries;  // latest last
    std::uint64_t nextToken = 1;
};

Registry& Registrations() {
    static auto* registry = new Registry;
    return *registry;
}

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char16_t a, char16_t b) { return AsciiUpper(a) == AsciiUpper(b); });
}

// The name modules are known by: the file name in ASCII upper case, with
// ".DLL" added when it has no extension ("orvres" and "ORVRES.DLL" agree).
std::u16string ModuleKey(std::u16string_view baseName) {
    std::u16string key;
    for (char16_t c : baseName) key.push_back(AsciiUpper(c));
    if (key.find(u'.') == std::u16string::npos) key += u".DLL";
    return key;
}

std::u16string_view StripDll(std::u16string_view baseName) {
    if (EndsWithNoCase(baseName, u".dll")) baseName.remove_suffix(4);
    return baseName;
}

// "Name.dll" and "Name" -> "libName.so"; a name that already ends in ".so"
// is taken as it is.
std::string SharedObjectName(std::u16string_view baseName) {
    if (EndsWithNoCase(baseName, u".so")) return Utf16ToUtf8(baseName);
    return "lib" + Utf16ToUtf8(StripDll(baseName)) + ".so";
}

std::string ResourceFileName(std::u16string_view baseName) {
    return Utf16ToUtf8(StripDll(baseName)) + ".rc.txt";
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::shared_ptr<const ResourceTable> FindRegistered(bool main, const std::u16string& key) {
    auto& registry = Registrations();
    std::lock_guard lock(registry.mutex);
    for (auto it = registry.entries.rbegin(); it != registry.entries.rend(); ++it) {
        if (it->main == main && (main || it->key == key)) return it->table;
    }
    return nullptr;
}

std::uint64_t AddRegistration(bool main, std::u16string key, ResourceTable table) {
    auto shared = std::make_shared<const ResourceTable>(std::move(table));
    auto& registry = Registrations();
    std::lock_guard lock(registry.mutex);
    const auto token = registry.nextToken++;
    registry.entries.push_back({token, main, std::move(key), std::move(shared)});
    return token;
}

HMODULE ToHandle(std::uintptr_t value) {
    return reinterpret_cast<HMODULE>(value);
}
std::uintptr_t FromHandle(HMODULE module) {
    return reinterpret_cast<std::uintptr_t>(module);
}

// Called with the table locked.
HMODULE AddModuleLocked(ModuleTable& table, Module module) {
    const auto value = table.next;
    table.next += 0x10000;
    table.modules.emplace(value, std::move(module));
    return ToHandle(value);
}

// Called with the table locked. A loaded module that `match` accepts gains a
// reference.
template <class Match>
HMODULE ReuseLocked(ModuleTable& table, Match&& match) {
    for (auto& [value, module] : table.modules) {
        if (match(module)) {
            ++module.references;
            return ToHandle(value);
        }
    }
    return nullptr;
}

HMODULE LoadResourceFileModule(ModuleTable& table, const std::u16string& key, const std::string& path) {
    try {
        auto resources = std::make_shared<const ResourceTable>(LoadResourceFile(path));
        return AddModuleLocked(table, Module{key, path, nullptr, std::move(resources)});
    } catch (const ResourceFileError& e) {
        // The file is the program's own input: say why it was refused.
        std::fprintf(stderr, "%s\n", e.what());
        SetLastError(ERROR_BAD_FORMAT);
        return nullptr;
    }
}

std::string LoadedPath(void* library, const std::string& fallback) {
    link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        *map->l_name != 0) {
        return map->l_name;
    }
    return fallback;
}

HMODULE LoadSharedObject(const std::u16string& key, const std::string& target, bool fileExists) {
    // Outside the table lock: the library's initialisers may call back in.
    void* library = ::dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        if (fileExists) std::fprintf(stderr, "%s\n", ::dlerror());
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::string path = LoadedPath(library, target);
    auto resources = FindRegistered(false, key);

    auto& table = Modules();
    std::unique_lock lock(table.mutex);
    if (HMODULE existing = ReuseLocked(table, [&](const Module& m) { return m.library == library; })) {
        lock.unlock();
        ::dlclose(library);  // the loaded module holds its own
        return existing;
    }
    return AddModuleLocked(table, Module{key, path, library, std::move(resources)});
}

HMODULE LoadByName(std::u16string_view name) {
    const auto key = ModuleKey(name);
    const auto directory = ProgramDirectory();
    {
        auto& table = Modules();
        std::lock_guard lock(table.mutex);
        if (HMODULE loaded = ReuseLocked(table, [&](const Module& m) { return m.key == key; })) return loaded;
        if (auto resources = FindRegistered(false, key)) {
            return AddModuleLocked(table, Module{key, directory + '/' + Utf16ToUtf8(name), nullptr, resources});
        }
        const auto textFile = directory + '/' + ResourceFileName(name);
        if (IsRegularFile(textFile)) return LoadResourceFileModule(table, key, textFile);
    }
    const auto soName = SharedObjectName(name);
    const auto besideProgram = directory + '/' + soName;
    if (IsRegularFile(besideProgram)) return LoadSharedObject(key, besideProgram, true);
    return LoadSharedObject(key, soName, false);
}

HMODULE LoadByPath(std::u16string_view path) {
    std::size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    const auto base = path.substr(cut);
    if (base.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::u16string folder(path.substr(0, cut));
    const auto directory = MapPath(folder.c_str());
    const auto prefix = directory.empty() ? std::string() : directory + '/';
    const auto key = ModuleKey(base);
    const auto textFile = prefix + ResourceFileName(base);
    const auto soFile = prefix + SharedObjectName(base);
    {
        auto& table = Modules();
        std::lock_guard lock(table.mutex);
        if (HMODULE loaded = ReuseLocked(table, [&](const Module& m) { return m.file == textFile; })) return loaded;
        if (IsRegularFile(textFile)) return LoadResourceFileModule(table, key, textFile);
    }
    if (!IsRegularFile(soFile)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // dlopen treats a name without '/' as a search request.
    return LoadSharedObject(key, soFile.find('/') == std::string::npos ? "./" + soFile : soFile, true);
}

// Drops one reference; the last one unloads. Returns false for an unknown
// handle.
bool Release(HMODULE handle) {
    void* library = nullptr;
    Module dropped;  // destroyed outside the lock
    {
        auto& table = Modules();
        std::lock_guard lock(table.mutex);
        auto it = table.modules.find(FromHandle(handle));
        if (it == table.modules.end()) return false;
        if (--it->second.references > 0) return true;
        library = it->second.library;
        dropped = std::move(it->second);
        table.modules.erase(it);
    }
    if (library != nullptr) ::dlclose(library);
    return true;
}

}  // namespace

ResourceRegistration& ResourceRegistration::operator=(ResourceRegistration&& other) noexcept {
    if (this != &other) {
        Reset();
        token_ = std::exchange(other.token_, 0);
    }
    return *this;
}

ResourceRegistration::~ResourceRegistration() {
    Reset();
}

void ResourceRegistration::Reset() {
    if (token_ == 0) return;
    std::shared_ptr<const ResourceTable> dropped;  // destroyed outside the lock
    auto& registry = Registrations();
    std::lock_guard lock(registry.mutex);
    auto it = std::find_if(registry.entries.begin(), registry.entries.end(),
                           [&](const Registration& r) { return r.token == token_; });
    if (it != registry.entries.end()) {
        dropped = std::move(it->table);
        registry.entries.erase(it);
    }
    token_ = 0;
}

ResourceRegistration RegisterResourceModule(std::u16string_view moduleName, ResourceTable table) {
    return ResourceRegistration(AddRegistration(false, ModuleKey(moduleName), std::move(table)));
}

ResourceRegistration RegisterMainResources(ResourceTable table) {
    return ResourceRegistration(AddRegistration(true, {}, std::move(table)));
}

namespace {

// False when the handle names no loaded module.
bool LookupResources(HMODULE module, std::shared_ptr<const ResourceTable>& resources) {
    if (module == nullptr || FromHandle(module) == kMainModule) {
        resources = FindRegistered(true, {});
        return true;
    }
    auto& table = Modules();
    std::lock_guard lock(table.mutex);
    auto it = table.modules.find(FromHandle(module));
    if (it == table.modules.end()) return false;
    resources = it->second.resources;
    return true;
}

}  // namespace

std::shared_ptr<const ResourceTable> GetModuleResources(HMODULE module) {
    std::shared_ptr<const ResourceTable> resources;
    LookupResources(module, resources);
    return resources;
}

HINSTANCE MainModuleHandle() {
    return ToHandle(kMainModule);
}

std::shared_ptr<const DialogTemplate> FindDialogTemplate(HMODULE module, UINT id) {
    auto resources = GetModuleResources(module);
    if (!resources) return nullptr;
    auto it = resources->dialogs.find(id);
    if (it == resources->dialogs.end()) return nullptr;
    return std::shared_ptr<const DialogTemplate>(resources, &it->second);
}

}  // namespace Platform

using namespace Platform;

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (fileName == nullptr || *fileName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        const std::u16string_view name(fileName);
        const bool isPath = std::any_of(name.begin(), name.end(), IsSeparator);
        return isPath ? LoadByPath(name) : LoadByName(name);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto wide = Utf8ToUtf16(fileName);
    if (!wide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryW(wide->c_str());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    // Names below 0x10000 are ordinals, which shared objects do not have.
    if (reinterpret_cast<std::uintptr_t>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* library = nullptr;
    {
        auto& table = Modules();
        std::lock_guard lock(table.mutex);
        auto it = table.modules.find(FromHandle(module));
        if (it == table.modules.end()) {
            SetLastError(FromHandle(module) == kMainModule ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
            return nullptr;
        }
        library = it->second.library;
        // Held while looking up, so a concurrent FreeLibrary cannot unload it
        // under dlsym.
        if (library != nullptr) ++it->second.references;
    }
    if (library == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = ::dlsym(library, procName);
    Release(module);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    if (FromHandle(module) == kMainModule) return TRUE;
    if (!Release(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    if (moduleName == nullptr) return MainModuleHandle();
    const std::u16string_view name(moduleName);
    std::size_t cut = name.size();
    while (cut > 0 && !IsSeparator(name[cut - 1])) --cut;
    const auto key = ModuleKey(name.substr(cut));
    auto& table = Modules();
    std::lock_guard lock(table.mutex);
    for (const auto& [value, module] : table.modules) {
        if (module.key == key) return ToHandle(value);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    std::string path;
    if (module == nullptr || FromHandle(module) == kMainModule) {
        path = ProgramFile();
    } else {
        auto& table = Modules();
        std::lock_guard lock(table.mutex);
        auto it = table.modules.find(FromHandle(module));
        if (it == table.modules.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        path = it->second.file;
    }
    if (fileName == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const auto decoded = Utf8ToUtf16(path);
    if (!decoded) {
        SetLastError(ERROR_INVALID_PARAMETER);  // a file name that is not UTF-8
        return 0;
    }
    const auto& wide = *decoded;
    if (wide.size() >= size) {
        // Cut to the buffer, terminator included; the error tells the
        // caller to ask again with a larger one.
        std::copy_n(wide.begin(), size - 1, fileName);
        fileName[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(wide.begin(), wide.end(), fileName);
    fileName[wide.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    std::shared_ptr<const ResourceTable> resources;
    if (!LookupResources(instance, resources)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!resources) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    auto it = resources->strings.find(id);
    if (it == resources->strings.end() || it->second.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const auto& text = it->second;
    auto count = std::min(text.size(), static_cast<std::size_t>(bufferMax - 1));
    // Never end on half a surrogate pair: the cut text stays valid UTF-16.
    if (count < text.size() && count > 0 && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = 0;
    return static_cast<int>(count);
}

// ----- Binary resources

namespace {

// One per binary resource ever found. Never freed, so that a resource
// handle stays a valid key; what it names goes with its module's table.
struct FoundResource {
    std::weak_ptr<const std::vector<std::uint8_t>> data;
    std::weak_ptr<const DialogTemplate> dialog;  // an RT_DIALOG resource
};

struct FoundResources {
    std::mutex mutex;
    std::map<std::tuple<const void*, std::u16string, UINT>, std::unique_ptr<FoundResource>> byKey;
    std::set<const FoundResource*> all;
};

FoundResources& Found() {
    static auto* found = new FoundResources;
    return *found;
}

bool ResourceId(LPCWSTR name, UINT& id) {
    if (IS_INTRESOURCE(name)) {
        id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(name));
        return true;
    }
    const std::u16string_view text(name);
    if (text.size() < 2 || text.size() > 6 || text[0] != u'#') return false;
    unsigned value = 0;
    for (char16_t c : text.substr(1)) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<unsigned>(c - u'0');
    }
    if (value > 0xFFFF) return false;
    id = value;
    return true;
}

std::u16string ResourceType(LPCWSTR type) {
    std::u16string text;
    if (IS_INTRESOURCE(type)) {
        for (char c : std::to_string(reinterpret_cast<std::uintptr_t>(type))) text += static_cast<char16_t>(c);
        return text;
    }
    for (const char16_t* p = type; *p != 0; ++p)
        text += (*p >= u'a' && *p <= u'z') ? static_cast<char16_t>(*p - 32) : *p;
    return text;
}

const FoundResource* Known(const void* handle) {
    auto& found = Found();
    std::lock_guard lock(found.mutex);
    auto it = found.all.find(static_cast<const FoundResource*>(handle));
    return it == found.all.end() ? nullptr : *it;
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    if (name == nullptr || type == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<const ResourceTable> resources;
    if (!LookupResources(module, resources)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!resources) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const std::u16string typeName = ResourceType(type);
    UINT id = 0;
    if (typeName == ResourceType(RT_DIALOG)) {
        auto dialog = resources->dialogs.end();
        if (ResourceId(name, id)) dialog = resources->dialogs.find(id);
        if (dialog == resources->dialogs.end()) {
            SetLastError(resources->dialogs.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        std::shared_ptr<const DialogTemplate> data(resources, &dialog->second);
        auto& found = Found();
        std::lock_guard lock(found.mutex);
        auto& entry = found.byKey[{resources.get(), typeName, id}];
        if (!entry) {
            entry = std::make_unique<FoundResource>();
            found.all.insert(entry.get());
        }
        if (entry->dialog.expired()) entry->dialog = data;
        return reinterpret_cast<HRSRC>(entry.get());
    }
    auto it = resources->binaries.end();
    if (ResourceId(name, id)) it = resources->binaries.find({typeName, id});
    if (it == resources->binaries.end()) {
        const bool typeKnown = std::any_of(resources->binaries.begin(), resources->binaries.end(),
                                           [&](const auto& entry) { return entry.first.first == typeName; });
        SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    std::shared_ptr<const std::vector<std::uint8_t>> data(resources, &it->second);
    auto& found = Found();
    std::lock_guard lock(found.mutex);
    auto& entry = found.byKey[{resources.get(), typeName, id}];
    if (!entry) {
        entry = std::make_unique<FoundResource>();
        found.all.insert(entry.get());
    }
    // A table at the address of one that is gone takes the entry over.
    if (entry->data.expired()) entry->data = data;
    return reinterpret_cast<HRSRC>(entry.get());
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (Known(resource) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(resource);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    const FoundResource* entry = Known(resource);
    if (entry != nullptr && !entry->dialog.expired()) return sizeof(DialogTemplate);
    auto data = entry ? entry->data.lock() : nullptr;
    if (!data) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(data->size());
}

LPVOID LockResource(HGLOBAL resource) {
    const FoundResource* entry = Known(resource);
    if (auto dialog = entry ? entry->dialog.lock() : nullptr) return const_cast<DialogTemplate*>(dialog.get());
    auto data = entry ? entry->data.lock() : nullptr;
    if (!data) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Valid while the module stays loaded.
    return const_cast<std::uint8_t*>(data->data());
}
