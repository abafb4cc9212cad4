// The owned UTF-16 text of every user-visible name, and its buffer manager.
//
// The text lives in one heap buffer from the C allocator (calloc/free), so
// every deliverable that passes it across its exported interface frees what
// another allocated. The buffer is never null: an empty text holds an
// allocated empty string. Positions and lengths count UTF-16 units.
#pragma once

#include <cstddef>
#include <string>

namespace Tessary {

// Stateless operations on zero-terminated UTF-16 buffers from the C allocator.
class Win32StringMgr {
public:
    using CharType = char16_t;

    // A copy of `units` units of text (null text is taken as empty) with a
    // terminating zero. Throws TSBadAlloc when out of memory.
    static char16_t* Duplicate(const char16_t* text);
    static char16_t* Duplicate(const char16_t* text, std::size_t units);
    static void Free(char16_t*& text) noexcept;

    // Replaces target by the UTF-16 form of zero-terminated UTF-8. Null,
    // empty or invalid UTF-8 gives the empty text.
    static void CreateFromUtf8(char16_t*& target, const char* utf8);

    // `first` followed by `second`, or null when the buffer cannot be allocated.
    static char16_t* Concatenate(const char16_t* first, const char16_t* second) noexcept;

    // Appends one unit. A surrogate unit throws TSLogicError; out of memory
    // throws TSBadAlloc and leaves target as it was.
    static void AppendCharacter(char16_t*& target, char16_t character);

    // The unit at `position`; TSLogicError when position is not below the length.
    static char16_t GetCharacter(const char16_t* text, std::size_t position);

    static std::size_t Length(const char16_t* text) noexcept;
    static int Compare(const char16_t* first, const char16_t* second) noexcept;
};

template <class CharPtr, class StringMgr>
class I8NStringT {
public:
    using CharType = typename StringMgr::CharType;

    I8NStringT() : text_(StringMgr::Duplicate(nullptr)) {}
    // A copy of a zero-terminated wide string; null gives the empty text.
    I8NStringT(const CharType* text) : text_(StringMgr::Duplicate(text)) {}
    I8NStringT(const CharType* text, std::size_t units) : text_(StringMgr::Duplicate(text, units)) {}
    // From UTF-8; text that is not valid UTF-8 gives the empty text.
    explicit I8NStringT(const char* utf8) : text_(nullptr) { StringMgr::CreateFromUtf8(text_, utf8); }
    explicit I8NStringT(const std::string& utf8) : I8NStringT(utf8.c_str()) {}

    I8NStringT(const I8NStringT& other) : text_(StringMgr::Duplicate(other.text_)) {}
    I8NStringT& operator=(const I8NStringT& other) {
        if (this != &other) {
            CharPtr copy = StringMgr::Duplicate(other.text_);
            StringMgr::Free(text_);
            text_ = copy;
        }
        return *this;
    }
    ~I8NStringT() { StringMgr::Free(text_); }

    const CharType* c_str() const noexcept { return text_; }
    std::size_t length() const noexcept { return StringMgr::Length(text_); }
    bool empty() const noexcept { return text_[0] == 0; }

    // This text followed by other. Should the joined buffer not be allocated,
    // the result is this text alone.
    I8NStringT operator+(const I8NStringT& other) const {
        I8NStringT result;
        if (CharPtr joined = StringMgr::Concatenate(text_, other.text_)) {
            StringMgr::Free(result.text_);
            result.text_ = joined;
        } else {
            result = *this;
        }
        return result;
    }

    void AppendCharacter(CharType character) { StringMgr::AppendCharacter(text_, character); }
    CharType GetCharacter(std::size_t position) const { return StringMgr::GetCharacter(text_, position); }

    // Narrow text in the process locale's character set.
    std::string ToString() const;

    friend bool operator==(const I8NStringT& a, const I8NStringT& b) noexcept {
        return StringMgr::Compare(a.text_, b.text_) == 0;
    }
    friend bool operator!=(const I8NStringT& a, const I8NStringT& b) noexcept { return !(a == b); }
    friend bool operator<(const I8NStringT& a, const I8NStringT& b) noexcept {
        return StringMgr::Compare(a.text_, b.text_) < 0;
    }

private:
    CharPtr text_;
};

using I8NString = I8NStringT<char16_t*, Win32StringMgr>;

// Narrow text of `count` units of wide text in the process locale's
// character set. Throws TSException on a null text with a positive count,
// a negative count, or text the locale cannot represent.
std::string wc2string(const char16_t* text, int count);

template <class CharPtr, class StringMgr>
std::string I8NStringT<CharPtr, StringMgr>::ToString() const {
    return wc2string(text_, static_cast<int>(length()));
}

// A wide text holding a copy of the given zero-terminated UTF-16 (null gives
// the empty text).
I8NString WideToI8NString(const char16_t* text);

extern template class I8NStringT<char16_t*, Win32StringMgr>;

}  // namespace Tessary
