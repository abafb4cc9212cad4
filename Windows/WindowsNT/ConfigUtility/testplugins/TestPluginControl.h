// What the test plug-ins do and what they were asked, shared by the tests
// and the plug-ins through one library (tests only).
#pragma once

#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct TestPluginScript {
    unsigned mask = 0;
    // Statuses of successive ApplySettings calls; 0 once used up.
    std::deque<int> applyStatuses;
    int readStatus = 0;  // NewPrinterSelected after a successful read
    int testStatus = 0;  // TestConnection
    bool rescanAfterApply = false;
    // Product ids IsPrinterSupported accepts; empty accepts every printer.
    std::set<unsigned> supportedProducts;
    std::u16string guid;
    bool nullDialog = false;  // CreateConfigDialog returns null
};

// The script of a plug-in by its module name ("VelmoTestPluginA").
TestPluginScript& PluginScript(std::u16string_view plugin);
void ResetTestPlugins();

// Every call a plug-in took, as "<plugin>: <call>", in order.
std::vector<std::string>& PluginLog();
void LogPluginCall(std::u16string_view plugin, const std::string& call);
// The calls of one plug-in, without its name.
std::vector<std::string> PluginCalls(std::u16string_view plugin);
void ClearPluginLog();

// Plug-in dialog objects alive now.
int& LivePluginDialogs();
