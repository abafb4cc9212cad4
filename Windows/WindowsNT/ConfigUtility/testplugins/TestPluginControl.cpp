#include "TestPluginControl.h"

#include <map>

namespace {

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());  // module names are ASCII
}

std::map<std::u16string, TestPluginScript>& Scripts() {
    static std::map<std::u16string, TestPluginScript> scripts;
    return scripts;
}

}  // namespace

TestPluginScript& PluginScript(std::u16string_view plugin) {
    return Scripts()[std::u16string(plugin)];
}

void ResetTestPlugins() {
    Scripts().clear();
    PluginLog().clear();
}

std::vector<std::string>& PluginLog() {
    static std::vector<std::string> log;
    return log;
}

void LogPluginCall(std::u16string_view plugin, const std::string& call) {
    PluginLog().push_back(Narrow(plugin) + ": " + call);
}

std::vector<std::string> PluginCalls(std::u16string_view plugin) {
    const std::string prefix = Narrow(plugin) + ": ";
    std::vector<std::string> calls;
    for (const auto& entry : PluginLog()) {
        if (entry.compare(0, prefix.size(), prefix) == 0) calls.push_back(entry.substr(prefix.size()));
    }
    return calls;
}

void ClearPluginLog() {
    PluginLog().clear();
}

int& LivePluginDialogs() {
    static int live = 0;
    return live;
}
