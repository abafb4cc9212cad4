// What the user-interface plug-in offers and stores for colour correction:
// the choice list of a print queue, the texts it shows, and how a choice is
// written so that the rendering plug-in takes it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Win32.h"
#include "PrivateDevMode.h"

class DeviceID1284;
class PrinterConfig;
class RodizuzUzezProperties;

namespace Gorlith {

// A resource string by id; nothing when the id names none.
using StringSource = std::function<std::optional<std::u16string>(unsigned id)>;

// Strings of the resource library.
StringSource ResourceStrings();

inline constexpr unsigned kNoCorrectionString = 502;
inline constexpr const char* kColourFilterLibrary = "ORVDynCC.dll";

// One entry of the list; the last one of a list means no correction.
struct ColourChoice {
    char16_t label[64] = {};
    char lutRef[64] = {};
};

using ChoiceList = std::vector<ColourChoice>;

// The model's tables in key order plus the final "none" record; empty when
// the id does not parse, the model has no tables or the head is unknown.
ChoiceList BuildChoiceList(const PrinterConfig* model, const char* deviceId, const StringSource& strings);
// The same for a queue: identifies the printer and reads its device id.
ChoiceList BuildChoiceList(RodizuzUzezProperties& queue, const StringSource& strings);
// Opens the queue by name (administer access) for the time it takes.
ChoiceList BuildChoiceList(const WCHAR* printerName, const StringSource& strings);

// Resource text used as a format: each printf-style conversion takes the
// next argument as text, conversions past the last argument become empty,
// and "%%" is a percent sign.
std::u16string FormatResource(std::u16string_view format, const std::vector<std::u16string>& arguments);

// The document page's choice into the private block. A list of no records
// stores nothing; an index without a record leaves the filter data as it
// was unless a developer file is given.
void ApplyToBlock(PrivateDevMode& block, const ChoiceList& list, int index, const std::string& developerFile = {});

// The printer's choice into its data values: the index first, and the
// filter and its data only when the index was written and the list (made
// when needed) has a record at that index. Returns SetCCIndex's result.
int ApplyToQueue(RodizuzUzezProperties& queue, int index, const std::function<ChoiceList()>& list);

}  // namespace Gorlith
