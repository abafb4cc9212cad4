// How the setup library starts the setup assistant.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Istrova {

// Both the widened arguments and the whole command must fit this many
// UTF-16 units with their NUL.
inline constexpr std::size_t kCommandUnits = 1024;
inline constexpr std::u16string_view kAssistantProgram = u"Amberlo.exe";

// The program and its arguments, handed over apart so that no shell splits
// a folder with blanks.
struct AssistantLaunch {
    std::u16string program;    // in the install folder, or alone for the search path
    std::u16string arguments;  // widened, possibly empty
    bool operator==(const AssistantLaunch&) const = default;
};

// Nothing when the arguments are not valid text, or when they or the whole
// command ("program arguments") would not fit.
std::optional<AssistantLaunch> AssistantCommandLine(std::u16string_view installPath, const char* arguments);

}  // namespace Istrova
