// UTF-8 <-> UTF-16 for the platform's own needs (file names, resource
// files). The foundation has its own codec; the platform sits below it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Platform {

// Strict: an overlong form, a surrogate, a value above U+10FFFF, a bad
// continuation byte or a cut sequence gives nullopt.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-16 units as little-endian bytes and back (a last odd byte is dropped).
std::string Utf16LeBytes(std::u16string_view units);
std::u16string Utf16FromLeBytes(const unsigned char* bytes, std::size_t size);
// Appends one code point (not a surrogate, at most U+10FFFF) as UTF-16.
void AppendUtf16(std::u16string& out, char32_t codePoint);

}  // namespace Platform
