#include "SetupCommandLine.h"

#include <cstring>

#include "Tessary/i8n/UTFConversion.h"

namespace Istrova {

std::optional<std::u16string> AssistantCommandLine(std::u16string_view installPath, const char* arguments) {
    std::u16string wideArguments;
    if (arguments != nullptr && *arguments != '\0') {
        const std::size_t bytes = std::strlen(arguments);
        if (bytes >= kCommandUnits * 4) {
            return std::nullopt;
        }
        const int units = Tessary::UTF8ToUTF16(arguments, static_cast<int>(bytes), nullptr, 0);
        if (units < 0 || static_cast<std::size_t>(units) >= kCommandUnits) {
            return std::nullopt;
        }
        wideArguments.resize(static_cast<std::size_t>(units));
        Tessary::UTF8ToUTF16(arguments, static_cast<int>(bytes), wideArguments.data(), units);
    }

    std::u16string command = u"\"";
    if (!installPath.empty()) {
        command += installPath;
        command += u'\\';
    }
    command += kAssistantProgram;
    command += u'"';
    if (!wideArguments.empty()) {
        command += u' ';
        command += wideArguments;
    }
    if (command.size() >= kCommandUnits) {
        return std::nullopt;
    }
    return command;
}

}  // namespace Istrova
