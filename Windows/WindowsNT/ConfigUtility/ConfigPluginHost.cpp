#include "ConfigPluginHost.h"

#include <atomic>

namespace {

std::atomic<int> g_loaded{0};

// The folder of the running program, with a trailing separator.
std::u16string ProgramFolder() {
    std::u16string path(4096, u'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    const auto slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

}  // namespace

bool IsAcceptablePluginName(std::u16string_view name) {
    return !name.empty() && name.find_first_of(u"/\\") == std::u16string_view::npos &&
           name.find(u"..") == std::u16string_view::npos;
}

ConfigPlugin::~ConfigPlugin() {
    Unload();
}

void ConfigPlugin::Load(std::u16string_view name) {
    Unload();
    if (!IsAcceptablePluginName(name)) return;
    const auto folder = ProgramFolder();
    if (folder.empty()) return;
    const std::u16string path = folder + std::u16string(name) + u".dll";
    module_ = LoadLibraryW(path.c_str());
    if (module_ == nullptr) return;
    ++g_loaded;
    auto create = reinterpret_cast<CreateConfigDialogProc>(GetProcAddress(module_, kCreateConfigDialogExport));
    if (create != nullptr) dialog_.reset(create());
}

void ConfigPlugin::Unload() {
    if (dialog_) {
        if (dialog_->m_hWnd != nullptr) dialog_->DestroyWindow();
        dialog_.reset();  // the destructor's code is the plug-in's
    }
    if (module_ != nullptr) {
        FreeLibrary(module_);
        module_ = nullptr;
        --g_loaded;
    }
}

int ConfigPlugin::LoadedCount() {
    return g_loaded.load();
}
