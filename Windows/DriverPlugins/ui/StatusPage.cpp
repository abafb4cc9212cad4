#include "StatusPage.h"

#include <cstdlib>

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Common/Headers/PrinterConfig.h"

namespace Gorlith {

int MediaCapacity(int code) {
    switch (code) {
        case 1:
            return 40;
        case 2:
            return 10;
        case 3:
            return 20;
        case 4:
            return 5;
        case 5:
            return 25;
        case 6:
            return 50;
        case 7:
            return 75;
        case 8:
            return 100;
        default:
            return 0;
    }
}

namespace {

// Numbers of the id are read as the printer's 16-bit values.
std::optional<int> Number(const DeviceID1284& id, DeviceID1284::Key key) {
    const std::string* text = id.Field(key);
    if (text == nullptr) return std::nullopt;
    return static_cast<std::int16_t>(std::atoi(text->c_str()));
}

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string Text(const StringSource& strings, unsigned id) {
    return strings(id).value_or(std::u16string());
}

std::u16string PaperName(const PrinterConfig* model, const std::string& reported, const StringSource& strings) {
    if (model != nullptr) {
        const auto entry = model->paperIdsByReportedSize.find(reported);
        if (entry != model->paperIdsByReportedSize.end()) {
            PaperDefinition probe;
            probe.id = entry->second;
            const auto paper = model->papers.find(probe);
            if (paper != model->papers.end())
                if (auto name = strings(static_cast<unsigned>(paper->resourceId))) return *name;
        }
    }
    return Text(strings, StatusString::kUnknown);
}

}  // namespace

StatusPageContent ComputeStatusPage(const std::optional<std::string>& deviceId, const PrinterConfig* model,
                                    const StringSource& strings, bool printerSheet,
                                    const std::optional<std::u16string>& pluginVersion) {
    using namespace StatusControl;
    StatusPageContent page;
    if (pluginVersion) {
        if (auto format = strings(StatusString::kPluginVersion))
            page.texts[kPluginVersion] = FormatResource(*format, {*pluginVersion});
    }
    const auto hideAll = [&page] {
        page.hidden.insert({kMediaGroup, kMediaBar, kMediaText, kPaperGroup, kPaperText, kPaperCaption});
    };
    if (!deviceId) {
        hideAll();
        return page;
    }
    DeviceID1284 id;
    if (!id.Parse(deviceId->c_str())) return page;

    const std::optional<int> code = Number(id, DeviceID1284::CCP);
    const std::optional<int> remaining = Number(id, DeviceID1284::PUR);
    const std::optional<int> paper = Number(id, DeviceID1284::TSZ);
    if (!code && !remaining && !paper) {
        hideAll();
        return page;
    }

    const int capacity = MediaCapacity(code.value_or(0));
    const int left = remaining.value_or(0);
    if (left != 99 && capacity != 0) {
        if (auto format = strings(StatusString::kRemaining))
            page.texts[kMediaText] =
                FormatResource(*format, {Widen(std::to_string(left)), Widen(std::to_string(capacity))});
        page.barRange = capacity;
        page.barPosition = left;
    } else {
        const std::optional<int> sheets = Number(id, DeviceID1284::CSZ);
        page.texts[kMediaText] =
            Text(strings, sheets && *sheets == 0 ? StatusString::kNoMedia : StatusString::kUnknown);
    }

    if (paper.value_or(0) != 0)
        page.texts[kPaperText] = PaperName(model, *id.Field(DeviceID1284::TSZ), strings);
    else
        page.texts[kPaperText] = Text(strings, StatusString::kNoPaper);

    const std::string* firmware = id.Field(DeviceID1284::VER);
    if (printerSheet && firmware != nullptr) {
        page.texts[kFirmwareVersion] = Widen(*firmware);
        page.shown.insert({kFirmwareCaption, kFirmwareVersion});
    } else {
        page.hidden.insert({kFirmwareCaption, kFirmwareVersion});
    }
    page.ready = true;
    return page;
}

}  // namespace Gorlith
