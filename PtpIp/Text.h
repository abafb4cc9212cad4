// UTF-8 to UTF-16 for names that come from the registry, the host and the
// network: malformed bytes become U+FFFD and the result is cut to a number
// of units without splitting a surrogate pair.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Jorvale {

std::u16string WidenUtf8(std::string_view text, std::size_t maxUnits);
std::string NarrowUtf16(std::u16string_view text);

}  // namespace Jorvale
