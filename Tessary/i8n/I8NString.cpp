#include "Tessary/i8n/I8NString.h"

#include "Tessary/TSException.h"
#include "Tessary/i8n/UTFConversion.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace Tessary {

namespace {

bool IsSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// A zero-filled buffer for `units` units and the terminating zero.
char16_t* AllocateUnits(std::size_t units) noexcept {
    if (units >= SIZE_MAX / sizeof(char16_t) - 1) return nullptr;
    return static_cast<char16_t*>(std::calloc(units + 1, sizeof(char16_t)));
}

}  // namespace

char16_t* Win32StringMgr::Duplicate(const char16_t* text) {
    return Duplicate(text, Length(text));
}

char16_t* Win32StringMgr::Duplicate(const char16_t* text, std::size_t units) {
    if (text == nullptr) units = 0;
    char16_t* copy = AllocateUnits(units);
    if (copy == nullptr) TS_THROW(TSBadAlloc, "Couldn't allocate string buffer");
    if (units > 0) std::memcpy(copy, text, units * sizeof(char16_t));
    return copy;
}

void Win32StringMgr::Free(char16_t*& text) noexcept {
    std::free(text);
    text = nullptr;
}

void Win32StringMgr::CreateFromUtf8(char16_t*& target, const char* utf8) {
    char16_t* created = nullptr;
    const std::size_t bytes = utf8 != nullptr ? std::strlen(utf8) + 1 : 0;
    // Null, empty and invalid input all give the empty text: a reader never
    // has to handle a missing buffer.
    const int units = bytes > 1 && bytes <= INT_MAX ? UTF8ToUTF16(utf8, static_cast<int>(bytes), nullptr, 0) : -1;
    if (units > 0) {
        created = AllocateUnits(static_cast<std::size_t>(units));
        if (created == nullptr) TS_THROW(TSBadAlloc, "Couldn't allocate string buffer");
        if (UTF8ToUTF16(utf8, static_cast<int>(bytes), created, units) != units) Free(created);
    }
    if (created == nullptr) created = Duplicate(nullptr);
    Free(target);
    target = created;
}

char16_t* Win32StringMgr::Concatenate(const char16_t* first, const char16_t* second) noexcept {
    const std::size_t firstUnits = Length(first);
    const std::size_t secondUnits = Length(second);
    if (secondUnits > SIZE_MAX / 2 - firstUnits) return nullptr;
    char16_t* joined = AllocateUnits(firstUnits + secondUnits);
    if (joined == nullptr) return nullptr;
    if (firstUnits > 0) std::memcpy(joined, first, firstUnits * sizeof(char16_t));
    if (secondUnits > 0) std::memcpy(joined + firstUnits, second, secondUnits * sizeof(char16_t));
    return joined;
}

void Win32StringMgr::AppendCharacter(char16_t*& target, char16_t character) {
    if (IsSurrogate(character)) {
        TS_THROW(TSLogicError, "Character concatenation is not supported for surrogate pairs");
    }
    const std::size_t units = Length(target);
    // realloc leaves the old buffer intact when it fails.
    void* grown =
        units < SIZE_MAX / sizeof(char16_t) - 2 ? std::realloc(target, (units + 2) * sizeof(char16_t)) : nullptr;
    if (grown == nullptr) TS_THROW(TSBadAlloc, "Couldn't allocate expanded string buffer");
    target = static_cast<char16_t*>(grown);
    target[units] = character;
    target[units + 1] = 0;
}

char16_t Win32StringMgr::GetCharacter(const char16_t* text, std::size_t position) {
    if (position >= Length(text)) TS_THROW(TSLogicError, "Invalid character position within source string");
    return text[position];
}

std::size_t Win32StringMgr::Length(const char16_t* text) noexcept {
    if (text == nullptr) return 0;
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

int Win32StringMgr::Compare(const char16_t* first, const char16_t* second) noexcept {
    static const char16_t kEmpty = 0;
    if (first == nullptr) first = &kEmpty;
    if (second == nullptr) second = &kEmpty;
    for (;; ++first, ++second) {
        if (*first != *second) return *first < *second ? -1 : 1;
        if (*first == 0) return 0;
    }
}

I8NString WideToI8NString(const char16_t* text) {
    return I8NString(text);
}

template class I8NStringT<char16_t*, Win32StringMgr>;

}  // namespace Tessary
