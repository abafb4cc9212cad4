#include "ColourChoices.h"

#include <algorithm>
#include <cstring>

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/RodizuzUzezProperties.h"
#include "Tessary/TSException.h"
#include "Windows/Common/ResourceDLL.h"

namespace Gorlith {

StringSource ResourceStrings() {
    return [](unsigned id) -> std::optional<std::u16string> {
        ResourceDLL library;
        library.Load();
        WCHAR buffer[StResourceString::kSize] = {};
        const int units = library.LoadString(id, buffer, StResourceString::kSize);
        if (units <= 0) return std::nullopt;
        return std::u16string(buffer, static_cast<std::size_t>(units));
    };
}

namespace {

template <std::size_t N>
void CopyCut(char16_t (&to)[N], std::u16string_view text) {
    const std::size_t count = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), count, to);
    to[count] = 0;
}

template <std::size_t N>
void CopyCut(char (&to)[N], std::string_view text) {
    const std::size_t count = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), count, to);
    to[count] = 0;
}

std::optional<HeadDefinition> HeadFor(const PrinterConfig& model, const DeviceID1284& id) {
    try {
        if (const std::string* head = id.Field(DeviceID1284::PHD)) return model.GetHead(*head);
        return model.GetDefaultHead();
    } catch (const Tessary::TSException&) {
        return std::nullopt;
    }
}

}  // namespace

ChoiceList BuildChoiceList(const PrinterConfig* model, const char* deviceId, const StringSource& strings) {
    DeviceID1284 id;
    if (deviceId == nullptr || !id.Parse(deviceId)) return {};
    if (model == nullptr || model->lutNames.empty()) return {};
    const std::optional<HeadDefinition> head = HeadFor(*model, id);
    if (!head) return {};
    ChoiceList list;
    list.reserve(model->lutNames.size() + 1);
    for (const auto& [key, resourceId] : model->lutNames) {
        ColourChoice& choice = list.emplace_back();
        if (const auto label = strings(static_cast<unsigned>(resourceId))) CopyCut(choice.label, *label);
        try {
            CopyCut(choice.lutRef, head->GetLut(key).lutRef);
        } catch (const Tessary::TSException&) {
            // The head has no module for this table: it is offered without one.
        }
    }
    ColourChoice& none = list.emplace_back();
    if (const auto label = strings(kNoCorrectionString)) CopyCut(none.label, *label);
    return list;
}

ChoiceList BuildChoiceList(RodizuzUzezProperties& queue, const StringSource& strings) {
    PrinterConfig model;
    const bool identified = queue.IdentifyPrinter(model);
    char deviceId[255] = {};
    if (queue.GetDeviceID(deviceId, sizeof deviceId) != 0) return {};
    return BuildChoiceList(identified ? &model : nullptr, deviceId, strings);
}

ChoiceList BuildChoiceList(const WCHAR* printerName, const StringSource& strings) {
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    if (printerName == nullptr || !OpenPrinterW(const_cast<WCHAR*>(printerName), &handle, &defaults)) return {};
    struct Closer {
        HANDLE handle;
        ~Closer() { ClosePrinter(handle); }
    } closer{handle};
    RodizuzUzezProperties queue(handle);
    return BuildChoiceList(queue, strings);
}

std::u16string FormatResource(std::u16string_view format, const std::vector<std::u16string>& arguments) {
    std::u16string out;
    std::size_t next = 0;
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] != u'%') {
            out += format[at];
            continue;
        }
        if (at + 1 < format.size() && format[at + 1] == u'%') {
            out += u'%';
            ++at;
            continue;
        }
        // Flags, width, precision and length are skipped up to the
        // conversion letter; a lone trailing '%' is dropped.
        std::size_t end = at + 1;
        while (end < format.size() &&
               std::u16string_view(u"-+ #0123456789.*hlLqjzt").find(format[end]) != std::u16string_view::npos)
            ++end;
        if (end >= format.size()) break;
        if (next < arguments.size()) out += arguments[next];
        ++next;
        at = end;
    }
    return out;
}

void ApplyToBlock(PrivateDevMode& block, const ChoiceList& list, int index, const std::string& developerFile) {
    if (list.empty()) return;
    block.ccIndex = index;
    const auto at = static_cast<std::size_t>(index);
    if (index >= 0 && at + 1 == list.size()) {
        std::memset(block.ccFilter, 0, sizeof block.ccFilter);
        std::memset(block.ccFilterData, 0, sizeof block.ccFilterData);
        return;
    }
    CopyCut(block.ccFilter, kColourFilterLibrary);
    if (!developerFile.empty()) {
        std::memset(block.ccFilterData, 0, sizeof block.ccFilterData);
        CopyCut(block.ccFilterData, developerFile);
    } else if (index >= 0 && at < list.size()) {
        std::memset(block.ccFilterData, 0, sizeof block.ccFilterData);
        CopyCut(block.ccFilterData, list[at].lutRef);
    }
}

int ApplyToQueue(RodizuzUzezProperties& queue, int index, const std::function<ChoiceList()>& list) {
    const int result = queue.SetCCIndex(index);
    if (result != 0) return result;
    const ChoiceList choices = list();
    if (index < 0 || static_cast<std::size_t>(index) >= choices.size()) return result;
    if (static_cast<std::size_t>(index) + 1 == choices.size()) {
        queue.SetCCFilter("");
        queue.SetCCFilterData("");
    } else {
        queue.SetCCFilter(kColourFilterLibrary);
        queue.SetCCFilterData(choices[static_cast<std::size_t>(index)].lutRef);
    }
    return result;
}

}  // namespace Gorlith
