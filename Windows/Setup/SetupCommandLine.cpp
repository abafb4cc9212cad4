#include "SetupCommandLine.h"

#include <cstring>

#include "Tessary/i8n/UTFConversion.h"

namespace Istrova {

std::optional<AssistantLaunch> AssistantCommandLine(std::u16string_view installPath, const char* arguments) {
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

    AssistantLaunch launch;
    if (!installPath.empty()) {
        launch.program = installPath;
        launch.program += u'\\';
    }
    launch.program += kAssistantProgram;
    launch.arguments = std::move(wideArguments);
    const std::size_t whole = launch.program.size() + (launch.arguments.empty() ? 0 : 1 + launch.arguments.size());
    if (whole >= kCommandUnits) {
        return std::nullopt;
    }
    return launch;
}

}  // namespace Istrova
