// The machine's host id: where the printer sends the pictures of a transfer.
#pragma once

#include <optional>
#include <string>

// A string value of at most 40 units, read with read access only; nothing
// when it is missing, longer or not text.
std::optional<std::u16string> ReadHostId();
