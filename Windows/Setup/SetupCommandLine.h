// The command line the setup library starts the setup assistant with.
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

// The program in the install folder (or alone, found by the search path when
// no folder is registered), quoted so a folder with blanks starts the right
// program, then one blank and the arguments when there are any. Nothing when
// the arguments are not valid text or either text would not fit.
std::optional<std::u16string> AssistantCommandLine(std::u16string_view installPath, const char* arguments);

}  // namespace Istrova
