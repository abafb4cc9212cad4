// The printer status page's content, worked out from the printer's device
// id before any control is touched.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "ColourChoices.h"

namespace Gorlith {

namespace StatusControl {
inline constexpr int kMediaGroup = 650;
inline constexpr int kMediaBar = 651;
inline constexpr int kMediaText = 652;
inline constexpr int kPaperGroup = 655;
inline constexpr int kPaperText = 656;
inline constexpr int kPluginVersion = 657;
inline constexpr int kFirmwareCaption = 658;
inline constexpr int kFirmwareVersion = 659;
inline constexpr int kPaperCaption = 660;
}  // namespace StatusControl

namespace StatusString {
inline constexpr unsigned kUnknown = 20;
inline constexpr unsigned kRemaining = 21;  // format: remaining, capacity
inline constexpr unsigned kNoPaper = 26;
inline constexpr unsigned kNoMedia = 27;
inline constexpr unsigned kPluginVersion = 28;  // format: version text
}  // namespace StatusString

struct StatusPageContent {
    bool ready = false;
    std::set<int> hidden;
    std::set<int> shown;
    std::map<int, std::u16string> texts;
    std::optional<int> barRange;  // 0 to this
    std::optional<int> barPosition;
};

// The media count a "CCP:" code stands for; 0 for an unknown code.
int MediaCapacity(int code);

// deviceId: nothing when it could not be read. model: the identified
// printer, or null. printerSheet: the page is shown in the printer's
// properties (firmware version). pluginVersion: the plug-in file's version
// when it could be read.
StatusPageContent ComputeStatusPage(const std::optional<std::string>& deviceId, const PrinterConfig* model,
                                    const StringSource& strings, bool printerSheet,
                                    const std::optional<std::u16string>& pluginVersion);

}  // namespace Gorlith
