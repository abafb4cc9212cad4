// The UTF-8 <-> UTF-16 codec every deliverable uses.
//
// Rules beyond plain Unicode: U+FFFE is dropped when encoding and U+FFFF
// refused, while U+FEFF is kept both ways, wherever it stands; overlong
// forms, encoded surrogates, non-characters FFFE and FFFF and anything above
// U+10FFFF are refused when decoding. A zero unit or byte ends the input.
// Conversion into a buffer stops at the last whole code point that fits.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Tessary {

// Encodes `sourceUnits` UTF-16 units as UTF-8 into `target` (capacity
// `targetBytes`; no terminating zero is written). With a null target only
// the size is computed. Returns the number of bytes, or -1 on any error.
int UTF16ToUTF8(const char16_t* source, int sourceUnits, char* target, int targetBytes) noexcept;

// Decodes `sourceBytes` bytes of UTF-8 into `target` (capacity `targetUnits`;
// no terminating zero is written). With a null target only the size is
// computed. Returns the number of UTF-16 units, or -1 on any error.
int UTF8ToUTF16(const char* source, int sourceBytes, char16_t* target, int targetUnits) noexcept;

// Throwing forms: TSException "Can't convert string" when the input is
// invalid, "Errors detected during conversion" when the conversion proper
// fails after a successful size query.
std::string UTF16ToUTF8String(const char16_t* source, int sourceUnits);
std::vector<char16_t> UTF8ToUTF16Buffer(const char* source, int sourceBytes);

// UTF-8 text as a zero-terminated UTF-16 buffer, for calls that take a
// wide C string. Throws as UTF8ToUTF16Buffer.
std::vector<char16_t> ToWideVector(const std::string& utf8);

namespace detail {

// The conversions proper. They throw TSException naming the first fault
// found; the int forms above turn that into -1.
std::size_t EncodeUTF8(const char16_t* source, std::size_t units, char* target, std::size_t capacity);
std::size_t DecodeUTF8(const char* source, std::size_t bytes, char16_t* target, std::size_t capacity);

}  // namespace detail

}  // namespace Tessary
